#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/posix_error.h"

namespace velka::files {
namespace {

// Messages, the queue and the settings are the user's alone: read and written by
// the owner only. The umask can only take more away.
constexpr mode_t kPrivate = S_IRUSR | S_IWUSR;

// Closes the descriptor when the scope ends, whatever way it ends.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the result; close can report a delayed write error.
    [[nodiscard]] bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

[[nodiscard]] bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// A rename is durable only once the directory entry itself reaches the disk.
void FlushDirectory(const std::string& path) {
    const std::string dir = DirectoryOf(path);
    FileDescriptor fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

}  // namespace

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

Result<std::uint64_t> Size(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return PosixFileError("Cannot examine", path);
    return static_cast<std::uint64_t>(info.st_size);
}

FileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(info.st_ino)};
}

Result<std::string> ReadAll(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return PosixFileError("Cannot open", path);
    std::string contents;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return PosixFileError("Cannot read", path);
        }
        if (got == 0) break;
        contents.append(chunk, static_cast<size_t>(got));
    }
    return contents;
}

Status SaveDurably(const std::string& path, std::string_view contents) {
    const std::string temporary = path + ".tmp";
    // A temporary left by a crash goes first: reopened, it would keep the mode and
    // owner it was made with. A new one made here is this user's and private.
    ::unlink(temporary.c_str());
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate));
    if (!fd.valid()) return PosixFileError("Cannot create", temporary);
    if (!WriteAll(fd.get(), contents) || ::fsync(fd.get()) != 0 || !fd.Close()) {
        Error error = PosixFileError("Cannot write", temporary);
        ::unlink(temporary.c_str());
        return error;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        Error error = PosixFileError("Cannot replace", path);
        ::unlink(temporary.c_str());
        return error;
    }
    FlushDirectory(path);
    return {};
}

Status AppendDurably(const std::string& path, std::string_view data, std::uint64_t unit) {
    const bool existed = Exists(path);
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kPrivate));
    if (!fd.valid()) return PosixFileError("Cannot open", path);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return PosixFileError("Cannot examine", path);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::uint64_t whole = unit > 1 ? size - size % unit : size;
    if (whole != size && ::ftruncate(fd.get(), static_cast<off_t>(whole)) != 0)
        return PosixFileError("Cannot cut the partial tail of", path);
    if (::lseek(fd.get(), static_cast<off_t>(whole), SEEK_SET) < 0)
        return PosixFileError("Cannot seek in", path);
    if (!WriteAll(fd.get(), data) || ::fsync(fd.get()) != 0) {
        Error error = PosixFileError("Cannot write", path);
        // Leave no torn record behind: take the file back to its whole units.
        if (::ftruncate(fd.get(), static_cast<off_t>(whole)) == 0) ::fsync(fd.get());
        return error;
    }
    if (!fd.Close()) return PosixFileError("Cannot write", path);
    if (!existed) FlushDirectory(path);
    return {};
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace velka::files
