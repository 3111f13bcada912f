#include "platform/win32_error.h"

#include <windows.h>

#include <array>

namespace velka::win32 {

std::string ErrorText(unsigned long code) {
    std::array<char, 256> text{};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       text.data(), static_cast<DWORD>(text.size() - 1), nullptr);
    std::string out;
    for (DWORD i = 0; i < length; ++i) {
        const char c = static_cast<unsigned char>(text[i]) < 32 ? ' ' : text[i];
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace velka::win32
