// Sending one message record, behind Session::Send: the signature text in front of
// the text, the choice of GSM 7-bit or UCS2, the split of a long text into numbered
// segments with a concatenation header, and each segment's "AT+CMGS=" exchange.
// Threads: the session's, with the modem initialised (modem/dialogue.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modem/dialogue.h"
#include "serial/ser_port.h"
#include "sms/text_plan.h"
#include "store/packet.h"

namespace velka {
class Registry;
}

namespace velka::modem {

// Without an answer to a written PDU for this long, the send counts as failed.
inline constexpr auto kConfirmationLimit = std::chrono::seconds(60);

inline constexpr std::string_view kReferenceKey = "\\SOFTWARE\\Velka\\SMSConfig";
inline constexpr std::string_view kReferenceValue = "MessageRef";

// The user data header of segment `number` (from 1) of `count`: "050003", the
// reference and the two numbers as two upper-case hexadecimal digits each.
std::string SegmentHeader(std::string_view reference, std::size_t count, std::size_t number);

// The SMS-SUBMIT PDUs of a plan to `number`, one per piece, segments carrying
// `reference` (two hexadecimal digits) in their headers; nothing when the number
// cannot be encoded.
std::vector<std::string> SubmitPdus(const TextPlan& plan, std::string_view number,
                                    std::string_view reference,
                                    DeliveryReports reports = DeliveryReports::Off);

// The next message reference as two upper-case hexadecimal digits, 01 to FF, kept
// in the registry as "MessageRef": a stored value from 0 to 254 gives that value
// plus one, anything else gives 01, and the result is stored. When the key cannot
// be opened or created, a random reference from 01 to FC, stored nowhere. Registry
// errors are dropped: a reference is always given.
std::string NextMessageReference(Registry& registry);

// The PDUs of the record's text, one per message, in order, cut as `room` says;
// segments carry `reference` (two hexadecimal digits) in their headers, a new one
// from NextMessageReference when it is empty and the text has several. Nothing when
// the number cannot be encoded. The same record, reference and room always give the
// same PDUs, so a text cut short can go on with its next segment. `whole`, when
// set, is the text instead of the record's: its whole form, which the record's
// Windows-1251 field could not hold.
std::vector<std::string> EncodeText(const packet& record, std::string& reference,
                                    Registry& registry, DeliveryReports reports,
                                    SegmentRoom room = SegmentRoom::Designed,
                                    std::u16string_view whole = {});

// The message reference of a "+CMGS:" line: 0 to 255, or -1 when it has none.
int ConfirmedReference(std::string_view line);

// One PDU (hexadecimal, SMSC part included): "AT+CMGS=<length>", the prompt ">"
// awaited up to 1,000 ticks, the PDU and Ctrl-Z, then the answer. The confirmation
// at "+CMGS:"; nothing at an error answer, after 60 s without an answer, on the stop
// flag or a port failure. A busy answer (IsBusyAnswer), to the command or to the
// PDU, sends both again after a growing pause, as RunCommand does. "+CMTI" and
// other unsolicited lines in between are read past; direct
// deliveries among them go to context.deliveries and silence is noted there; the
// context keeps an error answer as the refusal.
[[nodiscard]] std::optional<Confirmation> SendPdu(TComPort& port, const std::string& pdu,
                                                  const std::atomic<bool>& stop,
                                                  ModemContext& context);

// The length "AT+CMGS=" names: the PDU's octets after its SMSC part. Nothing for
// a PDU whose SMSC part does not fit it.
std::optional<std::size_t> TpduLength(std::string_view pdu);

}  // namespace velka::modem
