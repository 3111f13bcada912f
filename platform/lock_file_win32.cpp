// Locks on Windows: LockFileEx on one byte far past the file's contents. Windows
// byte-range locks are mandatory, so the lock sits where no one reads, and the
// holder's name at the start stays readable to the process that is refused.
#include <windows.h>

#include <string>

#include "platform/lock_file.h"
#include "platform/win32_error.h"

namespace velka {

struct LockFile::Handle {
    explicit Handle(HANDLE opened) : file(opened) {}
    ~Handle() { CloseHandle(file); }  // closing the handle releases its locks
    HANDLE file;
};

namespace {

constexpr DWORD kLockedOffsetHigh = 1;  // 4 GiB in: never part of the holder's name

Error SystemError(const std::string& what, const std::string& path) {
    const DWORD code = GetLastError();
    return Error{what + " \"" + path + "\": " + win32::ErrorText(code), static_cast<int>(code)};
}

Result<HANDLE> OpenLockFile(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SystemError("Cannot open the lock file", path);
    return file;
}

bool Lock(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockedOffsetHigh;
    return LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

LockHolder ReadHolder(HANDLE file) {
    char bytes[MAX_PATH + 32];
    DWORD got = 0;
    OVERLAPPED at{};
    if (!ReadFile(file, bytes, sizeof bytes, &got, &at) || got == 0) return {};
    return ParseHolder(std::string_view(bytes, got));
}

void WriteHolder(HANDLE file) {
    const std::string text = HolderText(ThisProcess());
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

LockFile::LockFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
LockFile::LockFile(LockFile&&) noexcept = default;
LockFile& LockFile::operator=(LockFile&&) noexcept = default;
LockFile::~LockFile() = default;

Result<LockFile> LockFile::Acquire(const std::string& path) {
    const auto file = OpenLockFile(path);
    if (!file) return file.error();
    auto handle = std::make_unique<Handle>(*file);
    if (!Lock(*file, LOCKFILE_EXCLUSIVE_LOCK)) return SystemError("Cannot lock", path);
    return LockFile(std::move(handle));
}

Result<std::variant<LockFile, LockHolder>> LockFile::TryAcquireNamed(const std::string& path) {
    const auto file = OpenLockFile(path);
    if (!file) return file.error();
    auto handle = std::make_unique<Handle>(*file);
    if (!Lock(*file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
        if (GetLastError() == ERROR_LOCK_VIOLATION)
            return std::variant<LockFile, LockHolder>(ReadHolder(*file));
        return SystemError("Cannot lock", path);
    }
    WriteHolder(*file);
    return std::variant<LockFile, LockHolder>(LockFile(std::move(handle)));
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
