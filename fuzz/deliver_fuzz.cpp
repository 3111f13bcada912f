// The SMS-DELIVER reader: the listing hands the decoder any line of hexadecimal
// digits the modem sends, so ParsePDU and the decode functions must take anything
// without reading outside it, and give bounded, repeatable answers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "sms/received.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

// 255 septets or bytes at most, each line break doubled by NormalizeLineBreaks.
constexpr std::size_t kLongestText = 2 * 255;
// An address length octet of 255 rounds up to 256 digits, and "+" may lead.
constexpr std::size_t kLongestSender = 256 + 1;

void CheckTimeStamp(const TSMS& sms) {
    try {
        const std::string stamp = sms.DecodeTimeStamp();
        // "06.12.2026 20:52:41", or the date alone at midnight; empty for an SMS-SUBMIT.
        FUZZ_CHECK(stamp.empty() || stamp.size() == 10 || stamp.size() == 18 || stamp.size() == 19);
        FUZZ_CHECK(stamp.empty() == sms.IsSubmit);
    } catch (const EConvertError&) {
        // the one failure the decoder reports by raising
    }
}

void DecodeMessage(std::string_view pdu) {
    TSMS sms;
    sms.ParsePDU(pdu);
    FUZZ_CHECK(sms.PDU == pdu);
    FUZZ_CHECK(sms.Alphabet >= 0 && sms.Alphabet <= 3);
    FUZZ_CHECK(sms.AddressLength % 2 == 0 && sms.AddressLength <= 256);
    FUZZ_CHECK(sms.DecodeSender().size() <= kLongestSender);
    CheckTimeStamp(sms);
    const std::string text = sms.DecodeText();
    FUZZ_CHECK(text.size() <= kLongestText);
    FUZZ_CHECK(sms.DecodeText() == text);  // DecodeText leaves PDU alone
    FUZZ_CHECK(sms.UDL >= 0 && sms.UDL <= 255);
    // What the inbox keeps of it: the whole text no longer than its words (the
    // indications, which a header may hold dozens of) and the longest text, a
    // payload only for 8-bit data, and never raw bytes in place of a description.
    const ReceivedMessage received = ReadReceived(pdu);
    FUZZ_CHECK(received.whole.size() <= received.text.size() + kLongestText);
    FUZZ_CHECK(received.data.size() <= 255);
    FUZZ_CHECK(received.is_data || received.data.empty());
    FUZZ_CHECK(!received.is_data || received.text.find('\0') == std::string::npos);
}

// The free conversions, on the same bytes.
void Convert(std::string_view input) {
    FUZZ_CHECK(SwapSemiOctets(SwapSemiOctets(input)) == input);
    FUZZ_CHECK(UnpackSeptets(input).size() <= input.size() / 2 + input.size() / 14 + 1);
    FUZZ_CHECK(GsmToAnsi(input).size() <= input.size());
    const std::string normal = TSMS::NormalizeLineBreaks(input);
    FUZZ_CHECK(TSMS::NormalizeLineBreaks(normal) == normal);
    FUZZ_CHECK(TSMS::DecodeAddress(input).size() <= input.size());
    try {
        FUZZ_CHECK(HexToBytes(input).size() == input.size() / 2);
    } catch (const EConvertError&) {
    }
    try {
        FUZZ_CHECK(HexToUcs2(input).size() == (input.size() + 3) / 4);
    } catch (const EConvertError&) {
    }
}

}  // namespace
}  // namespace velka

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    velka::DecodeMessage(input);
    velka::Convert(input);
    return 0;
}
