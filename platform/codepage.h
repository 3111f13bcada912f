// Windows-1251, the single-byte code page of every text inside the core, and its
// conversions to the Unicode forms used at the edges (Qt, SQLite, the terminal).
// All functions are pure and may be called from any thread.
#pragma once

#include <string>
#include <string_view>

namespace velka::codepage {

// The Unicode character (BMP) of a Windows-1251 byte. Every byte maps somewhere:
// 0x98, which the code page leaves unassigned, maps to U+0098 as Windows does.
char16_t ToUnicode(unsigned char byte);

// FromUnicode for a character outside ASCII and the Russian alphabet: a search of
// the upper half of the table.
char FromUnicodeSearched(char32_t ch);

// The Windows-1251 byte of a Unicode character, or '?' when the code page lacks it.
// No "best fit": U+010C (C with caron) gives '?', not 'C'. Inline: the decoder of
// every UCS2 message calls it per character.
inline char FromUnicode(char32_t ch) {
    if (ch < 0x80) return static_cast<char>(ch);
    // The Russian alphabet is one run in both tables: the common case needs no search.
    if (ch >= 0x0410 && ch <= 0x044F) return static_cast<char>(0xC0 + (ch - 0x0410));
    return FromUnicodeSearched(ch);
}

std::u16string ToUtf16(std::string_view cp1251);
// A surrogate pair is one character and gives one '?'; a lone surrogate gives '?'.
std::string FromUtf16(std::u16string_view utf16);

std::string ToUtf8(std::string_view cp1251);
// Malformed UTF-8 gives one '?' per bad sequence; nothing is dropped silently.
std::string FromUtf8(std::string_view utf8);

// UTF-16 and UTF-8, every character kept: what the store keeps beside a record
// whose Windows-1251 text lost characters, on its way to a terminal or a JSON
// text. A lone surrogate, or a malformed UTF-8 sequence, gives U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
std::u16string Utf8ToUtf16(std::string_view utf8);

// True when the whole text is well-formed UTF-8 (pure ASCII is). A file in
// Windows-1251 with any Russian letter almost never is, which tells the two apart.
bool IsValidUtf8(std::string_view text);

// Upper case through the Windows-1251 table: Latin, Russian (with Ё/ё) and the
// Ukrainian and Belarusian letters. Other bytes stay as they are.
unsigned char UpperByte(unsigned char byte);
std::string Upper(std::string_view cp1251);
// True when the two texts are equal ignoring letter case as Upper() sees it.
bool EqualIgnoreCase(std::string_view a, std::string_view b);
// True when `text` begins with `prefix`, ignoring letter case as Upper() sees it.
// A text shorter than the prefix never does; every text begins with "".
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

}  // namespace velka::codepage
