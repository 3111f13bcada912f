// Profile strings on Windows: the system's own profile functions. They read and
// write the file in the ANSI code page, which is Windows-1251 on the systems the
// program is made for, so the core's texts pass through unchanged.
#include <windows.h>

#include <vector>

#include "platform/profile.h"
#include "platform/profile_names.h"
#include "platform/win32_error.h"

namespace velka::profile {
namespace {

Error LastWriteError(const std::string& file) {
    const DWORD code = GetLastError();
    return Error{"Unable to write to " + file + " (" + win32::ErrorText(code) + ").",
                 static_cast<int>(code)};
}

}  // namespace

std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view default_value) {
    const std::string section_text(section);
    const std::string key_text(key);
    const std::string default_text(default_value);
    std::vector<char> buffer(256);
    for (;;) {
        const DWORD length = GetPrivateProfileStringA(
            section_text.c_str(), key_text.c_str(), default_text.c_str(), buffer.data(),
            static_cast<DWORD>(buffer.size()), file.c_str());
        // A value that filled the buffer may have been cut: read it again, larger.
        if (length + 1 < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 4);
    }
}

Status WriteString(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view value) {
    if (Status prepared = PrepareWrite(file, section, key, value); !prepared) return prepared;
    if (!WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                    std::string(value).c_str(), file.c_str()))
        return LastWriteError(file);
    return {};
}

// A null key removes the whole section; a missing section is no failure.
Status DeleteSection(const std::string& file, std::string_view section) {
    if (Status prepared = PrepareDelete(file, section); !prepared) return prepared;
    if (!WritePrivateProfileStringA(std::string(section).c_str(), nullptr, nullptr, file.c_str()))
        return LastWriteError(file);
    return {};
}

}  // namespace velka::profile
