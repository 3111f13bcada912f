// The parts of the file view that do not depend on how the system holds the
// bytes; Open() and Release() are in the per-system files.
#include "platform/mapped_file.h"

#include <utility>

namespace velka {

MappedFile::~MappedFile() {
    Release();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

}  // namespace velka
