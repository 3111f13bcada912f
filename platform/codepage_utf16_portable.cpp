// Windows-1251 to and from UTF-16 through the table of codepage.cpp.
#include "platform/codepage.h"

namespace velka::codepage {

std::u16string ToUtf16(std::string_view cp1251) {
    std::u16string out;
    out.reserve(cp1251.size());
    for (char c : cp1251) out.push_back(ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string FromUtf16(std::u16string_view utf16) {
    // Sized once and written by index: the codec converts every UCS2 message it reads.
    std::string out(utf16.size(), '\0');
    size_t length = 0;
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            ++i;  // a character beyond the BMP: no single byte holds it
            out[length++] = '?';
            continue;
        }
        out[length++] = FromUnicode(unit);
    }
    out.resize(length);
    return out;
}

}  // namespace velka::codepage
