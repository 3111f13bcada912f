#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/file_access.h"
#include "platform/posix_error.h"

namespace velka::files {
namespace {

constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;
constexpr mode_t kExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

bool IsOurs(std::string_view file, std::span<const std::string_view> names) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
        if (name.starts_with("*."))
            return file.size() > name.size() && file.ends_with(name.substr(1));
        if (name.empty() || !file.starts_with(name)) return false;
        return file.size() == name.size() || file[name.size()] == '.' || file[name.size()] == '-';
    });
}

// Closes the directory stream when the scope ends.
class DirectoryStream {
  public:
    explicit DirectoryStream(DIR* stream) : stream_(stream) {}
    ~DirectoryStream() {
        if (stream_ != nullptr) ::closedir(stream_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* get() const { return stream_; }

  private:
    DIR* stream_;
};

}  // namespace

Status CreatePrivate(const std::string& path) {
    // O_EXCL: of two processes starting at once only one creates the file, and an
    // existing file, whoever made it, is never truncated or changed.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        if (errno == EEXIST) return {};
        return PosixFileError("Cannot create", path);
    }
    ::close(fd);
    return {};
}

AccessReport MakePrivate(const std::string& directory, std::span<const std::string_view> names) {
    AccessReport report;
    DirectoryStream stream(::opendir(directory.empty() ? "." : directory.c_str()));
    if (stream.get() == nullptr) return report;
    const int dir_fd = ::dirfd(stream.get());
    while (const dirent* entry = ::readdir(stream.get())) {
        const std::string name = entry->d_name;
        if (!IsOurs(name, names)) continue;
        struct stat info {};
        if (::fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(info.st_mode) || (info.st_mode & kExecuteBits) != 0) continue;
        if ((info.st_mode & kOthersBits) == 0) continue;
        std::string path = directory;
        if (!path.empty()) path += '/';
        path += name;
        // Not opened to fchmod it: closing a descriptor of a SQLite file would drop
        // the locks SQLite holds on it in this process. NOFOLLOW keeps a link put
        // in the file's place since the look from changing what it points at.
        const mode_t mode = info.st_mode & S_IRWXU;
        int changed = ::fchmodat(dir_fd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
        // A C library that cannot change a mode without following links (glibc
        // before 2.32) refuses; the look above saw a regular file, so follow.
        if (changed != 0 && (errno == ENOTSUP || errno == EOPNOTSUPP))
            changed = ::fchmodat(dir_fd, name.c_str(), mode, 0);
        if (changed == 0) {
            report.tightened.push_back(path);
        } else {
            report.refused.push_back(path);
        }
    }
    std::sort(report.tightened.begin(), report.tightened.end());
    std::sort(report.refused.begin(), report.refused.end());
    return report;
}

}  // namespace velka::files
