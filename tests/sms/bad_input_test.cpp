// The decoder reads text from the network: whatever it is given, it must answer
// with its lenient defaults, never read outside the PDU and never fail otherwise.
// Seeded, so every run sees the same inputs; the sanitizer build runs it too.
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

constexpr size_t kLongestText = 2 * 255;  // 255 characters at most, each line break doubled

class BadInput : public ::testing::Test {
  protected:
    std::mt19937 random_{20261207};

    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

    // Runs every decoding operation on pdu and checks what always holds.
    void Decode(std::string_view pdu) {
        TSMS sms;
        sms.ParsePDU(pdu);
        EXPECT_LE(sms.DecodeSender().size(), 256u + 1);
        try {
            const std::string stamp = sms.DecodeTimeStamp();
            EXPECT_TRUE(stamp.empty() || (stamp.size() >= 10 && stamp.size() <= 19)) << stamp;
        } catch (const EConvertError&) {
            // the one failure the decoder reports by raising
        }
        const std::string text = sms.DecodeText();
        EXPECT_LE(text.size(), kLongestText);
        EXPECT_EQ(sms.DecodeText(), text) << pdu;
        ++decoded_;
    }

    std::string RandomHex(int length, bool any_byte) {
        static constexpr char kDigits[] = "0123456789ABCDEFabcdef";
        std::string hex;
        for (int i = 0; i < length; ++i) {
            hex.push_back(any_byte && Below(8) == 0 ? static_cast<char>(Below(256))
                                                    : kDigits[Below(any_byte ? 22 : 16)]);
        }
        return hex;
    }

    std::string RandomNumber() {
        std::string number = Below(2) ? "+" : "";
        for (int i = Below(20) + 1; i > 0; --i)
            number.push_back(static_cast<char>('0' + Below(10)));
        return number;
    }

    // A text that comes back unchanged from either coding: GSM characters for 7-bit,
    // any byte but a line break for UCS2.
    std::string RandomText(bool gsm7) {
        static constexpr char kGsmSafe[] = "abcXYZ0129 @$_!?.,:;'\"#%&*+-/<=>()";
        std::string text;
        for (int i = Below(gsm7 ? 150 : 64); i > 0; --i) {
            char ch = gsm7 ? kGsmSafe[Below(sizeof kGsmSafe - 1)] : static_cast<char>(Below(256));
            if (ch == '\r' || ch == '\n') ch = 'x';
            text.push_back(ch);
        }
        return text;
    }

    std::string RandomHeader() {
        if (Below(3) == 0) return "";
        if (Below(2) == 0) return "0500030A0201";
        const int length = Below(10);
        std::string header(2, '0');
        header[1] = "0123456789"[length];
        return header + RandomHex(2 * length, false);
    }

    // A well-formed SMS-DELIVER of a random message; checks that it decodes to it.
    std::string ValidDeliver() {
        TSMS encoder;
        const bool gsm7 = Below(2) == 0;
        encoder.Coding = gsm7 ? kCodingGsm7 : kCodingUcs2;
        encoder.Text = RandomText(gsm7);
        encoder.Number = RandomNumber();
        encoder.UDH = RandomHeader();
        const std::string submit = encoder.EncodeSubmit();
        const std::string address = *TSMS::EncodeAddress(encoder.Number);
        const std::string dcs = submit.substr(8 + address.size(), 2);
        const std::string user_data = submit.substr(12 + address.size());
        const std::string smsc = Below(2) ? "00" : "07910700000000F0";
        const std::string first_octet = encoder.UDH.empty() ? "04" : "44";
        const std::string pdu =
            smsc + first_octet + address + "00" + dcs + "62216002251421" + user_data;

        TSMS decoder;
        decoder.ParsePDU(pdu);
        EXPECT_EQ(decoder.DecodeSender(), encoder.Number);
        EXPECT_EQ(decoder.DecodeTimeStamp(), "06.12.2026 20:52:41");
        EXPECT_EQ(decoder.DecodeText(), encoder.Text) << pdu;
        EXPECT_EQ(decoder.UDH, encoder.UDH);
        return pdu;
    }

    std::string Corrupt(std::string pdu) {
        for (int changes = Below(4) + 1; changes > 0 && !pdu.empty(); --changes) {
            const size_t at = static_cast<size_t>(Below(static_cast<int>(pdu.size())));
            switch (Below(4)) {
                case 0:
                    pdu[at] = RandomHex(1, true)[0];
                    break;
                case 1:
                    pdu.erase(at, 1);
                    break;
                case 2:
                    pdu.insert(at, 1, RandomHex(1, true)[0]);
                    break;
                default:
                    pdu[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(pdu[at])));
                    break;
            }
        }
        return pdu;
    }

    int decoded_ = 0;
};

TEST_F(BadInput, RandomHexadecimalTextOfAnyLength) {
    for (int i = 0; i < 20000; ++i) Decode(RandomHex(Below(320), i % 2 == 1));
    EXPECT_EQ(decoded_, 20000);
}

TEST_F(BadInput, EveryTruncationOfWellFormedPdus) {
    for (int i = 0; i < 300; ++i) {
        const std::string pdu = ValidDeliver();
        for (size_t length = 0; length <= pdu.size(); ++length) Decode(pdu.substr(0, length));
    }
    EXPECT_GT(decoded_, 20000);
}

TEST_F(BadInput, CorruptedWellFormedPdus) {
    for (int i = 0; i < 1000; ++i) {
        const std::string pdu = ValidDeliver();
        for (int j = 0; j < 20; ++j) Decode(Corrupt(pdu));
    }
    EXPECT_EQ(decoded_, 20000);
}

TEST_F(BadInput, LengthFieldsAtTheirLargest) {
    Decode("FF");
    Decode("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    Decode("00FF00FFFF");
    Decode(
        "0044"
        "0B911732547698F0"
        "0000"
        "62216002251421"
        "FFFF");
    Decode(
        "0044"
        "0B911732547698F0"
        "0008"
        "62216002251421"
        "FFFF");
    Decode(
        "0044"
        "0B911732547698F0"
        "0004"
        "62216002251421"
        "FFFF" +
        std::string(600, '0'));
    Decode(std::string(100000, 'F'));
    EXPECT_EQ(decoded_, 7);
}

}  // namespace
}  // namespace velka
