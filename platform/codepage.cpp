#include "platform/codepage.h"

#include <array>
#include <cstdint>

namespace velka::codepage {
namespace {

// Windows-1251 bytes 0x80..0xFF to Unicode, as Microsoft's table for code page 1251
// gives them (bestfit1251.txt); 0x98 is unassigned and maps to U+0098.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// Lower-case bytes of the high half whose capitals are elsewhere in the high half
// (the Serbian, Macedonian, Ukrainian and Belarusian letters and Ё).
struct CasePair {
    unsigned char lower;
    unsigned char upper;
};
// Five pairs a line, as a table reads best.
// clang-format off
constexpr std::array<CasePair, 15> kHighCasePairs = {{
    {0x83, 0x81}, {0x90, 0x80}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
    {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xB3, 0xB2}, {0xB4, 0xA5},
    {0xB8, 0xA8}, {0xBA, 0xAA}, {0xBC, 0xA3}, {0xBE, 0xBD}, {0xBF, 0xAF},
}};
// clang-format on

constexpr std::array<unsigned char, 256> MakeUpperTable() {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
    for (int b = 'a'; b <= 'z'; ++b) table[b] = static_cast<unsigned char>(b - 'a' + 'A');
    for (int b = 0xE0; b <= 0xFF; ++b) table[b] = static_cast<unsigned char>(b - 0x20);
    for (const CasePair& pair : kHighCasePairs) table[pair.lower] = pair.upper;
    return table;
}
constexpr std::array<unsigned char, 256> kUpper = MakeUpperTable();

void AppendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out.push_back(static_cast<char>(ch));
    } else if (ch < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (ch >> 6)));
        out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    } else if (ch < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (ch >> 12)));
        out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (ch >> 18)));
        out.push_back(static_cast<char>(0x80 | ((ch >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    }
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Decodes one UTF-8 sequence at text[pos], advancing pos past it. Returns
// U+FFFD (which Windows-1251 lacks, so it becomes '?') for a malformed sequence,
// consuming only its first byte so that what follows is still read.
char32_t NextUtf8(std::string_view text, size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) return lead;
    int extra = 0;
    char32_t ch = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, ch = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, ch = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, ch = lead & 0x07, minimum = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (pos + extra > text.size()) return 0xFFFD;
    for (int i = 0; i < extra; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(text[pos + i]))) return 0xFFFD;
        ch = (ch << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    if (ch < minimum || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return 0xFFFD;
    pos += extra;
    return ch;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        // A malformed sequence consumes one byte; a real U+FFFD consumes three.
        if (NextUtf8(text, pos) == 0xFFFD && pos - start == 1) return false;
    }
    return true;
}

char16_t ToUnicode(unsigned char byte) {
    return byte < 0x80 ? static_cast<char16_t>(byte) : kHighHalf[byte - 0x80];
}

char FromUnicodeSearched(char32_t ch) {
    for (size_t i = 0; i < kHighHalf.size(); ++i) {
        if (kHighHalf[i] == ch) return static_cast<char>(0x80 + i);
    }
    return '?';
}

std::string ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) AppendUtf8(out, ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) out.push_back(FromUnicode(NextUtf8(utf8, pos)));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 2);
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t ch = utf16[i];
        const bool high = ch >= 0xD800 && ch <= 0xDBFF;
        if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            ch = 0x10000 + ((ch - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (ch >= 0xD800 && ch <= 0xDFFF) {
            ch = 0xFFFD;  // half a pair is no character
        }
        AppendUtf8(out, ch);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t ch = NextUtf8(utf8, pos);
        if (ch < 0x10000) {
            out.push_back(static_cast<char16_t>(ch));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF)));
        }
    }
    return out;
}

unsigned char UpperByte(unsigned char byte) {
    return kUpper[byte];
}

std::string Upper(std::string_view cp1251) {
    std::string out(cp1251);
    for (char& c : out) c = static_cast<char>(kUpper[static_cast<unsigned char>(c)]);
    return out;
}

bool EqualIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (kUpper[static_cast<unsigned char>(a[i])] != kUpper[static_cast<unsigned char>(b[i])])
            return false;
    }
    return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace velka::codepage
