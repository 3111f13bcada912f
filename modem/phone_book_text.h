// The SIM's phone book as modems write it: the answers of "AT+CPBS?", "AT+CPBR=?",
// "AT+CPBR=first,last" and "AT+CSCS=?" (3GPP TS 27.007, 8.11, 8.12, 5.5), and the
// names in each character set a modem may give them in. Pure; any thread.
//
// A name comes in the character set chosen with AT+CSCS:
//   UCS2  hexadecimal, four digits per UTF-16 unit (TS 27.007); some modems pass
//         the SIM's own record through instead, one of the alpha forms below;
//   GSM   the octets of the GSM 7-bit default alphabet, one per character, the
//         extension table behind the escape 0x1B (TS 23.038, 6.2.1);
//   IRA   ASCII (ITU-T T.50);
//   HEX   hexadecimal of the octets as the SIM keeps them, unconverted.
// The SIM keeps an alpha identifier (TS 31.102, annex A) in the default alphabet,
// one octet per character with bit 8 zero and 0xFF as padding, or in one of three
// UCS2 forms: 0x80 then UTF-16 big endian; 0x81, a count, a base (bits 15..8 of
// it, shifted by 7) then one octet a character; 0x82, a count, a 16-bit base, then
// one octet a character. In the last two an octet with bit 8 set is the base plus
// its lower seven bits, one without is a character of the default alphabet.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velka::modem {

// The character sets the phone book is read in, in the order they are preferred:
// UCS2 holds a name in any script; HEX gives the SIM's own record, its UCS2 forms
// included, in characters that cannot upset the line; GSM gives the default
// alphabet, whose octets include CR, LF and the flow-control bytes; IRA only ASCII.
enum class Charset { Ucs2, Gsm, Ira, Hex };

// "UCS2", "GSM", "IRA", "HEX": the name AT+CSCS takes.
std::string_view CharsetName(Charset charset);
// The character set of a name such as AT+CSCS? gives, letter case ignored.
std::optional<Charset> CharsetNamed(std::string_view name);
// The names in a "+CSCS: ("IRA","GSM","UCS2")" line, or the one of "+CSCS: "GSM""
// (quoted or not), without their quotes, as they stand.
std::vector<std::string> OfferedCharsets(std::string_view line);
// The character sets among the `offered` names, the most preferred first.
std::vector<Charset> ByPreference(const std::vector<std::string>& offered);

// The alpha identifier of a SIM record (octets as the SIM keeps them) as UTF-8;
// nothing when a UCS2 form is cut short.
std::optional<std::string> DecodeSimAlpha(std::string_view octets);
// The text field of a "+CPBR:" line, without its quotes, in `charset`, as UTF-8;
// nothing when it cannot be in that set (hexadecimal that is not, a UCS2 length
// that is no whole number of characters). Characters outside a 7-bit set give U+FFFD.
std::optional<std::string> DecodeName(std::string_view field, Charset charset);

// The number as people write it: "+" before an international number (TS 24.008
// type of number 001, as in 145), unless it carries one already.
std::string NumberWithType(std::string_view number, int type);

// "+CPBS: "SM",12,250": the storage chosen, how many entries it holds and how many
// it can. Modems that do not count give only the storage: used and total stay -1.
struct PhoneBookStorage {
    std::string storage;
    int used = -1;
    int total = -1;
};
std::optional<PhoneBookStorage> ParseStorageLine(std::string_view line);

// "+CPBR: (1-250),40,18": the indexes, and the longest number and name the SIM
// takes (-1 when not given).
struct PhoneBookRange {
    int first = 0;
    int last = 0;
    int number_length = -1;
    int name_length = -1;
};
std::optional<PhoneBookRange> ParseRangeLine(std::string_view line);

// "+CPBR: 3,"+79123456789",145,"0418043204300043D"": one entry as the modem gives
// it, the name still in the character set of the moment. The fields 27.007 added
// after the name (hidden, group, second number ...) are read past.
struct RawPhoneBookEntry {
    int index = 0;
    std::string number;
    int type = 0;
    std::string name;  // without its quotes
};
std::optional<RawPhoneBookEntry> ParseEntryLine(std::string_view line);

}  // namespace velka::modem
