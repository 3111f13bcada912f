#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/lock_file.h"
#include "platform/posix_error.h"

namespace velka {

struct LockFile::Handle {
    explicit Handle(int descriptor) : fd(descriptor) {}
    ~Handle() { ::close(fd); }  // closing the last descriptor releases the flock
    int fd;
};

namespace {

Result<int> OpenLockFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return PosixFileError("Cannot open the lock file", path);
    return fd;
}

int Flock(int fd, int operation) {
    int result = 0;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

LockHolder ReadHolder(int fd) {
    char bytes[PATH_MAX + 32];
    const ssize_t got = ::pread(fd, bytes, sizeof bytes, 0);
    if (got <= 0) return {};
    return ParseHolder(std::string_view(bytes, static_cast<std::size_t>(got)));
}

// The holder's name goes in after the lock is taken, so a reader may see an empty
// file for a moment; it then names no one rather than the wrong process.
void WriteHolder(int fd) {
    const std::string text = HolderText(ThisProcess());
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
    }
}

}  // namespace

LockFile::LockFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
LockFile::LockFile(LockFile&&) noexcept = default;
LockFile& LockFile::operator=(LockFile&&) noexcept = default;
LockFile::~LockFile() = default;

Result<LockFile> LockFile::Acquire(const std::string& path) {
    const auto fd = OpenLockFile(path);
    if (!fd) return fd.error();
    auto handle = std::make_unique<Handle>(*fd);
    if (Flock(*fd, LOCK_EX) != 0) return PosixFileError("Cannot lock", path);
    return LockFile(std::move(handle));
}

Result<std::variant<LockFile, LockHolder>> LockFile::TryAcquireNamed(const std::string& path) {
    const auto fd = OpenLockFile(path);
    if (!fd) return fd.error();
    auto handle = std::make_unique<Handle>(*fd);
    if (Flock(*fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return std::variant<LockFile, LockHolder>(ReadHolder(*fd));
        return PosixFileError("Cannot lock", path);
    }
    WriteHolder(*fd);
    return std::variant<LockFile, LockHolder>(LockFile(std::move(handle)));
}

LockHolder ThisProcess() {
    LockHolder me;
    me.pid = static_cast<std::uint32_t>(::getpid());
    char path[PATH_MAX];
    const ssize_t got = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (got > 0) {
        const std::string exe(path, static_cast<std::size_t>(got));
        me.program = exe.substr(exe.find_last_of('/') + 1);
    }
    return me;
}

}  // namespace velka
