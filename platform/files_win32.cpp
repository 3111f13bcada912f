// Durable files on Windows: ANSI paths, write-through renames.
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/win32_error.h"

namespace velka::files {
namespace {

// A missing folder on the way is a missing file too (and both are ENOENT's value, 2).
DWORD LastError() {
    const DWORD code = GetLastError();
    return code == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : code;
}

Error SystemError(const std::string& what, const std::string& path) {
    const DWORD code = LastError();
    return Error{what + " \"" + path + "\": " + win32::ErrorText(code), static_cast<int>(code)};
}

// Closes the handle when the scope ends, whatever way it ends.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    [[nodiscard]] bool Close() {
        return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
    }

  private:
    HANDLE handle_;
};

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

[[nodiscard]] bool WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data(), chunk, &written, nullptr)) return false;
        data.remove_prefix(written);
    }
    return true;
}

[[nodiscard]] bool SetSize(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result<std::uint64_t> Size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info))
        return SystemError("Cannot examine", path);
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

FileStamp StampOf(const std::string& path) {
    // A handle that shares everything, so a look never stands in a writer's way.
    const HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return {};
    const auto join = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    return {join(info.nFileSizeHigh, info.nFileSizeLow),
            static_cast<std::int64_t>(
                join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)),
            join(info.nFileIndexHigh, info.nFileIndexLow)};
}

Result<std::string> ReadAll(const std::string& path) {
    FileHandle file(OpenFile(path, GENERIC_READ, OPEN_EXISTING));
    if (!file.valid()) return SystemError("Cannot open", path);
    std::string contents;
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr))
            return SystemError("Cannot read", path);
        if (got == 0) break;
        contents.append(chunk, got);
    }
    return contents;
}

Status SaveDurably(const std::string& path, std::string_view contents) {
    const std::string temporary = path + ".tmp";
    FileHandle file(OpenFile(temporary, GENERIC_WRITE, CREATE_ALWAYS));
    if (!file.valid()) return SystemError("Cannot create", temporary);
    if (!WriteAll(file.get(), contents) || !FlushFileBuffers(file.get()) || !file.Close()) {
        Error error = SystemError("Cannot write", temporary);
        DeleteFileA(temporary.c_str());
        return error;
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Error error = SystemError("Cannot replace", path);
        DeleteFileA(temporary.c_str());
        return error;
    }
    return {};
}

Status AppendDurably(const std::string& path, std::string_view data, std::uint64_t unit) {
    FileHandle file(OpenFile(path, GENERIC_WRITE, OPEN_ALWAYS));
    if (!file.valid()) return SystemError("Cannot open", path);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return SystemError("Cannot examine", path);
    const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
    const std::uint64_t whole = unit > 1 ? bytes - bytes % unit : bytes;
    if (!SetSize(file.get(), whole)) return SystemError("Cannot cut the partial tail of", path);
    if (!WriteAll(file.get(), data) || !FlushFileBuffers(file.get())) {
        Error error = SystemError("Cannot write", path);
        // Leave no torn record behind: take the file back to its whole units.
        if (SetSize(file.get(), whole)) FlushFileBuffers(file.get());
        return error;
    }
    if (!file.Close()) return SystemError("Cannot write", path);
    return {};
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return "";
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace velka::files
