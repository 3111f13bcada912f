// The file view on Windows is a private copy read at open: Windows refuses to
// replace a file while a view of it is mapped, and the store files must stay
// replaceable (a save renames a new file over the old) while a view is open.
#include <algorithm>
#include <memory>

#include "platform/files.h"
#include "platform/mapped_file.h"

namespace velka {

Result<MappedFile> MappedFile::Open(const std::string& path) {
    const auto contents = files::ReadAll(path);
    if (!contents) return contents.error();
    if (contents->empty()) return MappedFile();
    auto copy = std::make_unique<char[]>(contents->size());
    std::copy(contents->begin(), contents->end(), copy.get());
    return MappedFile(copy.release(), contents->size());
}

void MappedFile::Release() {
    delete[] data_;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace velka
