#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/program_dir.h"

namespace velka {

std::string ProgramDirectory() {
    if (const char* home = std::getenv("VELKA_HOME"); home != nullptr && *home != '\0') {
        std::string dir = home;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        return dir;
    }
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    return files::DirectoryOf(std::string(path, static_cast<size_t>(length)));
}

std::string InDirectory(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

}  // namespace velka
