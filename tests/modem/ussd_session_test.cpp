// USSD through the session against virtual modems: every coding and form the
// network and the modem use, the answer before or after "OK", a menu walked and
// cancelled, the request form a modem refuses, a silent network, a hung modem.
#include <gtest/gtest.h>

#include <thread>

#include "modem/session.h"
#include "platform/registry.h"
#include "tests/modem/sim_fixture.h"

namespace velka::modem {
namespace {

using testing::Count;
using testing::Eventually;
using testing::SimModems;

// Long enough for any machine, short enough for a test that waits it out.
constexpr auto kSilentNetworkWait = std::chrono::seconds(2);

class UssdSessionTest : public ::testing::Test {
  protected:
    UssdSessionTest() : modems_(1) { session_.Bind(modems_.ComNumber(1)); }

    void Fault(const std::string& fault) { modems_.Control("fault 1 " + fault); }
    std::string Written() { return modems_.Written(1); }

    SimModems modems_;
    StopSignal stop_;
    Session session_{stop_, Registry::Machine()};
};

TEST_F(UssdSessionTest, AnswersReadTheSameInEveryCodingFormAndOrder) {
    struct Expected {
        const char16_t* code;
        const char16_t* text;
    };
    const Expected answers[] = {
        {u"*100#", u"Баланс: 57,10 р."},
        {u"*101#", u"Balance 99.00 RUB"},
        {u"*112#", u"Balance 99.00 RUB\nValid till 31.12.2026"},
    };
    for (const char* order : {"after", "before"}) {
        for (const char* coding : {"plain", "language", "8bit"}) {
            for (const char* form : {"text", "packed", "unpacked", "ucs2"}) {
                Fault(std::string("ussd-order ") + order);
                Fault(std::string("ussd-coding ") + coding);
                Fault(std::string("ussd-form ") + form);
                for (const Expected& expected : answers) {
                    const UssdAnswer answer = session_.Ussd(expected.code);
                    EXPECT_EQ(answer.status, UssdStatus::Done)
                        << order << " " << coding << " " << form << " " << answer.raw;
                    EXPECT_EQ(answer.text, expected.text)
                        << order << " " << coding << " " << form << " " << answer.raw;
                }
            }
        }
    }
}

TEST_F(UssdSessionTest, AMenuIsWalkedAndCancelledOnTheNetwork) {
    UssdAnswer answer = session_.Ussd(u"*111#");
    EXPECT_EQ(answer.status, UssdStatus::Question);
    EXPECT_EQ(answer.text, u"Меню:\n1 Баланс\n2 Тарифы");
    answer = session_.Ussd(u"2");
    EXPECT_EQ(answer.status, UssdStatus::Question);
    EXPECT_EQ(answer.text, u"Тарифы:\n1 Базовый\n2 Безлимит");
    EXPECT_TRUE(session_.EndUssd());
    EXPECT_EQ(Count(Written(), "AT+CUSD=2\r"), 1u);
    // The menu is gone: a reply is now a code nobody serves.
    EXPECT_EQ(session_.Ussd(u"1").status, UssdStatus::NotSupported);
}

TEST_F(UssdSessionTest, AModemThatRefusesTextGetsThePackedFormFromThenOn) {
    Fault("ussd-request packed");
    EXPECT_EQ(session_.Ussd(u"*101#").status, UssdStatus::Done);
    EXPECT_EQ(session_.Ussd(u"*100#").text, u"Баланс: 57,10 р.");
    const std::string written = Written();
    EXPECT_EQ(Count(written, "AT+CUSD=1,\"*101#\",15"), 1u);
    EXPECT_EQ(Count(written, "AT+CUSD=1,\"AA180C3602\",15"), 1u);
    EXPECT_EQ(Count(written, "AT+CUSD=1,\"*100#\",15"), 0u);
}

TEST_F(UssdSessionTest, ARequestNoFormCarriesIsRefusedUnsent) {
    EXPECT_EQ(session_.Ussd(u"баланс").status, UssdStatus::BadRequest);
    EXPECT_EQ(session_.Ussd(u"").status, UssdStatus::BadRequest);
    EXPECT_EQ(Count(Written(), "AT+CUSD=1"), 0u);
}

TEST_F(UssdSessionTest, ACodeTheNetworkDoesNotServeIsSaid) {
    const UssdAnswer answer = session_.Ussd(u"*555#");
    EXPECT_EQ(answer.status, UssdStatus::NotSupported);
    EXPECT_TRUE(answer.text.empty());
}

TEST_F(UssdSessionTest, ASilentNetworkEndsTheWaitAndTheSessionThenTheModemServesOn) {
    EXPECT_EQ(session_.Ussd(u"*999#", kSilentNetworkWait).status, UssdStatus::NoAnswer);
    EXPECT_EQ(Count(Written(), "AT+CUSD=2\r"), 1u);
    EXPECT_EQ(session_.Settle(), Session::Conduct::Answered);
    EXPECT_EQ(session_.Ussd(u"*101#").status, UssdStatus::Done);
}

TEST_F(UssdSessionTest, AModemThatHangsOnTheRequestCountsAsSilent) {
    Fault("hang AT+CUSD");
    EXPECT_EQ(session_.Ussd(u"*101#", kSilentNetworkWait).status, UssdStatus::NoAnswer);
    // Silent: the port is opened afresh, and the modem with it.
    EXPECT_EQ(session_.Settle(), Session::Conduct::Silent);
    EXPECT_EQ(session_.Ussd(u"*101#").status, UssdStatus::Done);
}

TEST_F(UssdSessionTest, AModemWithoutItsSimServesNoRequest) {
    Fault("sim missing");
    const UssdAnswer answer = session_.Ussd(u"*100#");
    EXPECT_EQ(answer.status, UssdStatus::NoModem);
    EXPECT_EQ(session_.Status().state, ModemState::NoSim);
}

TEST_F(UssdSessionTest, AnAnswerInACodingNobodyReadsIsSaidUnreadable) {
    // Nothing comes from the network for this code: the modem is made to say an
    // answer coded compressed (scheme 0x60), which no reader can undo.
    std::thread asker([&] {
        const UssdAnswer answer = session_.Ussd(u"*999#");
        EXPECT_EQ(answer.status, UssdStatus::Unreadable);
        EXPECT_EQ(answer.raw, "C2303BEC");
    });
    ASSERT_TRUE(Eventually([&] { return Count(Written(), "AT+CUSD=1") == 1; }));
    modems_.Control("unsolicited 1 +CUSD: 0,\"C2303BEC\",96");
    asker.join();
}

TEST_F(UssdSessionTest, LinesBetweenTheOkAndTheAnswerAreHeardAndPassedOver) {
    Fault("unsolicited-before AT+CUSD +CMTI: \"SM\",1");
    Fault("random-unsolicited 1");
    EXPECT_EQ(session_.Ussd(u"*101#").text, u"Balance 99.00 RUB");
    EXPECT_TRUE(session_.Announced());
}

TEST_F(UssdSessionTest, TheStopSignalEndsTheWaitForTheNetwork) {
    Fault("ussd-delay 600000");
    UssdAnswer answer;
    std::thread asker([&] { answer = session_.Ussd(u"*101#"); });
    ASSERT_TRUE(Eventually([&] { return Count(Written(), "AT+CUSD=1") == 1; }));
    stop_.Set();
    asker.join();
    EXPECT_EQ(answer.status, UssdStatus::Stopped);
}

}  // namespace
}  // namespace velka::modem
