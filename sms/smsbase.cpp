#include "sms/smsbase.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/codepage.h"
#include "platform/datetime.h"

namespace velka {
namespace {

// ---- Tables ----

// The GSM 7-bit default alphabet (3GPP TS 23.038, 6.2.1): the character of each
// code. The escape 0x1B stands for the extension table; alone it shows as a space.
constexpr std::array<char16_t, 128> kGsmToUnicode = {
    u'@',      u'\u00A3', u'$',      u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',
    u'\u00F2', u'\u00C7', u'\n',     u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5',
    u'\u0394', u'_',      u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',
    u'\u03A3', u'\u0398', u'\u039E', u'\u00A0', u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',
    u' ',      u'!',      u'"',      u'#',      u'\u00A4', u'%',      u'&',      u'\'',
    u'(',      u')',      u'*',      u'+',      u',',      u'-',      u'.',      u'/',
    u'0',      u'1',      u'2',      u'3',      u'4',      u'5',      u'6',      u'7',
    u'8',      u'9',      u':',      u';',      u'<',      u'=',      u'>',      u'?',
    u'\u00A1', u'A',      u'B',      u'C',      u'D',      u'E',      u'F',      u'G',
    u'H',      u'I',      u'J',      u'K',      u'L',      u'M',      u'N',      u'O',
    u'P',      u'Q',      u'R',      u'S',      u'T',      u'U',      u'V',      u'W',
    u'X',      u'Y',      u'Z',      u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',
    u'\u00BF', u'a',      u'b',      u'c',      u'd',      u'e',      u'f',      u'g',
    u'h',      u'i',      u'j',      u'k',      u'l',      u'm',      u'n',      u'o',
    u'p',      u'q',      u'r',      u's',      u't',      u'u',      u'v',      u'w',
    u'x',      u'y',      u'z',      u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',
};

// The extension table of the default alphabet (3GPP TS 23.038, 6.2.1.1): the codes
// that follow the escape 0x1B, with their characters.
struct CodeCharacter {
    uint8_t code;
    char16_t character;
};
constexpr std::array<CodeCharacter, 10> kExtension = {{
    {0x0A, u'\f'},
    {0x14, u'^'},
    {0x28, u'{'},
    {0x29, u'}'},
    {0x2F, u'\\'},
    {0x3C, u'['},
    {0x3D, u'~'},
    {0x3E, u']'},
    {0x40, u'|'},
    {0x65, u'\u20AC'},
}};

constexpr uint8_t kEscape = 0x1B;
constexpr uint8_t kQuestionMark = 0x3F;

// The character after an escape: the extension table's, or, for a code the table
// does not hold, the main table's, as the alphabet tells a receiver to show it.
constexpr std::array<char16_t, 128> MakeExtensionToUnicode() {
    std::array<char16_t, 128> table = kGsmToUnicode;
    for (const CodeCharacter& pair : kExtension) table[pair.code] = pair.character;
    return table;
}
constexpr std::array<char16_t, 128> kExtensionToUnicode = MakeExtensionToUnicode();

// The tables again as the Windows-1251 bytes of their characters, "?" for those the
// code page lacks (flagged in the second half, so a decoder knows the text lost them).
struct ByteTable {
    std::array<uint8_t, 128> bytes{};
    std::array<bool, 128> lost{};
};
ByteTable MakeByteTable(const std::array<char16_t, 128>& characters) {
    ByteTable table;
    for (std::size_t code = 0; code < characters.size(); ++code) {
        const char byte = codepage::FromUnicode(characters[code]);
        table.bytes[code] = static_cast<uint8_t>(byte);
        table.lost[code] = byte == '?' && characters[code] != u'?';
    }
    return table;
}
const ByteTable kGsmToByte = MakeByteTable(kGsmToUnicode);
const ByteTable kExtensionToByte = MakeByteTable(kExtensionToUnicode);

// Sending: the GSM code of each character of the Latin-1 range (the escape bit
// 0x80 set for the extension table's), or kNoCode. The few characters beyond it
// (the Greek capitals and the euro) are looked up in the tables themselves.
constexpr uint16_t kNoCode = 0xFFFF;
constexpr uint16_t kExtensionBit = 0x80;
constexpr std::array<uint16_t, 256> MakeLatinToGsm() {
    std::array<uint16_t, 256> table{};
    table.fill(kNoCode);
    for (const CodeCharacter& pair : kExtension) {
        if (pair.character < 0x100) table[pair.character] = pair.code | kExtensionBit;
    }
    for (int code = 127; code >= 0; --code) {  // downward, so the lowest code wins
        if (code != kEscape && kGsmToUnicode[code] < 0x100)
            table[kGsmToUnicode[code]] = static_cast<uint16_t>(code);
    }
    return table;
}
constexpr std::array<uint16_t, 256> kLatinToGsm = MakeLatinToGsm();

// The code of a character beyond the Latin-1 range (kLatinToGsm has those).
uint16_t GsmCodeBeyondLatin(char16_t character) {
    for (int code = 0; code < 128; ++code) {
        if (code != kEscape && kGsmToUnicode[code] == character) return static_cast<uint16_t>(code);
    }
    for (const CodeCharacter& pair : kExtension) {
        if (pair.character == character) return pair.code | kExtensionBit;
    }
    return kNoCode;
}

// The code of a character, kExtensionBit set for one sent after an escape; kNoCode
// for one the alphabet lacks.
inline uint16_t GsmCodeOf(char16_t character) {
    return character < 0x100 ? kLatinToGsm[character] : GsmCodeBeyondLatin(character);
}

// ---- Hexadecimal digits ----

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<int8_t, 256> MakeHexValues(bool lower_case_too) {
    std::array<int8_t, 256> values{};
    values.fill(-1);
    for (int digit = 0; digit < 16; ++digit) {
        values[static_cast<uint8_t>(kHexDigits[digit])] = static_cast<int8_t>(digit);
        if (lower_case_too) {
            values[static_cast<uint8_t>("0123456789abcdef"[digit])] = static_cast<int8_t>(digit);
        }
    }
    return values;
}
constexpr std::array<int8_t, 256> kHexValues = MakeHexValues(true);
// The septet unpacker takes upper-case digits only.
constexpr std::array<int8_t, 256> kUpperHexValues = MakeHexValues(false);

// The value of a hexadecimal digit of either case, or -1.
int HexValue(char ch) {
    return kHexValues[static_cast<uint8_t>(ch)];
}

int UpperHexValue(char ch) {
    return kUpperHexValues[static_cast<uint8_t>(ch)];
}

// Writes the low digits hexadecimal digits of value at at, upper case.
void PutHex(char* at, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value >>= 4) at[i] = kHexDigits[value & 0xF];
}

// Appends value as upper-case hexadecimal with at least width digits.
void AppendHex(std::string& out, uint32_t value, int width) {
    int digits = width;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(digits));
    PutHex(out.data() + at, value, digits);
}

// A hexadecimal number of any length (at most 8 digits), or nothing when the text is
// empty or holds anything else.
std::optional<int32_t> ParseHex(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char ch : digits) {
        const int digit = HexValue(ch);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
}

EConvertError NotHexadecimal(std::string_view digits) {
    return EConvertError("'" + std::string(digits) + "' is not a hexadecimal number");
}

int32_t ParseHexOrThrow(std::string_view digits) {
    const auto value = ParseHex(digits);
    if (!value) throw NotHexadecimal(digits);
    return *value;
}

int32_t ParseDecimalOrThrow(std::string_view digits) {
    const bool decimal = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char ch) {
        return ch >= '0' && ch <= '9';
    });
    if (!decimal) throw EConvertError("'" + std::string(digits) + "' is not a decimal number");
    int32_t value = 0;
    for (char ch : digits) value = value * 10 + (ch - '0');
    return value;
}

bool IsHexOctets(std::string_view text) {
    return text.size() % 2 == 0 &&
           std::all_of(text.begin(), text.end(), [](char ch) { return HexValue(ch) >= 0; });
}

std::string UpperHex(std::string_view hex) {
    std::string upper(hex);
    for (char& ch : upper) ch = kHexDigits[HexValue(ch)];
    return upper;
}

// ---- UCS2 ----

// The code units that HexToUcs2 makes of hex.
size_t Ucs2Units(std::string_view hex) {
    return (hex.size() + 3) / 4;
}

// Writes the Ucs2Units(hex) code units of hex at out. Throws EConvertError on a
// digit that is not hexadecimal.
void PutUcs2(std::string_view hex, char16_t* out) {
    const char* digits = hex.data();
    size_t at = 0;
    for (; at + 4 <= hex.size(); at += 4) {
        const int a = HexValue(digits[at]), b = HexValue(digits[at + 1]);
        const int c = HexValue(digits[at + 2]), d = HexValue(digits[at + 3]);
        if ((a | b | c | d) < 0) throw NotHexadecimal(hex.substr(at, 4));
        *out++ = static_cast<char16_t>(a << 12 | b << 8 | c << 4 | d);
    }
    if (at == hex.size()) return;
    // A short last group counts as padded with "0".
    int value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const int digit = i < hex.size() ? HexValue(digits[i]) : 0;
        if (digit < 0) throw NotHexadecimal(hex.substr(at));
        value = value << 4 | digit;
    }
    *out = static_cast<char16_t>(value);
}

// ---- Reading a PDU by position ----

// The count characters of text from the 1-based position pos, fewer (or none) where
// the text ends first. Positions come from octets of the PDU itself, so they are
// checked here rather than trusted.
std::string_view DigitsAt(std::string_view text, int32_t pos, int32_t count) {
    if (pos < 1 || count <= 0 || static_cast<size_t>(pos) > text.size()) return {};
    return text.substr(static_cast<size_t>(pos) - 1, static_cast<size_t>(count));
}

// The octet at pos, or 0 when it cannot be read: how the lenient header fields read.
int32_t OctetOrZero(std::string_view pdu, int32_t pos) {
    return ParseHex(DigitsAt(pdu, pos, 2)).value_or(0);
}

// ---- Septets ----

// The octet of two digits as the unpacker reads them: only upper-case digits
// count; a bad first digit gives -1 (the end), a bad second one is skipped.
int PackedOctet(const char* digits) {
    const int high = UpperHexValue(digits[0]);
    if (high < 0) return -1;
    const int low = UpperHexValue(digits[1]);
    return low < 0 ? high : high * 16 + low;
}

// The septets that the 7-bit packing of `octets` octets holds at most.
constexpr size_t SeptetCapacity(size_t octets) {
    return octets + octets / 7 + 1;
}

// The septet codes of packed hexadecimal text, written at out (room for
// SeptetCapacity(hex.size() / 2)); returns their count. keep_trailing_zero decides
// the one ambiguous case: a last octet that completes a group of seven leaves one
// septet over, which is either a real "@" or the fill of a text of 8k - 1 septets.
// The first zero_octets octets are read as 0 whatever their digits (a user data
// header, whose bits no text septet uses, and whose bad digit must not end the text).
size_t UnpackSeptetsInto(std::string_view hex, bool keep_trailing_zero, size_t zero_octets,
                         char* out) {
    const size_t octets = hex.size() / 2;
    const char* digits = hex.data();
    char* const start = out;
    // The octets' bits, least significant first, that no septet has taken yet.
    uint32_t pending = 0;
    int pending_bits = 0;
    size_t j = 0;
    while (j < octets) {
        // Seven good octets that are not the last hold eight septets: taken whole.
        if (pending_bits == 0 && j >= zero_octets && j + 7 < octets) {
            uint64_t group = 0;
            int bad = 0;
            for (size_t k = 0; k < 7; ++k) {
                const int high = UpperHexValue(digits[2 * (j + k)]);
                const int low = UpperHexValue(digits[2 * (j + k) + 1]);
                bad |= high | low;
                group |= static_cast<uint64_t>((high << 4 | low) & 0xFF) << (8 * k);
            }
            if (bad >= 0) {
                for (int k = 0; k < 8; ++k) *out++ = static_cast<char>((group >> (7 * k)) & 0x7F);
                j += 7;
                continue;
            }
        }
        const int octet = j < zero_octets ? 0 : PackedOctet(digits + 2 * j);
        if (octet < 0) break;
        pending |= static_cast<uint32_t>(octet) << pending_bits;
        *out++ = static_cast<char>(pending & 0x7F);
        pending >>= 7;
        ++pending_bits;  // eight bits in, seven out
        ++j;
        if (pending_bits == 7) {  // seven octets hold eight septets
            if (j != octets || pending != 0 || keep_trailing_zero) {
                *out++ = static_cast<char>(pending);
            }
            pending = 0;
            pending_bits = 0;
        }
    }
    return static_cast<size_t>(out - start);
}

// Septets from..to (0-based, to excluded) of the text, clipped to what is there.
std::string_view SeptetRange(std::string_view septets, int32_t from, int32_t to) {
    if (from >= to || static_cast<size_t>(from) >= septets.size()) return {};
    return septets.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
}

// Octets that a text of this many septets fills.
constexpr int32_t OctetsForSeptets(int32_t septets) {
    return (7 * septets + 7) / 8;
}

// Septets that a user data header of header_length octets (after its own length
// octet) takes in a 7-bit text, fill bits included.
constexpr int32_t HeaderSeptets(int32_t header_length) {
    return header_length + header_length / 7 + 2;
}

// ---- Validity period ----

// Digits of the validity period by its format (bits 4-3 of an SMS-SUBMIT's first
// octet): none, enhanced (7 octets), relative (1 octet), absolute (7 octets).
constexpr std::array<int32_t, 4> kValidityPeriodDigits = {0, 14, 2, 14};

constexpr int kSmsSubmitFirstOctet = 0x11;  // SMS-SUBMIT with a relative validity period
constexpr int kStatusReportRequest = 0x20;
constexpr int kUserDataHeaderIndicator = 0x40;
constexpr int kReplyPath = 0x80;
constexpr int kDcsGsm7 = 0x00;
constexpr int kDcsUcs2 = 0x08;
constexpr int kDcsClass0 = 0x10;
constexpr int kAlphabetReserved = 3;
constexpr int32_t kTimeStampDigits = 14;  // seven octets, the time zone included

// ---- Encoding ----

bool IsValidReference(std::string_view reference) {
    return reference.empty() || (reference.size() == 2 && IsHexOctets(reference));
}

// Whole octets of hexadecimal digits, the length octet counting the octets after it.
bool IsValidHeader(std::string_view header) {
    return header.empty() ||
           (IsHexOctets(header) &&
            ParseHex(header.substr(0, 2)) == static_cast<int32_t>(header.size() / 2 - 1));
}

bool ChoosesGsm7(int32_t coding, std::u16string_view text) {
    return coding == kCodingGsm7 || (coding == kCodingAuto && DetectCoding(text) == kCodingGsm7);
}

// Septets of a 7-bit text after a header of header_octets octets (its length octet
// included): the header's septets with their fill bits, then the text's.
size_t Gsm7Septets(size_t text_septets, int32_t header_octets) {
    return (header_octets > 0 ? static_cast<size_t>(HeaderSeptets(header_octets - 1)) : 0) +
           text_septets;
}

// Octets of a UCS2 text after a header of header_octets octets.
size_t Ucs2Octets(size_t units, int32_t header_octets) {
    return static_cast<size_t>(header_octets) + 2 * units;
}

struct UserData {
    std::string digits;  // the user data after the header, as hexadecimal text
    uint32_t length;     // the user data length octet: septets or octets, header included
    int coding_scheme;
};

// The header's septets are packed as zeros and then cut off, so that the text starts
// on a septet boundary after the header and its fill bits.
UserData Gsm7UserData(std::string_view text_septets, int32_t header_octets) {
    const size_t reserved = Gsm7Septets(0, header_octets);
    std::string septets(reserved, '\0');
    septets += text_septets;
    std::string digits = PackSeptets(septets);
    digits.erase(0, std::min(digits.size(), static_cast<size_t>(2 * header_octets)));
    return {std::move(digits), static_cast<uint32_t>(septets.size()), kDcsGsm7};
}

UserData Ucs2UserData(std::u16string_view text, int32_t header_octets) {
    std::string digits(4 * text.size(), '0');
    for (size_t i = 0; i < text.size(); ++i) PutHex(digits.data() + 4 * i, text[i], 4);
    return {std::move(digits), static_cast<uint32_t>(Ucs2Octets(text.size(), header_octets)),
            kDcsUcs2};
}

}  // namespace

// ---- Alphabet and text conversions ----

std::string UnicodeToGsm(std::u16string_view text) {
    // Room for every character to take two septets; written through a pointer, as
    // the encoder of every 7-bit message calls this.
    std::string septets(2 * text.size(), '\0');
    char* out = septets.data();
    for (const char16_t character : text) {
        const uint16_t code = GsmCodeOf(character);
        if (code == kNoCode) {
            *out++ = static_cast<char>(kQuestionMark);
        } else if ((code & kExtensionBit) != 0) {
            *out++ = static_cast<char>(kEscape);
            *out++ = static_cast<char>(code & 0x7F);
        } else {
            *out++ = static_cast<char>(code);
        }
    }
    septets.resize(static_cast<size_t>(out - septets.data()));
    return septets;
}

size_t GsmSeptetCount(std::u16string_view text) {
    size_t count = 0;
    for (const char16_t character : text) count += GsmSeptetsOf(character);
    return count;
}

size_t GsmSeptetsOf(char16_t character) {
    const uint16_t code = GsmCodeOf(character);
    return code != kNoCode && (code & kExtensionBit) != 0 ? 2 : 1;
}

bool InGsmAlphabet(char16_t character) {
    return GsmCodeOf(character) != kNoCode;
}

std::string GsmToAnsi(std::string_view septets) {
    bool lost = false;
    return GsmToAnsi(septets, lost);
}

std::string GsmToAnsi(std::string_view septets, bool& lost) {
    std::string text(septets.size(), '\0');
    // Through plain pointers: writes through the string would make the compiler
    // reload everything after each character.
    char* out = text.data();
    char* const start = out;
    const auto* in = reinterpret_cast<const uint8_t*>(septets.data());
    const size_t count = septets.size();
    bool any_lost = false;
    for (size_t i = 0; i < count; ++i) {
        const ByteTable* table = &kGsmToByte;
        if (in[i] == kEscape) {
            if (++i == count) break;  // an escape with nothing after it shows nothing
            table = &kExtensionToByte;
        }
        const uint8_t code = in[i] & 0x7F;
        *out++ = static_cast<char>(table->bytes[code]);
        any_lost |= table->lost[code];
    }
    text.resize(static_cast<size_t>(out - start));
    lost = any_lost;
    return text;
}

std::u16string GsmToUnicode(std::string_view septets) {
    std::u16string text;
    text.reserve(septets.size());
    for (size_t i = 0; i < septets.size(); ++i) {
        const std::array<char16_t, 128>* table = &kGsmToUnicode;
        if (static_cast<uint8_t>(septets[i]) == kEscape) {
            if (++i == septets.size()) break;
            table = &kExtensionToUnicode;
        }
        text.push_back((*table)[static_cast<uint8_t>(septets[i]) & 0x7F]);
    }
    return text;
}

int32_t DetectCoding(std::u16string_view text) {
    const bool all_gsm = std::all_of(text.begin(), text.end(), InGsmAlphabet);
    return all_gsm ? kCodingGsm7 : kCodingUcs2;
}

std::string PackSeptets(std::string_view septets) {
    const size_t count = septets.size();
    std::string hex(2 * (count - count / 8), '0');
    char* out = hex.data();
    int shift = 0;
    for (size_t j = 0; j < count; ++j) {
        if (shift == 7) {  // this septet already went into the octet before
            shift = 0;
            continue;
        }
        const uint32_t septet = static_cast<uint8_t>(septets[j]);
        const uint32_t next = j + 1 < count ? static_cast<uint8_t>(septets[j + 1]) : 0;
        const uint32_t low_bits_of_next = next & ((2u << shift) - 1);
        PutHex(out, ((septet >> shift) | (low_bits_of_next << (7 - shift))) & 0xFF, 2);
        out += 2;
        ++shift;
    }
    return hex;
}

std::string UnpackSeptets(std::string_view hex) {
    return GsmToAnsi(UnpackSeptetCodes(hex));
}

std::string UnpackSeptetCodes(std::string_view hex) {
    std::string septets(SeptetCapacity(hex.size() / 2), '\0');
    septets.resize(UnpackSeptetsInto(hex, /*keep_trailing_zero=*/false, 0, septets.data()));
    return septets;
}

std::string HexToBytes(std::string_view hex) {
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(ParseHexOrThrow(hex.substr(i, 2))));
    }
    return bytes;
}

std::u16string HexToUcs2(std::string_view hex) {
    std::u16string units(Ucs2Units(hex), u'\0');
    PutUcs2(hex, units.data());
    return units;
}

std::string SwapSemiOctets(std::string_view digits) {
    std::string swapped(digits);
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return swapped;
}

// ---- The data coding scheme ----

DataCoding ReadDataCoding(uint8_t scheme) {
    DataCoding coding;
    const int group = scheme >> 4;
    if (group < 0x8) {  // general data coding, or the same marked for automatic deletion
        coding.alphabet = (scheme >> 2) & 3;
        if ((scheme & 0x10) != 0) coding.message_class = scheme & 3;
    } else if (group >= 0xC && group <= 0xE) {  // message waiting: discard, store, store UCS2
        coding.alphabet = group == 0xE ? 2 : 0;
        WaitingIndication waiting;
        waiting.kind = static_cast<WaitingIndication::Kind>(scheme & 3);
        waiting.active = (scheme & 0x08) != 0;
        coding.waiting = waiting;
    } else if (group == 0xF) {  // data coding and message class
        coding.alphabet = (scheme & 0x04) != 0 ? 1 : 0;
        coding.message_class = scheme & 3;
    }
    return coding;
}

// ---- Encoding ----

AddressProblem TSMS::CheckAddress(std::string_view number) {
    if (number.starts_with('+')) number.remove_prefix(1);
    // Only digits: the number goes onto the modem line inside the PDU, and anything
    // else (a CR, ";", letters) would be command text there.
    const bool digits_only =
        std::all_of(number.begin(), number.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    if (number.empty() || !digits_only) return AddressProblem::NotDigits;
    // The length octet counts digits: more than 20 no network takes, and more than
    // 255 would not even fit the octet.
    if (number.size() > kMaxAddressDigits) return AddressProblem::TooLong;
    return AddressProblem::None;
}

std::optional<std::string> TSMS::EncodeAddress(std::string_view number) {
    if (CheckAddress(number) != AddressProblem::None) return std::nullopt;
    const char* type = "81";  // unknown type of number, ISDN numbering plan
    if (number.starts_with('+')) {
        type = "91";  // international number
        number.remove_prefix(1);
    }
    std::string digits(number);
    if (digits.size() % 2 != 0) digits.push_back('F');
    std::string field;
    AppendHex(field, static_cast<uint32_t>(number.size()), 2);
    field += type;
    field += SwapSemiOctets(digits);
    return field;
}

SubmitProblem TSMS::CheckSubmit() const {
    const std::u16string text = TextToEncode();
    const bool gsm7 = ChoosesGsm7(Coding, text);
    return CheckInputs(gsm7 ? GsmSeptetCount(text) : text.size(), gsm7);
}

std::u16string TSMS::TextToEncode() const {
    return Whole.empty() ? codepage::ToUtf16(Text) : Whole;
}

// Each length octet of the PDU must hold its length in two digits, and the user
// data must be one SMS: the send path splits longer texts before they get here.
SubmitProblem TSMS::CheckInputs(size_t text_length, bool gsm7) const {
    if (CheckAddress(Number) != AddressProblem::None) return SubmitProblem::BadNumber;
    if (!IsValidHeader(UDH)) return SubmitProblem::BadHeader;
    if (!IsValidReference(MessageReference)) return SubmitProblem::BadReference;
    const auto header_octets = static_cast<int32_t>(UDH.size() / 2);
    const bool fits =
        gsm7 ? Gsm7Septets(text_length, header_octets) <= static_cast<size_t>(kMaxUserDataSeptets)
             : Ucs2Octets(text_length, header_octets) <= static_cast<size_t>(kMaxUserDataOctets);
    return fits ? SubmitProblem::None : SubmitProblem::UserDataTooLong;
}

std::string TSMS::EncodeSubmit() {
    TPDULength = 0;
    const std::u16string text = TextToEncode();
    const bool gsm7 = ChoosesGsm7(Coding, text);
    // The septets once: their count is checked, then they are packed.
    const std::string septets = gsm7 ? UnicodeToGsm(text) : std::string();
    if (CheckInputs(gsm7 ? septets.size() : text.size(), gsm7) != SubmitProblem::None) return {};

    const std::string address = *EncodeAddress(Number);
    const bool has_header = !UDH.empty();
    const auto header_octets = static_cast<int32_t>(UDH.size() / 2);
    const UserData user_data =
        gsm7 ? Gsm7UserData(septets, header_octets) : Ucs2UserData(text, header_octets);
    int dcs = user_data.coding_scheme;
    if (Flash) dcs |= kDcsClass0;

    int first_octet = kSmsSubmitFirstOctet;
    if (StatusReport) first_octet |= kStatusReportRequest;
    if (has_header) first_octet |= kUserDataHeaderIndicator;
    if (ReplyPath) first_octet |= kReplyPath;

    std::string pdu = "00";  // no SMSC information: the modem's own service centre
    pdu.reserve(2 + 32 + UDH.size() + user_data.digits.size());
    AppendHex(pdu, static_cast<uint32_t>(first_octet), 2);
    pdu += MessageReference.empty() ? std::string("00") : UpperHex(MessageReference);
    pdu += address;
    pdu += "00";  // protocol identifier
    AppendHex(pdu, static_cast<uint32_t>(dcs), 2);
    pdu += "FF";  // relative validity period, the longest
    AppendHex(pdu, user_data.length, 2);
    pdu += UpperHex(UDH);
    pdu += user_data.digits;
    TPDULength = static_cast<int32_t>((pdu.size() - 2) / 2);
    return pdu;
}

// ---- Decoding ----

void TSMS::ParsePDU(std::string_view pdu) {
    PDU = pdu;
    SMSCLength = 2 * OctetOrZero(PDU, 1);
    FirstOctetPos = 3 + SMSCLength;
    const int32_t first_octet = OctetOrZero(PDU, FirstOctetPos);
    IsSubmit = (first_octet & 3) == 1;
    HasUDH = (first_octet & kUserDataHeaderIndicator) != 0;
    VPLength = IsSubmit ? kValidityPeriodDigits[(first_octet >> 3) & 3] : 0;
    AddressPos = FirstOctetPos + (IsSubmit ? 2 : 0) + 4;  // an SMS-SUBMIT has a reference first
    AddressLength = OctetOrZero(PDU, AddressPos - 2);
    AddressLength += AddressLength % 2;
    MessageReference = DigitsAt(PDU, FirstOctetPos + 2, 2);
    TPDULength = static_cast<int32_t>((static_cast<int64_t>(PDU.size()) - SMSCLength) / 2 - 1);
    ProtocolId = OctetOrZero(PDU, AddressPos + AddressLength + 2);
    CodingScheme = OctetOrZero(PDU, AddressPos + AddressLength + 4);
    Alphabet = ReadDataCoding(static_cast<uint8_t>(CodingScheme)).alphabet;
}

std::string TSMS::DecodeSender() const {
    return DecodeAddress(DigitsAt(PDU, AddressPos, AddressLength + 2));
}

std::string TSMS::DecodeAddress(std::string_view field) {
    const std::optional<int32_t> type = ParseHex(field.substr(0, 2));
    if (!type || field.size() <= 2) return {};
    const std::string_view digits = field.substr(2);
    if ((*type & 0x50) == 0x50) return UnpackSeptets(digits);  // alphanumeric sender

    std::string number = SwapSemiOctets(digits);
    if (number.back() == 'F') number.pop_back();  // the filler of an odd digit count
    if (((*type >> 4) & 7) == 1) number.insert(0, 1, '+');
    return number;
}

std::string TSMS::DecodeTimeStamp() const {
    if (IsSubmit) return {};
    // Year, month, day, hour, minute, second as swapped decimal digit pairs; the
    // time zone octet that follows is not read.
    const std::string stamp = SwapSemiOctets(DigitsAt(PDU, FirstOctetPos + AddressLength + 10, 12));
    std::array<int32_t, 6> parts{};
    for (size_t i = 0; i < parts.size(); ++i) {
        const size_t at = std::min(2 * i, stamp.size());
        parts[i] = ParseDecimalOrThrow(std::string_view(stamp).substr(at, 2));
    }
    const std::optional<DateTime> when =
        MakeDateTime(2000 + parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
    if (!when) throw EConvertError("'" + stamp + "' is not a valid date and time");
    return FormatDateTime(*when);
}

std::string TSMS::DecodeText() {
    // First octet, message reference (SMS-SUBMIT only), address length and type, the
    // address, protocol identifier, coding scheme, then the validity period of an
    // SMS-SUBMIT or the time stamp of an SMS-DELIVER: then the user data length.
    const int32_t length_pos = FirstOctetPos + 2 + (IsSubmit ? 2 : 0) + 4 + AddressLength + 4 +
                               (IsSubmit ? VPLength : kTimeStampDigits);
    const int32_t data_pos = length_pos + 2;
    Whole.clear();
    try {
        int32_t header_length = 0;
        if (HasUDH) {
            header_length = ParseHexOrThrow(DigitsAt(PDU, data_pos, 2));
            UDH = DigitsAt(PDU, data_pos, 2 * header_length + 2);
        }
        UDL = ParseHexOrThrow(DigitsAt(PDU, length_pos, 2));
        std::string text = DecodeUserData(header_length, data_pos);
        if (!Whole.empty()) Whole = NormalizeLineBreaks(std::u16string_view(Whole));
        // Most texts hold no line break: they need no second copy.
        if (text.find_first_of("\r\n") != std::string::npos) return NormalizeLineBreaks(text);
        return text;
    } catch (const EConvertError&) {
        Whole.clear();
        return std::string(kDecodeErrorText);
    }
}

// The text of the user data at data_pos, UDL already read; Whole set where the
// text lost characters. The header's digits are taken as zeros: only its length
// matters here, and a bad digit inside it must not cost the text.
std::string TSMS::DecodeUserData(int32_t header_length, int32_t data_pos) {
    if (Alphabet == kAlphabetReserved) return std::string(kDecodeErrorText);
    const bool gsm7 = Alphabet == 0;
    const int32_t data_digits = 2 * (gsm7 ? OctetsForSeptets(UDL) : UDL);
    const std::string_view data = DigitsAt(PDU, data_pos, data_digits);
    const int32_t header_octets = HasUDH ? header_length + 1 : 0;

    if (gsm7) {
        // UDL counts septets, the header's included; the trailing zero septet is kept
        // because UDL says whether it is an "@" of the text.
        // At most 255 septets of user data: they fit on the stack.
        std::array<char, SeptetCapacity(OctetsForSeptets(255))> septets;
        const size_t count = UnpackSeptetsInto(data, /*keep_trailing_zero=*/true,
                                               static_cast<size_t>(header_octets), septets.data());
        const int32_t first = HasUDH ? HeaderSeptets(header_length) : 0;
        const std::string_view text_septets =
            SeptetRange(std::string_view(septets.data(), count), first, UDL);
        bool lost = false;
        std::string text = GsmToAnsi(text_septets, lost);
        if (lost) Whole = GsmToUnicode(text_septets);
        return text;
    }
    const std::string_view text_digits =
        data.substr(std::min(data.size(), static_cast<size_t>(2 * header_octets)));
    if (Alphabet == 1) return HexToBytes(text_digits);
    // At most 255 octets of user data: the units fit on the stack.
    std::array<char16_t, 128> units;
    const size_t count = std::min(Ucs2Units(text_digits), units.size());
    PutUcs2(text_digits.substr(0, 4 * count), units.data());
    const std::u16string_view unicode(units.data(), count);
    std::string text = codepage::FromUtf16(unicode);
    // The code page's "?" stands in for what it lacks: more of them than the text
    // had means characters were lost.
    if (text.find('?') != std::string::npos && std::count(text.begin(), text.end(), '?') !=
                                                   std::count(unicode.begin(), unicode.end(), u'?'))
        Whole = unicode;
    return text;
}

namespace {

template <typename Char>
std::basic_string<Char> NormalizedLineBreaks(std::basic_string_view<Char> text) {
    // Room for every character to be a line break.
    std::basic_string<Char> normal(2 * text.size(), Char{});
    size_t length = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const Char ch = text[i];
        if (ch != '\r' && ch != '\n') {
            normal[length++] = ch;
            continue;
        }
        const bool pair = i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') &&
                          text[i + 1] != ch;
        if (pair) ++i;
        normal[length++] = '\r';
        normal[length++] = '\n';
    }
    normal.resize(length);
    return normal;
}

}  // namespace

std::string TSMS::NormalizeLineBreaks(std::string_view text) {
    return NormalizedLineBreaks(text);
}

std::u16string TSMS::NormalizeLineBreaks(std::u16string_view text) {
    return NormalizedLineBreaks(text);
}

}  // namespace velka
