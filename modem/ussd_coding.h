// USSD texts as modems write them: the "+CUSD:" result of 3GPP TS 27.007 read into
// its fields, the network's text decoded whatever coding scheme (the cell-broadcast
// schemes of 3GPP TS 23.038, 5) and whatever form the modem chose for it, and a
// request packed the way the modems that want hexadecimal take it. Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velka::modem {

// The alphabet a USSD data coding scheme names.
enum class UssdAlphabet {
    Gsm7,        // the GSM 7-bit default alphabet
    Data8,       // 8-bit data: octets the standard leaves to the service
    Ucs2,        // UCS2, two octets a character
    Compressed,  // compressed text, which no modem or network is known to send
};

// How a data coding scheme is to be read: the alphabet, and whether the text
// starts with its language (schemes 0x10 and 0x11).
struct UssdCoding {
    UssdAlphabet alphabet = UssdAlphabet::Gsm7;
    bool language_first = false;
    bool operator==(const UssdCoding&) const = default;
};

// What a cell-broadcast data coding scheme says (TS 23.038, 5). The reserved
// values read as the default alphabet, as the standard tells a receiver to.
UssdCoding ReadUssdCoding(int scheme);

// The fields of "+CUSD: <m>[,<str>[,<dcs>]]". The text keeps the line breaks of a
// text that came over several lines as "\n".
struct UssdResult {
    int status = 0;                   // <m>: 0 done ... 5 the network timed out
    std::optional<std::string> text;  // <str> without its quotes, as the modem wrote it
    std::optional<int> coding;        // <dcs>
};

// Whether `line` starts a "+CUSD:" result (letter case and blanks aside).
bool IsUssdResult(std::string_view line);
// Whether the result begun in `text` ("+CUSD:" and the lines after it joined with
// "\n") holds its whole <str>: its quotes are closed.
bool UssdResultComplete(std::string_view text);
// The fields of a whole result; nothing when it is no "+CUSD:" or its <m> is not a
// number.
std::optional<UssdResult> ParseUssdResult(std::string_view text);

// The network's words: <str> decoded as <dcs> says (the default alphabet when the
// modem gave none), whichever form the modem wrote it in: as characters, as packed
// 7-bit hexadecimal, as one hexadecimal octet per septet, or as UCS2 hexadecimal
// (a modem whose character set is UCS2 writes every text so). Hexadecimal that
// reads as nothing a person would write stays as the characters it is. A language
// at the start (schemes 0x10 and 0x11) is taken off; line breaks become "\n".
// Nothing for a compressed text, which cannot be read.
std::optional<std::u16string> DecodeUssdText(std::string_view text, std::optional<int> scheme);

// How a request goes into "AT+CUSD=1,<str>,15".
enum class UssdRequestForm {
    Text,    // the characters themselves, in the modem's character set
    Packed,  // the 7-bit septets packed, as hexadecimal
};

// The form a modem of this maker (AT+CGMI) is known to want: Huawei's firmware
// takes requests only as packed hexadecimal; the others take the characters.
UssdRequestForm RequestFormFor(std::string_view manufacturer);

// The request as <str> in `form`; nothing when a character lies outside the 7-bit
// alphabet or is one the command line cannot carry as it is (a quote, a control
// character).
std::optional<std::string> EncodeUssdRequest(std::u16string_view request, UssdRequestForm form);

}  // namespace velka::modem
