#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/mapped_file.h"
#include "platform/posix_error.h"

namespace velka {

Result<MappedFile> MappedFile::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return PosixFileError("Cannot open", path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        Error error = PosixFileError("Cannot examine", path);
        ::close(fd);
        return error;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size == 0) {
        ::close(fd);
        return MappedFile();
    }
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    // The mapping keeps the file's pages alive; the descriptor is no longer needed.
    Error error = data == MAP_FAILED ? PosixFileError("Cannot map", path) : Error{};
    ::close(fd);
    if (data == MAP_FAILED) return error;
    return MappedFile(static_cast<const char*>(data), size);
}

void MappedFile::Release() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace velka
