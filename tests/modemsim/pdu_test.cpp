#include "tools/modemsim/pdu.h"

#include <gtest/gtest.h>

namespace velka::modemsim {
namespace {

TEST(ParseSubmit, ReadsASevenBitSubmitWithoutHeader) {
    const auto submit = ParseSubmit("0011000B911732547698F00000FF02C834", 16);
    ASSERT_TRUE(submit.ok()) << submit.error().message;
    EXPECT_EQ(submit->destination, "+71234567890");
    EXPECT_EQ(submit->data.coding, 0x00);
    EXPECT_FALSE(submit->data.has_header);
    EXPECT_EQ(submit->data.length, 2);
    EXPECT_EQ(UserDataText(submit->data), "Hi");
}

TEST(ParseSubmit, ReadsAConcatenationHeaderAndTheTextAfterItsFillBit) {
    const auto submit = ParseSubmit("0051000B911732547698F00000FF090500030A02019069", 22);
    ASSERT_TRUE(submit.ok()) << submit.error().message;
    EXPECT_TRUE(submit->data.has_header);
    EXPECT_EQ(ToHex(Octets(submit->data.octets.begin(), submit->data.octets.begin() + 6)),
              "0500030A0201");
    EXPECT_EQ(UserDataText(submit->data), "Hi");
}

TEST(ParseSubmit, ReadsUcs2AndNationalNumbersAndAServiceCentre) {
    const auto submit = ParseSubmit("07919799000000F011110B819800214365F70008FF06041F04400438", 20);
    ASSERT_TRUE(submit.ok()) << submit.error().message;
    EXPECT_EQ(submit->destination, "89001234567");
    EXPECT_EQ(submit->reference, 0x11);
    EXPECT_EQ(UserDataText(submit->data), "При");
}

TEST(ParseSubmit, RefusesWhatAModemRefuses) {
    // The announced length must be the TPDU's octet count.
    EXPECT_FALSE(ParseSubmit("0011000B911732547698F00000FF02C834", 15).ok());
    EXPECT_FALSE(ParseSubmit("0011000B911732547698F00000FF02C834", 17).ok());
    // An SMS-DELIVER is not something to send.
    EXPECT_FALSE(ParseSubmit("0004000B911732547698F00000FF02C834", 16).ok());
    // User data shorter or longer than its length octet says.
    EXPECT_FALSE(ParseSubmit("0011000B911732547698F00000FF03C834", 16).ok());
    EXPECT_FALSE(ParseSubmit("0011000B911732547698F00000FF02C83400", 17).ok());
    // Not hexadecimal, odd, empty, cut short.
    EXPECT_FALSE(ParseSubmit("0011000B911732547698F00000FF02C8ZZ", 16).ok());
    EXPECT_FALSE(ParseSubmit("0011000B911732547698F00000FF02C83", 16).ok());
    EXPECT_FALSE(ParseSubmit("", 0).ok());
    EXPECT_FALSE(ParseSubmit("0011000B9117", 5).ok());
    // An empty destination and an alphanumeric one.
    EXPECT_FALSE(ParseSubmit("00110000910000FF02C834", 10).ok());
    EXPECT_FALSE(ParseSubmit("0011000AD0C8329BFD060000FF02C834", 15).ok());
    // A header that claims more octets than the user data holds.
    EXPECT_FALSE(ParseSubmit("0051000B911732547698F00008FF0209AA", 16).ok());
}

TEST(ParseSubmit, ErrorsSayWhatIsWrong) {
    const auto submit = ParseSubmit("0011000B911732547698F00000FF02C834", 15);
    ASSERT_FALSE(submit.ok());
    EXPECT_NE(submit.error().message.find("16"), std::string::npos);
    EXPECT_NE(submit.error().message.find("15"), std::string::npos);
}

TEST(BuildDeliver, LaysOutEveryFieldAsTheNetworkDoes) {
    Deliver deliver;
    deliver.service_centre = "+79990000000";
    deliver.originator = "+79990000001";
    deliver.time = TimeStamp{2026, 12, 6, 20, 52, 41, 12};
    deliver.data.length = 2;
    deliver.data.octets = {0xC8, 0x34};
    EXPECT_EQ(BuildDeliver(deliver), "07919799000000F0040B919799000000F100006221600225142102C834");
}

TEST(BuildDeliver, RoundTripsHeaderCodingReplyPathAndAZoneWestOfGreenwich) {
    Deliver deliver;
    deliver.service_centre = "+4412345";
    deliver.originator = "5551234";
    deliver.time = TimeStamp{2031, 1, 2, 3, 4, 5, -20};
    deliver.reply_path = true;
    deliver.data.protocol_id = 0x00;
    deliver.data.coding = 0x08;
    deliver.data.has_header = true;
    deliver.data.octets = {0x05, 0x00, 0x03, 0x7F, 0x02, 0x02, 0x04, 0x1F};
    deliver.data.length = 8;
    const auto parsed = ParseDeliver(BuildDeliver(deliver));
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    EXPECT_EQ(parsed->service_centre, "+4412345");
    EXPECT_EQ(parsed->originator, "5551234");
    EXPECT_EQ(parsed->time.year, 2031);
    EXPECT_EQ(parsed->time.second, 5);
    EXPECT_EQ(parsed->time.zone_quarters, -20);
    EXPECT_TRUE(parsed->reply_path);
    EXPECT_TRUE(parsed->data.has_header);
    EXPECT_EQ(parsed->data.octets, deliver.data.octets);
    EXPECT_EQ(UserDataText(parsed->data), "П");
}

Deliver Parsed(const std::string& pdu) {
    auto deliver = ParseDeliver(pdu);
    EXPECT_TRUE(deliver.ok()) << pdu;
    return deliver.ok() ? *deliver : Deliver{};
}

TEST(DeliversForText, ShortGsmTextIsOneMessageWithoutHeader) {
    const auto pdus = DeliversForText("Hello [world] €5", "+7111", "+7000", NowLocal(), 9);
    ASSERT_EQ(pdus.size(), 1u);
    const Deliver d = Parsed(pdus[0]);
    EXPECT_FALSE(d.data.has_header);
    EXPECT_EQ(d.data.coding, 0x00);
    EXPECT_EQ(d.data.length, 16 + 3);  // three characters of the extension table take two septets
    EXPECT_EQ(UserDataText(d.data), "Hello [world] €5");
}

TEST(DeliversForText, LongGsmTextIsSplitIntoSegmentsOf153) {
    const std::string text(161, 'x');
    const auto pdus = DeliversForText(text, "+7111", "+7000", NowLocal(), 0x42);
    ASSERT_EQ(pdus.size(), 2u);
    const Deliver first = Parsed(pdus[0]), second = Parsed(pdus[1]);
    EXPECT_EQ(first.data.length, 160);
    EXPECT_EQ(ToHex(Octets(first.data.octets.begin(), first.data.octets.begin() + 6)),
              "050003420201");
    EXPECT_EQ(ToHex(Octets(second.data.octets.begin(), second.data.octets.begin() + 6)),
              "050003420202");
    EXPECT_EQ(UserDataText(first.data) + UserDataText(second.data), text);
}

TEST(DeliversForText, AnEscapeIsNeverCutFromItsCharacter) {
    std::string text(152, 'a');
    text += "{" + std::string(10, 'b');  // the escape is septet 153
    const auto pdus = DeliversForText(text, "+7111", "+7000", NowLocal(), 1);
    ASSERT_EQ(pdus.size(), 2u);
    EXPECT_EQ(UserDataText(Parsed(pdus[0]).data), std::string(152, 'a'));
    EXPECT_EQ(UserDataText(Parsed(pdus[1]).data), "{" + std::string(10, 'b'));
}

TEST(DeliversForText, TextOutsideTheAlphabetGoesAsUcs2In67UnitSegments) {
    std::string text;
    for (int i = 0; i < 71; ++i) text += "Ж";
    const auto pdus = DeliversForText(text, "+7111", "+7000", NowLocal(), 1);
    ASSERT_EQ(pdus.size(), 2u);
    EXPECT_EQ(Parsed(pdus[0]).data.coding, 0x08);
    EXPECT_EQ(Parsed(pdus[0]).data.length, 6 + 67 * 2);
    EXPECT_EQ(Parsed(pdus[1]).data.length, 6 + 4 * 2);
    std::string seventy;
    for (int i = 0; i < 70; ++i) seventy += "Ж";
    EXPECT_EQ(DeliversForText(seventy, "+7111", "+7000", NowLocal(), 1).size(), 1u);
}

TEST(ParseDeliver, RefusesASubmitAndTruncatedPdus) {
    EXPECT_FALSE(ParseDeliver("0011000B911732547698F00000FF02C834").ok());
    EXPECT_FALSE(ParseDeliver("07919799000000F0040B919799000000F1000062216002").ok());
    EXPECT_FALSE(ParseDeliver("07919799000000F0040B919799000000F100006221600225142103C834").ok());
}

}  // namespace
}  // namespace velka::modemsim
