// Windows-1251 to and from UTF-16 through the system's conversion of code page 1251.
// No "best fit": a character the code page lacks becomes '?', never a look-alike.
#include <windows.h>

#include "platform/codepage.h"

namespace velka::codepage {
namespace {

constexpr UINT kCodePage = 1251;

int Length(std::size_t size) {
    return static_cast<int>(size);
}

// A character beyond the BMP is one character, so one '?': its surrogate pair
// becomes U+FFFD (which the code page lacks) before the system sees it, as not
// every implementation of the conversion counts the pair as one.
std::u16string PairsAsOneCharacter(std::u16string_view utf16) {
    std::u16string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const bool pair = utf16[i] >= 0xD800 && utf16[i] <= 0xDBFF && i + 1 < utf16.size() &&
                          utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF;
        out.push_back(pair ? u'\uFFFD' : utf16[i]);
        if (pair) ++i;
    }
    return out;
}

}  // namespace

std::u16string ToUtf16(std::string_view cp1251) {
    if (cp1251.empty()) return {};
    std::u16string out(cp1251.size(), u'\0');
    const int length =
        MultiByteToWideChar(kCodePage, 0, cp1251.data(), Length(cp1251.size()),
                            reinterpret_cast<wchar_t*>(out.data()), Length(out.size()));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string FromUtf16(std::u16string_view text) {
    if (text.empty()) return {};
    const std::u16string utf16 = PairsAsOneCharacter(text);
    std::string out(utf16.size(), '\0');
    BOOL lacked = FALSE;
    const int length = WideCharToMultiByte(
        kCodePage, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(utf16.data()),
        Length(utf16.size()), out.data(), Length(out.size()), "?", &lacked);
    out.resize(static_cast<std::size_t>(length));
    return out;
}

}  // namespace velka::codepage
