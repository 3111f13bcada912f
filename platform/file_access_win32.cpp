// Files on Windows inherit the access list of the folder they are made in, which
// for a user's own folders already keeps other users out; nothing is changed here.
#include <windows.h>

#include <string>

#include "platform/file_access.h"
#include "platform/win32_error.h"

namespace velka::files {

Status CreatePrivate(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS) return {};
        return Error{"Cannot create \"" + path + "\": " + win32::ErrorText(code),
                     static_cast<int>(code)};
    }
    CloseHandle(file);
    return {};
}

AccessReport MakePrivate(const std::string&, std::span<const std::string_view>) {
    return {};
}

}  // namespace velka::files
