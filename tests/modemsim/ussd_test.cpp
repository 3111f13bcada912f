// The virtual network's USSD script and the modem's ways of writing its answers.
// The expected hexadecimal was worked out by hand from TS 23.038's bit layouts.
#include "tools/modemsim/ussd.h"

#include <gtest/gtest.h>

#include "tools/modemsim/session.h"

namespace velka::modemsim {
namespace {

using std::chrono::milliseconds;

TEST(UssdScript, AMenuIsWalkedByItsRepliesAndAskedAgainAfterAWrongOne) {
    UssdService network;
    EXPECT_EQ(network.Answer("*111#"), (UssdStep{1, "Меню:\n1 Баланс\n2 Тарифы"}));
    EXPECT_EQ(network.Answer("7"), (UssdStep{1, "Неверный выбор"}));
    EXPECT_EQ(network.Answer("2"), (UssdStep{1, "Тарифы:\n1 Базовый\n2 Безлимит"}));
    EXPECT_EQ(network.Answer("1"), (UssdStep{0, "Тариф «Базовый» подключён"}));
    // The session is over: "1" is now a code of its own, which nobody serves.
    EXPECT_EQ(network.Answer("1"), (UssdStep{4, ""}));
}

TEST(UssdScript, AnEndedSessionStartsAgainFromItsCode) {
    UssdService network;
    ASSERT_EQ(network.Answer("*111#").value().status, 1);
    network.End();
    EXPECT_EQ(network.Answer("*100#"), (UssdStep{0, "Баланс: 57,10 р."}));
}

TEST(UssdScript, OneCodeIsNeverAnsweredAndUnknownOnesAreNotSupported) {
    UssdService network;
    EXPECT_FALSE(network.Answer("*999#"));
    EXPECT_EQ(network.Answer("*555#"), (UssdStep{4, ""}));
}

TEST(UssdResultLines, ASevenBitAnswerIsWrittenInTheModemsForm) {
    const UssdStep balance{0, "Balance 99.00 RUB"};
    EXPECT_EQ(UssdResultLine(balance, UssdCoding::Plain, UssdForm::Text),
              "+CUSD: 0,\"Balance 99.00 RUB\",15");
    EXPECT_EQ(UssdResultLine(balance, UssdCoding::Plain, UssdForm::Packed),
              "+CUSD: 0,\"C2303BEC1E9741B99C0B060349AB42\",15");
    EXPECT_EQ(UssdResultLine(balance, UssdCoding::Plain, UssdForm::Unpacked),
              "+CUSD: 0,\"42616C616E63652039392E303020525542\",15");
    EXPECT_EQ(UssdResultLine(balance, UssdCoding::Plain, UssdForm::Ucs2),
              "+CUSD: 0,\"00420061006C0061006E00630065002000390039002E003000300020005200550042\","
              "15");
    // Seven septets: the spare bits hold a carriage return.
    EXPECT_EQ(UssdResultLine({0, "1234567"}, UssdCoding::Plain, UssdForm::Packed),
              "+CUSD: 0,\"31D98C56B3DD1A\",15");
}

TEST(UssdResultLines, ARussianAnswerIsUcs2InEveryForm) {
    const std::string ucs2 = "04110430043B0430043D0441003A002000350037002C0031003000200440002E";
    for (const UssdForm form : {UssdForm::Text, UssdForm::Packed, UssdForm::Unpacked})
        EXPECT_EQ(UssdResultLine({0, "Баланс: 57,10 р."}, UssdCoding::Plain, form),
                  "+CUSD: 0,\"" + ucs2 + "\",72");
    EXPECT_EQ(UssdResultLine({0, "Баланс: 57,10 р."}, UssdCoding::Language, UssdForm::Text),
              "+CUSD: 0,\"F23A" + ucs2 + "\",17");
}

TEST(UssdResultLines, TheLanguageAndEightBitCodingsAndABareStatus) {
    EXPECT_EQ(UssdResultLine({0, "Hello"}, UssdCoding::Language, UssdForm::Packed),
              "+CUSD: 0,\"F27A035966B3DF\",16");
    EXPECT_EQ(UssdResultLine({0, "Баланс"}, UssdCoding::Data8, UssdForm::Text),
              "+CUSD: 0,\"D091D0B0D0BBD0B0D0BDD181\",68");
    EXPECT_EQ(UssdResultLine({4, ""}, UssdCoding::Plain, UssdForm::Text), "+CUSD: 4");
}

TEST(UssdRequestTexts, APackedRequestIsUnpackedAndItsPaddingDropped) {
    EXPECT_EQ(UssdRequestText("AA180C3602", UssdRequestForm::Packed), "*100#");
    EXPECT_EQ(UssdRequestText("31D98C56B3DD1A", UssdRequestForm::Packed), "1234567");
    EXPECT_EQ(UssdRequestText("31D98C56B3DD00", UssdRequestForm::Packed), "1234567");
    EXPECT_FALSE(UssdRequestText("*100#", UssdRequestForm::Packed));
    EXPECT_EQ(UssdRequestText("AA180C3602", UssdRequestForm::Text), "AA180C3602");
}

class UssdSessionTest : public ::testing::Test {
  protected:
    UssdSessionTest() : session_(ModemIdentity{"+79990000001", "+79990000000", 5, true}) {
        SessionOutput out;
        session_.Feed("ATE0\r", out);
    }
    SessionOutput Run(std::string_view input) {
        SessionOutput out;
        session_.Feed(input, out);
        return out;
    }
    void Set(UssdOrder order, UssdRequestForm request = UssdRequestForm::Text) {
        session_.SetFaults(
            Faults{.ussd_order = order, .ussd_delay = milliseconds(2000), .ussd_request = request});
    }
    Session session_;
};

TEST_F(UssdSessionTest, TheAnswerFollowsTheOkAfterTheNetworksDelay) {
    Set(UssdOrder::AfterOk);
    const SessionOutput out = Run("AT+CUSD=1,\"*101#\",15\r");
    ASSERT_EQ(out.emissions.size(), 2u);
    EXPECT_EQ(out.emissions[0].bytes, "\r\nOK\r\n");
    EXPECT_EQ(out.emissions[0].delay, milliseconds(0));
    EXPECT_EQ(out.emissions[1].bytes, "\r\n+CUSD: 0,\"Balance 99.00 RUB\",15\r\n");
    EXPECT_EQ(out.emissions[1].delay, milliseconds(2000));
}

TEST_F(UssdSessionTest, TheAnswerCanComeBeforeAnOkHeldForTheNetwork) {
    Set(UssdOrder::BeforeOk);
    const SessionOutput out = Run("AT+CUSD=1,\"*101#\",15\r");
    ASSERT_EQ(out.emissions.size(), 1u);
    EXPECT_EQ(out.emissions[0].bytes, "\r\n+CUSD: 0,\"Balance 99.00 RUB\",15\r\n\r\nOK\r\n");
    EXPECT_EQ(out.emissions[0].delay, milliseconds(2000));
    // The next command's answer is not held.
    EXPECT_EQ(Run("AT\r").emissions.at(0).delay, milliseconds(0));
}

TEST_F(UssdSessionTest, AModemThatTakesPackedRequestsRefusesText) {
    Set(UssdOrder::AfterOk, UssdRequestForm::Packed);
    EXPECT_EQ(Run("AT+CUSD=1,\"*101#\",15\r").emissions.at(0).bytes, "\r\nERROR\r\n");
    const SessionOutput out = Run("AT+CUSD=1,\"AA180C3602\",15\r");
    ASSERT_EQ(out.emissions.size(), 2u);
    EXPECT_EQ(out.emissions[1].bytes,
              "\r\n+CUSD: 0,\"04110430043B0430043D0441003A002000350037002C0031003000200440002E\","
              "72\r\n");
}

TEST_F(UssdSessionTest, ASilentNetworkLeavesOnlyTheOkAndCancelEndsTheMenu) {
    Set(UssdOrder::AfterOk);
    const SessionOutput silent = Run("AT+CUSD=1,\"*999#\",15\r");
    ASSERT_EQ(silent.emissions.size(), 1u);
    EXPECT_EQ(silent.emissions[0].bytes, "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CUSD=1,\"*111#\",15\r").emissions.size(), 2u);
    EXPECT_EQ(Run("AT+CUSD=2\r").emissions.at(0).bytes, "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CUSD=1,\"1\",15\r").emissions.at(1).bytes, "\r\n+CUSD: 4\r\n");
}

}  // namespace
}  // namespace velka::modemsim
