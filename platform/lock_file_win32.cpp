// Locks on Windows: LockFileEx on one byte far past the file's contents. Windows
// byte-range locks are mandatory, so the lock sits where no one reads, and the
// holder's name at the start stays readable to the process that is refused.
#include <windows.h>

#include <string>

#include "platform/lock_file.h"
#include "platform/win32_error.h"

namespace velka {

namespace {

constexpr DWORD kLockedOffsetHigh = 1;  // 4 GiB in: never part of the holder's name

Error SystemError(const std::string& what, const std::string& path) {
    const DWORD code = GetLastError();
    return Error{what + " \"" + path + "\": " + win32::ErrorText(code), static_cast<int>(code)};
}

}  // namespace

// Closing the handle releases its locks.
LockFile::Handle::~Handle() {
    CloseHandle(reinterpret_cast<HANDLE>(native));
}

Result<std::unique_ptr<LockFile::Handle>> LockFile::Open(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SystemError("Cannot open the lock file", path);
    return std::make_unique<Handle>(reinterpret_cast<std::intptr_t>(file));
}

Result<bool> LockFile::Lock(Handle& handle, bool wait, const std::string& path) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockedOffsetHigh;
    const DWORD flags =
        wait ? LOCKFILE_EXCLUSIVE_LOCK : LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
    if (LockFileEx(reinterpret_cast<HANDLE>(handle.native), flags, 0, 1, 0, &at)) return true;
    if (GetLastError() == ERROR_LOCK_VIOLATION) return false;
    return SystemError("Cannot lock", path);
}

LockHolder LockFile::ReadHolder(Handle& handle) {
    char bytes[MAX_PATH + 32];
    DWORD got = 0;
    OVERLAPPED at{};
    if (!ReadFile(reinterpret_cast<HANDLE>(handle.native), bytes, sizeof bytes, &got, &at) ||
        got == 0)
        return {};
    return ParseHolder(std::string_view(bytes, got));
}

void LockFile::WriteHolder(Handle& handle) {
    const std::string text = HolderText(ThisProcess());
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(handle.native), start, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(reinterpret_cast<HANDLE>(handle.native)))
        return;
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(handle.native), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

LockHolder ThisProcess() {
    LockHolder me;
    me.pid = GetCurrentProcessId();
    char path[MAX_PATH];
    const DWORD got = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (got > 0 && got < MAX_PATH) {
        const std::string exe(path, got);
        me.program = exe.substr(exe.find_last_of("\\/") + 1);
    }
    return me;
}

}  // namespace velka
