// Building SMS-SUBMIT PDUs.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

constexpr char kRussianPri[] = "\xCF\xF0\xE8";  // "При"
constexpr char kConcatenationHeader[] = "0500030A0201";

std::string Encode(std::string_view text, std::string_view number = "+71234567890",
                   std::string_view header = "", int32_t coding = kCodingGsm7,
                   int32_t* tpdu_length = nullptr) {
    TSMS sms;
    sms.Text = text;
    sms.Number = number;
    sms.UDH = header;
    sms.Coding = coding;
    std::string pdu = sms.EncodeSubmit();
    if (tpdu_length) *tpdu_length = sms.TPDULength;
    return pdu;
}

// The user data length octet of an encoded PDU to +71234567890.
std::string UserDataLength(const std::string& pdu) {
    return pdu.substr(28, 2);
}

TEST(EncodeAddress, SwapsDigitPairsAndPadsAnOddCountWithF) {
    EXPECT_EQ(TSMS::EncodeAddress("+71234567890"), "0B911732547698F0");
    EXPECT_EQ(TSMS::EncodeAddress("89001234567"), "0B819800214365F7");
    EXPECT_EQ(TSMS::EncodeAddress("1234"), "04812143");
}

TEST(EncodeAddress, AnythingButDigitsAfterAnOptionalPlusIsRefused) {
    for (const char* number : {"", "+", "++7123", "7123\r", "7123;", "+7 123", "(7)123", "7123a",
                               "71+23", "\r\nAT+CMGD=1\r"}) {
        EXPECT_EQ(TSMS::EncodeAddress(number), std::nullopt) << number;
    }
}

TEST(EncodeSubmit, SevenBitTextWithoutHeader) {
    int32_t length = 0;
    EXPECT_EQ(Encode("Hi", "+71234567890", "", kCodingGsm7, &length),
              "0011000B911732547698F00000FF02C834");
    EXPECT_EQ(length, 16);
}

TEST(EncodeSubmit, SevenBitTextAfterAConcatenationHeader) {
    int32_t length = 0;
    EXPECT_EQ(Encode("Hi", "+71234567890", kConcatenationHeader, kCodingGsm7, &length),
              "0051000B911732547698F00000FF090500030A02019069");
    EXPECT_EQ(length, 22);
}

TEST(EncodeSubmit, Ucs2TextWithAndWithoutHeader) {
    EXPECT_EQ(Encode(kRussianPri, "+71234567890", "", kCodingUcs2),
              "0011000B911732547698F00008FF06041F04400438");
    EXPECT_EQ(Encode(kRussianPri, "+71234567890", kConcatenationHeader, kCodingUcs2),
              "0051000B911732547698F00008FF0C0500030A0201041F04400438");
}

// Ё once went out in 7-bit as "?": any character the alphabet lacks takes UCS2.
TEST(EncodeSubmit, AutomaticCodingChoosesUcs2ForWhatTheAlphabetLacks) {
    const auto dcs = [](const std::string& pdu) { return pdu.substr(24, 2); };
    EXPECT_EQ(dcs(Encode(kRussianPri, "+71234567890", "", kCodingAuto)), "08");
    EXPECT_EQ(dcs(Encode("Hi \xA8", "+71234567890", "", kCodingAuto)), "08");
    EXPECT_EQ(dcs(Encode("Hi [\x88]", "+71234567890", "", kCodingAuto)), "00");
}

TEST(EncodeSubmit, FullSegmentsGiveTheLargestUserDataLength) {
    EXPECT_EQ(UserDataLength(Encode(std::string(160, 'a'))), "A0");
    EXPECT_EQ(UserDataLength(Encode(std::string(153, 'a'), "+71234567890", kConcatenationHeader)),
              "A0");
    const std::string russian(1, '\xC0');
    std::string seventy, sixty_seven;
    for (int i = 0; i < 70; ++i) seventy += russian;
    for (int i = 0; i < 67; ++i) sixty_seven += russian;
    EXPECT_EQ(UserDataLength(Encode(seventy, "+71234567890", "", kCodingUcs2)), "8C");
    EXPECT_EQ(
        UserDataLength(Encode(sixty_seven, "+71234567890", kConcatenationHeader, kCodingUcs2)),
        "8C");
}

TEST(EncodeSubmit, OptionalFlagsSetTheirBits) {
    TSMS sms;
    sms.Text = "Hi";
    sms.Number = "123";
    sms.Flash = true;
    sms.StatusReport = true;
    sms.ReplyPath = true;
    sms.MessageReference = "7f";
    EXPECT_EQ(sms.EncodeSubmit(), "00B17F038121F30010FF02C834");
}

TEST(EncodeSubmit, AnInvalidInputGivesAnEmptyPduAndLengthZero) {
    struct Case {
        const char* number;
        const char* header;
        const char* reference;
        SubmitProblem problem;
    };
    for (const Case& c : {Case{"", "", "", SubmitProblem::BadNumber},
                          Case{"+7123\r\n", "", "", SubmitProblem::BadNumber},
                          Case{"AT", "", "", SubmitProblem::BadNumber},
                          Case{"+7", "0G00030A0201", "", SubmitProblem::BadHeader},
                          Case{"+7", "0500030A020", "", SubmitProblem::BadHeader},
                          Case{"+7", "0400030A0201", "", SubmitProblem::BadHeader},
                          Case{"+7", "05\r\nAT\r\n", "", SubmitProblem::BadHeader},
                          Case{"+7", "", "1", SubmitProblem::BadReference},
                          Case{"+7", "", "\r\n", SubmitProblem::BadReference}}) {
        TSMS sms;
        sms.Text = "Hi";
        sms.Number = c.number;
        sms.UDH = c.header;
        sms.MessageReference = c.reference;
        sms.TPDULength = 99;
        EXPECT_EQ(sms.CheckSubmit(), c.problem)
            << c.number << "|" << c.header << "|" << c.reference;
        EXPECT_EQ(sms.EncodeSubmit(), "") << c.number << "|" << c.header << "|" << c.reference;
        EXPECT_EQ(sms.TPDULength, 0);
    }
}

// Text for n Russian letters "А" (UCS2 0410).
std::string RussianLetters(size_t count) {
    return std::string(count, '\xC0');
}

// One message piece as the send path hands it over.
struct Piece {
    std::string text;
    const char* header;
    int32_t coding;
};

// Beyond one SMS the length octets would take three digits (or claim more than the
// network carries) and every field after them would shift: refused like bad input.
TEST(EncodeSubmit, UserDataBeyondOneSmsIsRefused) {
    for (const Piece& c :
         {Piece{std::string(161, 'a'), "", kCodingGsm7},
          Piece{std::string(154, 'a'), kConcatenationHeader, kCodingGsm7},
          Piece{std::string(1024, 'a'), "", kCodingGsm7},
          Piece{RussianLetters(71), "", kCodingUcs2},
          Piece{RussianLetters(68), kConcatenationHeader, kCodingUcs2},
          Piece{RussianLetters(80), "", kCodingAuto}, Piece{RussianLetters(128), "", kCodingAuto},
          Piece{std::string(71, 'a'), "", kCodingUcs2}}) {
        TSMS sms;
        sms.Text = c.text;
        sms.Number = "+71234567890";
        sms.UDH = c.header;
        sms.Coding = c.coding;
        sms.TPDULength = 99;
        EXPECT_EQ(sms.CheckSubmit(), SubmitProblem::UserDataTooLong) << c.text.size();
        EXPECT_EQ(sms.EncodeSubmit(), "") << c.text.size() << " characters, coding " << c.coding;
        EXPECT_EQ(sms.TPDULength, 0);
    }
}

// 14 octets of header fields to +71234567890, then the 140 of user data.
TEST(EncodeSubmit, UserDataFillingOneSmsExactlyIsEncoded) {
    for (const Piece& c : {Piece{std::string(160, 'a'), "", kCodingGsm7},
                           Piece{std::string(153, 'a'), kConcatenationHeader, kCodingGsm7},
                           Piece{RussianLetters(70), "", kCodingAuto},
                           Piece{RussianLetters(67), kConcatenationHeader, kCodingUcs2}}) {
        int32_t length = 0;
        const std::string pdu = Encode(c.text, "+71234567890", c.header, c.coding, &length);
        EXPECT_EQ(length, 14 + 140) << c.text.size();
        EXPECT_EQ(pdu.size(), 2 + 2 * static_cast<size_t>(length)) << c.text.size();
    }
}

TEST(EncodeAddress, MoreThanTwentyDigitsAreRefused) {
    const std::string twenty(20, '9');
    EXPECT_EQ(TSMS::CheckAddress(twenty), AddressProblem::None);
    EXPECT_EQ(TSMS::EncodeAddress("+" + twenty), "1491" + twenty);
    for (const std::string& number : {twenty + "1", "+" + twenty + "1", std::string(256, '1')}) {
        EXPECT_EQ(TSMS::CheckAddress(number), AddressProblem::TooLong) << number;
        EXPECT_EQ(TSMS::EncodeAddress(number), std::nullopt) << number;
        TSMS sms;
        sms.Text = "Hi";
        sms.Number = number;
        EXPECT_EQ(sms.CheckSubmit(), SubmitProblem::BadNumber) << number;
        EXPECT_EQ(sms.EncodeSubmit(), "") << number;
        EXPECT_EQ(sms.TPDULength, 0);
    }
    EXPECT_EQ(TSMS::CheckAddress("+"), AddressProblem::NotDigits);
    EXPECT_EQ(TSMS::CheckAddress(twenty + "1a"), AddressProblem::NotDigits)
        << "a number that is not digits is that first, whatever its length";
}

TEST(EncodeSubmit, TpduLengthAgreesWithParsing) {
    for (const char* header : {"", kConcatenationHeader}) {
        for (int32_t coding : {kCodingGsm7, kCodingUcs2}) {
            TSMS encoder;
            encoder.Text = "Hello";
            encoder.Number = "+79001234567";
            encoder.UDH = header;
            encoder.Coding = coding;
            TSMS parser;
            parser.ParsePDU(encoder.EncodeSubmit());
            EXPECT_EQ(parser.TPDULength, encoder.TPDULength);
        }
    }
    TSMS failed;
    failed.ParsePDU(failed.EncodeSubmit());
    EXPECT_EQ(failed.TPDULength, -1);
}

// Encodes, parses the result and decodes it again.
std::string RoundTrip(std::string_view text, std::string_view header, int32_t coding) {
    TSMS parser;
    parser.ParsePDU(Encode(text, "+71234567890", header, coding));
    return parser.DecodeText();
}

// Every bit alignment: texts of 0 to 16 septets, with and without headers of
// different lengths, each ending in "@" as well, which packs as a zero septet.
TEST(EncodeSubmit, SevenBitTextsOfEveryAlignmentRoundTrip) {
    for (const char* header :
         {"", "00", kConcatenationHeader, "0608040A0B0201", "0700000000000000"}) {
        for (size_t length = 0; length <= 16; ++length) {
            const std::string text = std::string("abcdefghijklmnop").substr(0, length);
            EXPECT_EQ(RoundTrip(text, header, kCodingGsm7), text) << header << " " << length;
            const std::string at_end = text + "@";
            EXPECT_EQ(RoundTrip(at_end, header, kCodingGsm7), at_end) << header << " " << length;
            const std::string all_at(length, '@');
            EXPECT_EQ(RoundTrip(all_at, header, kCodingGsm7), all_at) << header << " " << length;
        }
    }
}

TEST(EncodeSubmit, Ucs2TextsRoundTripAfterHeadersOfAnyLength) {
    const std::string text = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!";  // "Привет, мир!"
    for (const char* header : {"", "00", kConcatenationHeader, "0608040A0B0201"}) {
        EXPECT_EQ(RoundTrip(text, header, kCodingUcs2), text) << header;
    }
}

TEST(EncodeSubmit, TheWholeAlphabetRoundTripsThroughSevenBitPdus) {
    std::string text;  // every byte of the lower half that the GSM table holds
    for (int code = 0; code < 128; ++code) {
        const std::string byte = GsmToAnsi(std::string(1, static_cast<char>(code)));
        if (code != 0x1B && static_cast<unsigned char>(byte[0]) < 0x80 && byte[0] != '\r' &&
            byte[0] != '\n') {
            text += byte;
        }
    }
    EXPECT_EQ(RoundTrip(text, "", kCodingGsm7), text);
    EXPECT_EQ(RoundTrip(text, kConcatenationHeader, kCodingGsm7), text);
}

// Each takes an escape and its code: "a[b]" is six septets, and 80 euro signs fill
// a message as 160 letters do.
TEST(EncodeSubmit, ExtensionCharactersArriveAsThemselves) {
    EXPECT_EQ(RoundTrip("a[b]{\x88}", "", kCodingGsm7), "a[b]{\x88}");
    EXPECT_EQ(UserDataLength(Encode("a[b]")), "06");
    EXPECT_EQ(UserDataLength(Encode(std::string(80, '\x88'))), "A0");
    TSMS too_long;
    too_long.Text = std::string(80, '\x88') + "a";
    too_long.Number = "+71234567890";
    EXPECT_EQ(too_long.CheckSubmit(), SubmitProblem::UserDataTooLong);
}

}  // namespace
}  // namespace velka
