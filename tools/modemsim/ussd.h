// The virtual network's USSD service and the modem's way of writing it: a script of
// answers per code, a menu that asks back, and the "+CUSD:" line in each coding a
// network uses and each form a modem writes it in. Its encoding is its own, never
// the client's. Pure; the Session that owns a UssdService feeds it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/modemsim/pdu.h"

namespace velka::modemsim {

// The coding scheme the network answers in.
enum class UssdCoding {
    Plain,     // 7-bit (15) where the text allows, UCS2 (72) otherwise
    Language,  // the same with the language first: 7-bit (0x10), UCS2 (0x11)
    Data8,     // 8-bit data (0x44): the text's UTF-8 octets
};
// How the modem writes <str>: the characters of a 7-bit text, packed septets in
// hexadecimal (Huawei), one hexadecimal octet per septet (the "HEX" character
// set), or every text as UCS2 hexadecimal (the "UCS2" character set). A UCS2 or
// 8-bit answer is hexadecimal in every form.
enum class UssdForm { Text, Packed, Unpacked, Ucs2 };
// Where the answer comes: after the command's "OK" (most modems) or before it, the
// "OK" held until the network answered.
enum class UssdOrder { AfterOk, BeforeOk };
// The request form the modem takes; the other is refused with "ERROR".
enum class UssdRequestForm { Text, Packed };

// One answer of the network: <m> and its text (UTF-8).
struct UssdStep {
    int status = 0;  // 0 done, 1 a question, 4 not supported
    std::string text;
    bool operator==(const UssdStep&) const = default;
};

// The network's side of USSD for one modem's subscriber. The script: "*100#",
// "*101#", "*102#" balances (Russian, English, negative), "*112#" an answer of two
// lines, "*111#" a menu ("1" the balance, "2" the tariffs, whose "1" and "2"
// end it; anything else asks again), "*999#" a code the network never answers;
// any other code is not supported.
class UssdService {
  public:
    // The answer to a request or, in an open session, a reply; nothing when the
    // network stays silent.
    std::optional<UssdStep> Answer(const std::string& request);
    // The client ended the session.
    void End() { menu_.clear(); }

  private:
    std::string menu_;  // the place in the menu of the open session; empty: none
};

// The request a client wrote as <str> in `form`: packed septets give their text
// (the carriage return that pads 8n - 1 septets dropped). Nothing when <str> is not
// in that form.
std::optional<std::string> UssdRequestText(std::string_view str, UssdRequestForm form);

// "+CUSD: <m>,<str>,<dcs>" for `step` as the network codes it and the modem writes
// it; "+CUSD: <m>" for a step without text.
std::string UssdResultLine(const UssdStep& step, UssdCoding coding, UssdForm form);

}  // namespace velka::modemsim
