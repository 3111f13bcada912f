#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/program_dir.h"

namespace velka {
namespace {

// The system's folders of programs. Root may write them, but a program installed
// there keeps each user's files in that user's folder, root's included.
constexpr std::array<std::string_view, 5> kSystemProgramFolders = {
    "/usr/bin", "/bin", "/usr/local/bin", "/usr/games", "/usr/sbin"};

}  // namespace

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    return files::DirectoryOf(std::string(path, static_cast<size_t>(length)));
}

bool UsableProgramDirectory(const std::string& directory) {
    for (const std::string_view system : kSystemProgramFolders) {
        if (directory == system) return false;
    }
    // The effective identity decides, as it does when the files are created.
    return ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string UserDataDirectory() {
    // XDG: a relative XDG_DATA_HOME is invalid and is ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return std::string(data) + "/velka-sms";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/velka-sms";
    }
    return "";
}

bool MakeDataDirectory(const std::string& directory) {
    if (directory.empty()) return false;
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    // Missing folders above it (~/.local/share on a fresh account) are made 0700
    // too, as the XDG rules ask.
    const std::string parent = files::DirectoryOf(directory);
    if (!parent.empty() && parent != directory && ::stat(parent.c_str(), &info) != 0 &&
        !MakeDataDirectory(parent)) {
        return false;
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string InDirectory(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

}  // namespace velka
