// The SMS-SUBMIT encoder: whatever its inputs, it gives either nothing or the PDU
// of one SMS, which goes onto the modem line as it stands. So the PDU must be
// upper-case hexadecimal of even length, its length octets must hold what follows
// them within the limits of one SMS, and the length the send path gives "AT+CMGS="
// must count exactly the octets after the SMSC part.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

constexpr int32_t kCodings[] = {kCodingGsm7, kCodingUcs2, kCodingAuto};

TSMS MakeInputs(FuzzedDataProvider& input) {
    TSMS sms;
    sms.Coding = input.PickValueInArray(kCodings);
    sms.Flash = input.ConsumeBool();
    sms.StatusReport = input.ConsumeBool();
    sms.ReplyPath = input.ConsumeBool();
    sms.MessageReference = input.ConsumeRandomLengthString(4);
    sms.Number = input.ConsumeRandomLengthString(300);
    sms.UDH = input.ConsumeRandomLengthString(600);
    sms.Text = input.ConsumeRemainingBytesAsString();
    return sms;
}

int32_t OctetAt(const std::string& pdu, std::size_t digit) {
    return static_cast<int32_t>(std::stoul(pdu.substr(digit, 2), nullptr, 16));
}

// The characters of the 7-bit alphabet's extension table: each goes out as two
// septets, the escape and its code.
constexpr std::u16string_view kExtensionCharacters = u"\f^{}\\[~]|\u20AC";

// Whether the text and header overflow one SMS, counted apart from the encoder:
// one code unit per Windows-1251 byte, two septets for an extension character in
// 7-bit, a 7-bit header taking its septets with fill.
bool OverflowsOneSms(const TSMS& sms) {
    const std::u16string text = codepage::ToUtf16(sms.Text);
    const bool gsm7 = sms.Coding == kCodingGsm7 ||
                      (sms.Coding == kCodingAuto && DetectCoding(text) == kCodingGsm7);
    const auto header = static_cast<int64_t>(sms.UDH.size() / 2);
    const auto units = static_cast<int64_t>(text.size());
    if (gsm7) {
        int64_t septets = 0;
        for (const char16_t unit : text)
            septets += kExtensionCharacters.find(unit) == std::u16string_view::npos ? 1 : 2;
        const int64_t header_septets = header > 0 ? (header - 1) + (header - 1) / 7 + 2 : 0;
        return header_septets + septets > kMaxUserDataSeptets;
    }
    return header + 2 * units > kMaxUserDataOctets;
}

// The PDU's fields read back by position: SMSC "00", first octet, reference, the
// address (length octet, type, digits), protocol, coding scheme, validity period,
// user data length, user data.
void CheckFields(const TSMS& sms, const std::string& pdu) {
    FUZZ_CHECK(pdu.starts_with("00"));
    const int32_t address_digits = OctetAt(pdu, 6);
    FUZZ_CHECK(address_digits >= 1 &&
               static_cast<std::size_t>(address_digits) <= kMaxAddressDigits);
    const std::size_t coding_at =
        10 + static_cast<std::size_t>(address_digits + address_digits % 2) + 2;
    const int32_t coding_scheme = OctetAt(pdu, coding_at);
    const int32_t user_data_length = OctetAt(pdu, coding_at + 4);
    const auto user_data_octets = static_cast<int32_t>((pdu.size() - coding_at - 6) / 2);
    FUZZ_CHECK(user_data_octets <= kMaxUserDataOctets);
    if ((coding_scheme & 0x0C) == 0) {  // 7-bit: the length counts septets, the header's too
        FUZZ_CHECK(user_data_length <= kMaxUserDataSeptets);
        FUZZ_CHECK(user_data_octets == (7 * user_data_length + 7) / 8);
    } else {
        FUZZ_CHECK(user_data_length == user_data_octets);
    }
    FUZZ_CHECK(sms.UDH.empty() || user_data_octets >= static_cast<int32_t>(sms.UDH.size() / 2));
}

// What a fresh TSMS reads from the PDU, as the send path and the far end read it.
void CheckParsed(const TSMS& sms, const std::string& pdu) {
    TSMS parsed;
    parsed.ParsePDU(pdu);
    // The length the send path writes after "AT+CMGS=": the octets after the SMSC part.
    FUZZ_CHECK(parsed.TPDULength == sms.TPDULength);
    FUZZ_CHECK(static_cast<std::size_t>(sms.TPDULength) == (pdu.size() - 2) / 2);
    FUZZ_CHECK(parsed.IsSubmit);
    FUZZ_CHECK(parsed.DecodeSender() == sms.Number);
    const std::string text = parsed.DecodeText();
    FUZZ_CHECK(codepage::Upper(parsed.UDH) == codepage::Upper(sms.UDH));
    if (parsed.Alphabet == 2) {  // UCS2 carries every Windows-1251 byte as it is
        FUZZ_CHECK(text ==
                   TSMS::NormalizeLineBreaks(codepage::FromUtf16(codepage::ToUtf16(sms.Text))));
    }
}

}  // namespace
}  // namespace velka

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    velka::TSMS sms = velka::MakeInputs(input);
    sms.TPDULength = -7;
    const velka::SubmitProblem problem = sms.CheckSubmit();
    const std::string pdu = sms.EncodeSubmit();

    FUZZ_CHECK(pdu.empty() == (problem != velka::SubmitProblem::None));
    // Valid number, header and reference: refused exactly when over one SMS.
    if (problem == velka::SubmitProblem::None || problem == velka::SubmitProblem::UserDataTooLong) {
        FUZZ_CHECK((problem == velka::SubmitProblem::UserDataTooLong) ==
                   velka::OverflowsOneSms(sms));
    }
    if (pdu.empty()) {
        FUZZ_CHECK(sms.TPDULength == 0);
        return 0;
    }
    FUZZ_CHECK(pdu.size() % 2 == 0 && velka::fuzz::IsUpperHex(pdu));
    velka::CheckFields(sms, pdu);
    velka::CheckParsed(sms, pdu);
    return 0;
}
