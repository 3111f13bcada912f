#include <windows.h>

#include <array>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/program_dir.h"

namespace velka {

std::string ProgramDirectory() {
    if (const char* home = std::getenv("VELKA_HOME"); home != nullptr && *home != '\0') {
        std::string dir = home;
        while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
        return dir;
    }
    std::array<char, MAX_PATH + 1> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".";
    return files::DirectoryOf(std::string(path.data(), length));
}

std::string InDirectory(const std::string& directory, const std::string& name) {
    return directory + "\\" + name;
}

}  // namespace velka
