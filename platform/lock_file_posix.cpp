#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/lock_file.h"
#include "platform/posix_error.h"

namespace velka {

// Closing the last descriptor of the open file releases the flock.
LockFile::Handle::~Handle() {
    ::close(static_cast<int>(native));
}

Result<std::unique_ptr<LockFile::Handle>> LockFile::Open(const std::string& path) {
    // Private like the files it guards: it names the process holding them.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return PosixFileError("Cannot open the lock file", path);
    return std::make_unique<Handle>(fd);
}

Result<bool> LockFile::Lock(Handle& handle, bool wait, const std::string& path) {
    const int operation = wait ? LOCK_EX : LOCK_EX | LOCK_NB;
    int result = 0;
    do {
        result = ::flock(static_cast<int>(handle.native), operation);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno == EWOULDBLOCK) return false;
    return PosixFileError("Cannot lock", path);
}

LockHolder LockFile::ReadHolder(Handle& handle) {
    char bytes[PATH_MAX + 32];
    const ssize_t got = ::pread(static_cast<int>(handle.native), bytes, sizeof bytes, 0);
    if (got <= 0) return {};
    return ParseHolder(std::string_view(bytes, static_cast<std::size_t>(got)));
}

void LockFile::WriteHolder(Handle& handle) {
    const std::string text = HolderText(ThisProcess());
    if (::ftruncate(static_cast<int>(handle.native), 0) == 0) {
        [[maybe_unused]] const ssize_t written =
            ::pwrite(static_cast<int>(handle.native), text.data(), text.size(), 0);
    }
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
