#include <windows.h>

#include <array>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/program_dir.h"

namespace velka {

std::string ExecutableDirectory() {
    std::array<char, MAX_PATH + 1> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".";
    return files::DirectoryOf(std::string(path.data(), length));
}

bool UsableProgramDirectory(const std::string& directory) {
    // The folder's access list answers for groups, inheritance and elevation at
    // once only when a file is really created: one that is gone when closed.
    const std::string probe = InDirectory(directory, "velka-write-probe.tmp");
    const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::string UserDataDirectory() {
    // The local, not the roaming, application data: the stores, the queue and the
    // lock that names the process driving the modem belong to this machine and its
    // modem, and a roaming profile would carry them to others at every logon.
    if (const char* local = std::getenv("LOCALAPPDATA"); local != nullptr && *local != '\0') {
        return InDirectory(local, "Velka SMS");
    }
    return "";
}

bool MakeDataDirectory(const std::string& directory) {
    if (directory.empty()) return false;
    // The folder inherits the profile's protection, which is the user's own.
    if (!CreateDirectoryA(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string InDirectory(const std::string& directory, const std::string& name) {
    return directory + "\\" + name;
}

}  // namespace velka
