// velka-pdu: the client's PDU codec on the command line, for people who debug modems.
//
//   velka-pdu decode [--hex] PDU
//   velka-pdu encode [--udh HEX] [--coding 0|2|-1] [--hex-text] NUMBER TEXT
//
// Texts on the command line and in the output are UTF-8; --hex shows the
// Windows-1251 bytes of each decoded field, and --hex-text takes TEXT as such bytes.
// Bad input gets a message on stderr and exit status 2.
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace {

constexpr int kBadInput = 2;

constexpr const char* kUsage =
    "usage: velka-pdu decode [--hex] PDU\n"
    "       velka-pdu encode [--udh HEX] [--coding 0|2|-1] [--hex-text] NUMBER TEXT\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "velka-pdu: %s\n", message.c_str());
    return kBadInput;
}

int Usage() {
    std::fputs(kUsage, stderr);
    return kBadInput;
}

bool IsHexText(std::string_view text) {
    return text.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

std::string BytesAsHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (char ch : bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0xF]);
    }
    return hex;
}

// Windows-1251 bytes given as hexadecimal text, or nothing when it isn't.
std::optional<std::string> BytesOfHex(std::string_view hex) {
    if (hex.size() % 2 != 0 || !IsHexText(hex)) return std::nullopt;
    return velka::HexToBytes(hex);
}

int Decode(std::span<char*> args) {
    bool hex = false;
    std::optional<std::string_view> pdu;
    for (std::string_view arg : args) {
        if (arg == "--hex") {
            hex = true;
        } else if (!arg.starts_with("--") && !pdu) {
            pdu = arg;
        } else {
            return Usage();
        }
    }
    if (!pdu) return Usage();
    if (pdu->empty() || !IsHexText(*pdu)) {
        return Fail("the PDU must be hexadecimal digits, two per octet");
    }

    velka::TSMS sms;
    sms.ParsePDU(*pdu);
    const std::string sender = sms.DecodeSender();
    std::string timestamp;
    std::string timestamp_error;
    try {
        timestamp = sms.DecodeTimeStamp();
    } catch (const velka::EConvertError& error) {
        timestamp_error = error.what();
    }
    const std::string text = sms.DecodeText();

    const auto show = [hex](std::string_view cp1251) {
        return hex ? BytesAsHex(cp1251) : velka::codepage::ToUtf8(cp1251);
    };
    std::printf("sender: %s\n", show(sender).c_str());
    std::printf("timestamp: %s\n", show(timestamp).c_str());
    std::printf("udh: %s\n", show(sms.UDH).c_str());
    std::printf("text: %s\n", show(text).c_str());
    if (!timestamp_error.empty()) return Fail("bad time stamp: " + timestamp_error);
    return 0;
}

std::optional<int> ParseCoding(std::string_view text) {
    if (text == "0") return velka::kCodingGsm7;
    if (text == "2") return velka::kCodingUcs2;
    if (text == "-1") return velka::kCodingAuto;
    return std::nullopt;
}

std::string AddressMessage(velka::AddressProblem problem) {
    if (problem == velka::AddressProblem::TooLong) {
        return "the number must have at most " + std::to_string(velka::kMaxAddressDigits) +
               " digits";
    }
    return "the number must be digits, with an optional leading '+'";
}

// Why EncodeSubmit gave no PDU.
std::string SubmitMessage(const velka::TSMS& sms) {
    switch (sms.CheckSubmit()) {
        case velka::SubmitProblem::BadNumber:
            return AddressMessage(velka::TSMS::CheckAddress(sms.Number));
        case velka::SubmitProblem::BadHeader:
            return "--udh must be whole octets of hexadecimal digits, the first one counting "
                   "the octets after it";
        case velka::SubmitProblem::BadReference:
            return "the message reference must be two hexadecimal digits";
        case velka::SubmitProblem::UserDataTooLong:
            return "the text does not fit in one SMS: at most " +
                   std::to_string(velka::kMaxUserDataSeptets) + " septets (GSM 7-bit) or " +
                   std::to_string(velka::kMaxUserDataOctets) +
                   " octets (UCS2), the header included";
        case velka::SubmitProblem::None:
            break;
    }
    return "the PDU could not be built";
}

int Encode(std::span<char*> args) {
    velka::TSMS sms;
    sms.Coding = velka::kCodingAuto;
    bool hex_text = false;
    std::vector<std::string_view> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool has_value = i + 1 < args.size();
        if (arg == "--udh" && has_value) {
            sms.UDH = args[++i];
        } else if (arg == "--coding" && has_value) {
            const std::optional<int> coding = ParseCoding(args[++i]);
            if (!coding) return Fail("--coding takes 0 (GSM 7-bit), 2 (UCS2) or -1 (automatic)");
            sms.Coding = *coding;
        } else if (arg == "--hex-text") {
            hex_text = true;
        } else if (arg.starts_with("--")) {
            return Usage();
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() != 2) return Usage();

    sms.Number = operands[0];
    if (const velka::AddressProblem problem = velka::TSMS::CheckAddress(sms.Number);
        problem != velka::AddressProblem::None) {
        return Fail(AddressMessage(problem));
    }
    if (hex_text) {
        const std::optional<std::string> bytes = BytesOfHex(operands[1]);
        if (!bytes) return Fail("--hex-text: TEXT must be hexadecimal digits, two per byte");
        sms.Text = *bytes;
    } else {
        sms.Text = velka::codepage::FromUtf8(operands[1]);
    }
    const std::string pdu = sms.EncodeSubmit();
    if (pdu.empty()) return Fail(SubmitMessage(sms));
    std::printf("pdu: %s\ntpdu_length: %d\n", pdu.c_str(), sms.TPDULength);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string_view command = argv[1];
    const std::span<char*> args(argv + 2, static_cast<size_t>(argc - 2));
    if (command == "decode") return Decode(args);
    if (command == "encode") return Encode(args);
    return Usage();
}
