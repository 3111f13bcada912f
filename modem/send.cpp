#include "modem/send.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <random>

#include "modem/dialogue.h"
#include "modem/pdu_octets.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "serial/ser_except.h"
#include "sms/smsbase.h"

namespace velka::modem {
namespace {

constexpr std::uint32_t kLastReference = 255;
constexpr char kCtrlZ = '\x1A';

std::string Hex2(std::uint32_t value) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(value & 0xFF));
    return digits;
}

std::uint32_t FallbackReference() {
    std::mt19937 random(static_cast<std::uint32_t>(std::time(nullptr)));
    return random() % 252 + 1;
}

bool ContainsIgnoreCase(std::string_view line, std::string_view marker) {
    const std::string upper = codepage::Upper(line);
    return upper.find(marker) != std::string::npos;
}

// After the PDU: the modem's answer, past echo and unsolicited lines. The final
// "OK" that follows "+CMGS:" is read too, so that it does not linger in the input.
Outcome AwaitConfirmation(AnswerReader& reader, Confirmation& confirmation) {
    const auto deadline = Clock::now() + kConfirmationLimit;
    while (const auto line = reader.NextLine(deadline)) {
        if (ContainsIgnoreCase(*line, "+CMGS:")) {
            confirmation.reference = ConfirmedReference(*line);
            // Sent once "+CMGS:" has come; a missing "OK" after it changes nothing.
            IgnoreFailure(reader.AwaitFinalResult(deadline));
            return Outcome::Ok;
        }
        if (ClassifyLine(*line) == LineKind::Error) {
            reader.NoteRefusal(*line);
            return IsBusyAnswer(*line) ? Outcome::Busy : Outcome::Error;
        }
    }
    if (reader.stopped()) return Outcome::Stopped;
    reader.NoteSilence();
    return Outcome::Silent;
}

// One try: the command, the prompt, the PDU and its confirmation.
Outcome TrySend(TComPort& port, AnswerReader& reader, const std::string& pdu, std::size_t length,
                Confirmation& confirmation) {
    if (!WriteCommand(port, "AT+CMGS=" + std::to_string(length))) return Outcome::Silent;
    const Outcome prompt = reader.AwaitPrompt(DeadlineIn(kPromptTicks));
    if (prompt != Outcome::Ok) return prompt;
    try {
        port.PutString(pdu + kCtrlZ);
    } catch (const ESerialException&) {
        return Outcome::Silent;
    }
    return AwaitConfirmation(reader, confirmation);
}

TextPlan PlanOf(const packet& record, SegmentRoom room, std::u16string_view whole) {
    return PlanOutgoingText(whole.empty() ? codepage::ToUtf16(record.text_text()) : whole, room);
}

}  // namespace

std::string SegmentHeader(std::string_view reference, std::size_t count, std::size_t number) {
    return "050003" + std::string(reference) + Hex2(static_cast<std::uint32_t>(count)) +
           Hex2(static_cast<std::uint32_t>(number));
}

std::vector<std::string> SubmitPdus(const TextPlan& plan, std::string_view number,
                                    std::string_view reference, DeliveryReports reports) {
    std::vector<std::string> pdus;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        TSMS sms;
        sms.Whole = plan.pieces[i];
        sms.Number = std::string(number);
        sms.Coding = plan.coding;
        sms.StatusReport = reports == DeliveryReports::Requested;
        if (plan.pieces.size() > 1) sms.UDH = SegmentHeader(reference, plan.pieces.size(), i + 1);
        std::string pdu = sms.EncodeSubmit();
        if (pdu.empty()) return {};
        pdus.push_back(std::move(pdu));
    }
    return pdus;
}

std::string NextMessageReference(Registry& registry) {
    const std::string key(kReferenceKey);
    const std::string name(kReferenceValue);
    if (!registry.CreateKey(key)) return Hex2(FallbackReference());
    std::uint32_t reference = FallbackReference();
    if (const auto stored = registry.ReadDWord(key, name)) reference = *stored;
    // The value is signed in the registry's eyes: 0x80000000 and up are negative.
    if (reference >= kLastReference) reference = 0;
    ++reference;
    // A counter the registry will not take gives its reference again to the next
    // long text. That is harmless: a text's segments are all sent before the next
    // text begins, so the receiver never sees two texts' segments interleaved.
    IgnoreFailure(registry.WriteDWord(key, name, reference));
    return Hex2(reference);
}

std::size_t MessageCountOf(const packet& record, SegmentRoom room, std::u16string_view whole) {
    return PlanOf(record, room, whole).pieces.size();
}

std::vector<std::string> EncodeText(const packet& record, std::string& reference,
                                    Registry& registry, DeliveryReports reports, SegmentRoom room,
                                    std::u16string_view whole) {
    const TextPlan plan = PlanOf(record, room, whole);
    if (reference.empty() && plan.pieces.size() > 1) reference = NextMessageReference(registry);
    return SubmitPdus(plan, record.number_text(), reference, reports);
}

int ConfirmedReference(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return -1;
    const std::string_view rest = TrimBlanks(line.substr(colon + 1));
    int value = -1;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    // Some modems add the SMSC's time stamp after a comma; the reference comes first.
    const bool whole = end == rest.data() + rest.size() || *end == ',';
    return error == std::errc() && whole && value >= 0 && value <= 255 ? value : -1;
}

std::optional<std::size_t> TpduLength(std::string_view pdu) {
    const auto start = TpduStart(pdu);
    if (!start || pdu.size() % 2 != 0 || pdu.size() <= *start) return std::nullopt;
    return (pdu.size() - *start) / 2;
}

std::optional<Confirmation> SendPdu(TComPort& port, const std::string& pdu,
                                    const std::atomic<bool>& stop, ModemContext& context) {
    const auto length = TpduLength(pdu);
    if (!length) return std::nullopt;
    AnswerReader reader(port, stop, context);
    context.refusal.clear();
    BusyRetry retry;
    for (;;) {
        Confirmation confirmation;
        const Outcome outcome = TrySend(port, reader, pdu, *length, confirmation);
        if (outcome == Outcome::Ok) return confirmation;
        if (outcome != Outcome::Busy || !retry.Wait(reader)) return std::nullopt;
    }
}

}  // namespace velka::modem
