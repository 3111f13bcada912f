// Sending one message record: the signature text in front of the text, the choice
// of GSM 7-bit or UCS2, the split of a long text into numbered segments with a
// concatenation header, and each segment's "AT+CMGS=" exchange.
// Threads: the worker's thread, with the modem initialised (modem/dialogue.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "modem/dialogue.h"
#include "serial/ser_port.h"
#include "store/packet.h"

namespace velka {
class Registry;
}

namespace velka::modem {

// Two lines in Latin letters, so that the signature never forces UCS2 by itself.
inline constexpr std::string_view kSignature = "Velka SMS\r\nhttps://velka-sms.example\r\n";

inline constexpr std::size_t kGsm7Limit = 160;
inline constexpr std::size_t kUcs2Limit = 70;
// A segment gives 7 characters of its message to the concatenation header.
inline constexpr std::size_t kConcatenationHeaderCost = 7;

// Without an answer to a written PDU for this long, the send counts as failed.
inline constexpr auto kConfirmationLimit = std::chrono::seconds(60);

inline constexpr std::string_view kReferenceKey = "\\SOFTWARE\\Velka\\SMSConfig";
inline constexpr std::string_view kReferenceValue = "MessageRef";

// How a text goes out: its coding selector and its pieces, one per message. More
// than one piece means numbered segments sharing one message reference.
struct TextPlan {
    std::int32_t coding = 0;
    std::vector<std::string> pieces;
};

// Plans the body (signature and text, Windows-1251 bytes): UCS2 when it holds a
// byte from 0xC0 to 0xFF (the Russian letters), else 7-bit; one message up to the
// coding's limit, else segments of the limit less 7, the last one taking the rest.
TextPlan PlanText(std::string_view body);

// The user data header of segment `number` (from 1) of `count`: "050003", the
// reference and the two numbers as two upper-case hexadecimal digits each.
std::string SegmentHeader(std::string_view reference, std::size_t count, std::size_t number);

// The next message reference as two upper-case hexadecimal digits, 01 to FF, kept
// in the registry as "MessageRef": a stored value from 0 to 254 gives that value
// plus one, anything else gives 01, and the result is stored. When the key cannot
// be opened or created, a random reference from 01 to FC, stored nowhere. Registry
// errors are dropped: a reference is always given.
std::string NextMessageReference(Registry& registry);

enum class SendResult {
    Sent,        // every message of the text was confirmed by "+CMGS:"
    Failed,      // a message was refused or not confirmed; worth trying again later
    Unsendable,  // no PDU can be built (an empty or invalid number): nothing was written
};

// Sends the record's text to its number. Stops at the first message that fails and
// writes nothing after it; a text sent again later gets a new reference. Nothing
// about the record changes. `context` as for SendPdu.
SendResult SendText(TComPort& port, const packet& record, const std::atomic<bool>& stop,
                    Registry& registry, ModemContext* context = nullptr);

// One PDU (hexadecimal, SMSC part included): "AT+CMGS=<length>", the prompt ">"
// awaited up to 1,000 ticks, the PDU and Ctrl-Z, then the answer. True at
// "+CMGS:"; false at an error answer, after 60 s without an answer, on the stop
// flag or a port failure. A busy answer (IsBusyAnswer), to the command or to the
// PDU, sends both again after a growing pause, as RunCommand does. "+CMTI" and
// other unsolicited lines in between are read past; with a context, direct
// deliveries among them go to context->deliveries and silence is noted there.
bool SendPdu(TComPort& port, const std::string& pdu, const std::atomic<bool>& stop,
             ModemContext* context = nullptr);

}  // namespace velka::modem
