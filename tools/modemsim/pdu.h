// The simulator's own PDU code: just enough of SMS-SUBMIT and SMS-DELIVER to check
// what a client submits, turn it into what the recipient receives, and make
// received messages from plain text. It shares nothing with the client's codec on
// purpose, so that a fault there cannot hide itself behind the same fault here.
// All functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace velka::modemsim {

using Octets = std::vector<std::uint8_t>;

// Upper-case hexadecimal text, two digits per octet.
std::string ToHex(const Octets& octets);
// Either case is accepted; nullopt for an odd length or a non-hexadecimal digit.
std::optional<Octets> FromHex(std::string_view hex);

// The user data of a message as it travels: carried unchanged from submit to deliver.
struct UserData {
    std::uint8_t protocol_id = 0;
    std::uint8_t coding = 0;  // the data coding scheme octet
    bool has_header = false;  // TP-UDHI
    std::uint8_t length = 0;  // TP-UDL: septets for 7-bit data, octets otherwise
    Octets octets;            // header (when present) and text
};

struct Submit {
    std::string destination;  // "+" and digits for an international number, else digits
    std::uint8_t reference = 0;
    bool reply_path = false;
    bool status_report = false;  // TP-SRR: the sender asks for a status report
    UserData data;
};

// Takes apart the text a client writes after "AT+CMGS=<declared_length>": SMSC
// information, then the TPDU, whose octet count must equal declared_length. Every
// field must be present and consistent (user data length against the octets that
// follow); a sentence says what is wrong otherwise.
Result<Submit> ParseSubmit(std::string_view hex, int declared_length);

// The service-centre time stamp with its time zone (quarters of an hour east of UTC).
struct TimeStamp {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int zone_quarters = 0;
};
// The machine's local time now, with its offset from UTC.
TimeStamp NowLocal();

struct Deliver {
    std::string service_centre;  // "+" and digits
    std::string originator;      // "+" and digits, or digits
    TimeStamp time;
    bool reply_path = false;
    UserData data;
};

// The SMS-DELIVER PDU as a modem lists it: SMSC information included.
std::string BuildDeliver(const Deliver& deliver);
Result<Deliver> ParseDeliver(std::string_view hex);

// An SMS-STATUS-REPORT as a modem keeps or hands it over (SMSC part included): the
// message `reference` to `recipient` met `status` (TP-ST; 0 delivered) at `discharged`.
struct StatusReport {
    std::string service_centre;
    std::uint8_t reference = 0;
    std::string recipient;
    TimeStamp centre_time;
    TimeStamp discharged;
    std::uint8_t status = 0;
};
std::string BuildStatusReport(const StatusReport& report);

// The SMS-DELIVER PDUs that carry a text (UTF-8) from `originator`: GSM 7-bit when
// every character is in the default alphabet or its extension, UCS2 otherwise; a
// text longer than one message goes as segments with a concatenation header of
// reference `reference`.
std::vector<std::string> DeliversForText(std::string_view utf8, const std::string& originator,
                                         const std::string& service_centre, const TimeStamp& time,
                                         std::uint8_t reference);

// Text as the messages and the SIM's phone book carry it. UTF-8 to characters (a
// malformed sequence gives "?"), and back.
std::u32string DecodeUtf8(std::string_view utf8);
void AppendUtf8(std::string& out, char32_t ch);
// The septets of the GSM default alphabet for a text, two for a character of its
// extension table; nothing when a character is outside both.
std::optional<Octets> GsmSeptets(const std::u32string& text);
// UTF-16, a character beyond the BMP as a surrogate pair.
std::u16string Utf16Units(const std::u32string& text);
// Septets packed seven bits each from the first octet on, the spare bits 0.
Octets PackSeptets(const Octets& septets);
// The first `count` septets packed in `octets`.
Octets UnpackSeptets(const Octets& octets, std::size_t count);
// Septets as UTF-8 text.
std::string SeptetsText(const Octets& septets);

// The text of user data as UTF-8 (7-bit or UCS2; 8-bit data as hexadecimal), the
// header left out. For people reading a store or transcript.
std::string UserDataText(const UserData& data);

}  // namespace velka::modemsim
