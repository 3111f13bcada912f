#include "tools/modemsim/session.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace velka::modemsim {
namespace {

using std::chrono::milliseconds;

// "Hi" to +71234567890: a 16-octet TPDU after an empty SMSC part.
constexpr const char* kSubmitHi = "0011000B911732547698F00000FF02C834";
// The same with TP-SRR set: the sender asks for a status report.
constexpr const char* kSubmitHiReported = "0031000B911732547698F00000FF02C834";

std::string Deliver(const std::string& text) {
    return DeliversForText(text, "+79990000009", "+79990000000",
                           TimeStamp{2026, 12, 6, 20, 52, 41, 12}, 1)
        .front();
}

class SessionTest : public ::testing::Test {
  protected:
    explicit SessionTest(std::size_t capacity = 5)
        : session_(ModemIdentity{"+79990000001", "+79990000000", capacity, true}) {}

    // Everything the session sends in answer to `input`, delays ignored.
    std::string Run(std::string_view input) {
        SessionOutput out;
        session_.Feed(input, out);
        return Joined(out);
    }
    std::string Receive(const std::string& pdu) {
        SessionOutput out;
        session_.Receive(pdu, out);
        return Joined(out);
    }
    std::string Joined(SessionOutput& out) {
        std::string all;
        for (const Emission& e : out.emissions) all += e.bytes;
        for (Submit& s : out.submits) submits_.push_back(std::move(s));
        return all;
    }
    void EchoOff() { ASSERT_EQ(Run("ATE0\r"), "ATE0\r\r\nOK\r\n"); }

    Session session_;
    std::vector<Submit> submits_;
};

TEST_F(SessionTest, EchoIsOnAfterResetAndAte0SwitchesItOff) {
    EXPECT_EQ(Run("AT\r"), "AT\r\r\nOK\r\n");
    EchoOff();
    EXPECT_EQ(Run("AT\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("ATE1\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT\r"), "AT\r\r\nOK\r\n");
    EchoOff();
    EXPECT_EQ(Run("ATZ\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(SessionTest, InformationIsFramedBeforeTheFinalResult) {
    EchoOff();
    EXPECT_EQ(Run("AT+CSQ\r"), "\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CGMI;+CPIN?\r"), "\r\nVelka\r\n\r\n+CPIN: READY\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("at+creg?\r"), "\r\n+CREG: 0,1\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSCA?\r"), "\r\n+CSCA: \"+79990000000\",145\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CGSN\r"), "\r\n356999000000011\r\n\r\nOK\r\n");
}

TEST_F(SessionTest, TheLineIsEditedAndNoiseBeforeAtIsIgnored) {
    EchoOff();
    EXPECT_EQ(Run("AT+CSX\bQ\r"), "\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("\n\x03zzAT\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("hello\r"), "");
    EXPECT_EQ(Run("\r"), "");
    // A line longer than the modem takes is refused, not cut short and run.
    EXPECT_EQ(Run("AT+CSQ" + std::string(1000, ' ') + "\r"), "\r\nERROR\r\n");
    EXPECT_EQ(Run("AT\r"), "\r\nOK\r\n");
}

TEST_F(SessionTest, ErrorsAreReportedAsAtPlusCmeeAsks) {
    EchoOff();
    EXPECT_EQ(Run("AT+CREG=9\r"), "\r\nERROR\r\n");
    EXPECT_EQ(Run("AT+CMGR=99\r"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Run("AT+CMEE=1\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CREG=9\r"), "\r\n+CME ERROR: 4\r\n");
    EXPECT_EQ(Run("AT+CMGR=99\r"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Run("AT+CMEE=2\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CREG=9\r"), "\r\n+CME ERROR: operation not supported\r\n");
    EXPECT_EQ(Run("AT+CMGR=99\r"), "\r\n+CMS ERROR: invalid memory index\r\n");
    EXPECT_EQ(Run("AT+CMEE?\r"), "\r\n+CMEE: 2\r\n\r\nOK\r\n");
    // A command the modem does not know is a plain ERROR whatever the mode.
    EXPECT_EQ(Run("AT+CFOO\r"), "\r\nERROR\r\n");
    EXPECT_EQ(Run("ATV0\r"), "\r\nERROR\r\n");
    // The first failing command ends the line; what went before is not repeated.
    EXPECT_EQ(Run("AT+CSQ;+CFOO;+CPIN?\r"), "\r\n+CSQ: 20,99\r\n\r\nERROR\r\n");
}

TEST_F(SessionTest, PduModeIsServedAndTextModeRefused) {
    EchoOff();
    EXPECT_EQ(Run("AT+CMGF=0\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGF=1\r"), "\r\n+CMS ERROR: 303\r\n");
    EXPECT_EQ(Run("AT+CMGF?\r"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
}

TEST_F(SessionTest, StorageIsTheSimOnly) {
    EchoOff();
    Receive(Deliver("one"));
    EXPECT_EQ(Run("AT+CPMS=\"SM\"\r"), "\r\n+CPMS: 1,5,1,5,1,5\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPMS=\"SM\",\"SM\",\"SM\"\r"), "\r\n+CPMS: 1,5,1,5,1,5\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPMS?\r"), "\r\n+CPMS: \"SM\",1,5,\"SM\",1,5,\"SM\",1,5\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPMS=?\r"), "\r\n+CPMS: (\"SM\"),(\"SM\"),(\"SM\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPMS=\"ME\"\r"), "\r\n+CMS ERROR: 302\r\n");
}

TEST_F(SessionTest, ListingGivesHeaderAndPduLinesAndMarksMessagesRead) {
    EchoOff();
    const std::string first = Deliver("first"), second = Deliver("second");
    Receive(first);
    Receive(second);
    const std::string length1 = std::to_string(first.size() / 2 - 8);  // 8 octets of SMSC part
    const std::string length2 = std::to_string(second.size() / 2 - 8);
    EXPECT_EQ(Run("AT+CMGL=4\r"), "\r\n+CMGL: 1,0,," + length1 + "\r\n" + first +
                                      "\r\n+CMGL: 2,0,," + length2 + "\r\n" + second +
                                      "\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGL=0\r"), "\r\nOK\r\n");
    EXPECT_TRUE(Run("AT+CMGL=1\r").starts_with("\r\n+CMGL: 1,1,," + length1 + "\r\n" + first));
    EXPECT_EQ(Run("AT+CMGL=5\r"), "\r\n+CMS ERROR: 304\r\n");
}

TEST_F(SessionTest, DeletedSlotsAreReusedLowestFirst) {
    EchoOff();
    for (const char* text : {"a", "b", "c"}) Receive(Deliver(text));
    EXPECT_EQ(Run("AT+CMGD=1\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGD=1\r"), "\r\nOK\r\n");  // an empty slot deletes quietly
    EXPECT_EQ(Run("AT+CMGD=6\r"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Receive(Deliver("d")), "\r\n+CMTI: \"SM\",1\r\n");
    const auto messages = session_.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].pdu, Deliver("d"));
    EXPECT_EQ(Run("AT+CMGR=2\r"), "\r\n+CMGR: 0,," + std::to_string(Deliver("b").size() / 2 - 8) +
                                      "\r\n" + Deliver("b") + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGR=4\r"), "\r\n+CMS ERROR: 321\r\n");
    // Flag 1 deletes the read messages (slot 2, just read), flag 4 everything.
    EXPECT_EQ(Run("AT+CMGD=1,1\r"), "\r\nOK\r\n");
    EXPECT_EQ(session_.Messages().size(), 2u);
    EXPECT_EQ(Run("AT+CMGD=0,4\r"), "\r\nOK\r\n");
    EXPECT_TRUE(session_.Messages().empty());
}

// ---- AT+CNMI: what the modem offers, what it takes, where it announces ----

TEST_F(SessionTest, AtPlusCnmiOffersEveryValueOrANarrowerRangeOrNothing) {
    EchoOff();
    EXPECT_EQ(Run("AT+CNMI=?\r"), "\r\n+CNMI: (0-3),(0-3),(0-3),(0-2),(0-1)\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CNMI=2,1,0,2,0\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CNMI?\r"), "\r\n+CNMI: 2,1,0,2,0\r\n\r\nOK\r\n");

    session_.SetFaults(Faults{.indications = IndicationSupport::Narrow});
    EXPECT_EQ(Run("AT+CNMI=?\r"), "\r\n+CNMI: (0-2),(0-1),(0),(0),(0)\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CNMI=2,1,0,2,0\r"), "\r\n+CMS ERROR: 303\r\n") << "ds 2 lies outside (0)";
    EXPECT_EQ(Run("AT+CNMI=3,1,0,0,0\r"), "\r\n+CMS ERROR: 303\r\n");
    EXPECT_EQ(Run("AT+CNMI=2,1,0,0,0\r"), "\r\nOK\r\n");

    session_.SetFaults(Faults{.indications = IndicationSupport::Refused});
    for (const char* form : {"AT+CNMI=?\r", "AT+CNMI?\r", "AT+CNMI=2,1,0,2,0\r"})
        EXPECT_EQ(Run(form), "\r\nERROR\r\n") << form;
}

TEST_F(SessionTest, AnAnnouncementHeldForTheNextAnswerComesBeforeItsFinalResult) {
    EchoOff();
    session_.SetFaults(Faults{.announce_inside = true});
    EXPECT_EQ(Receive(Deliver("a")), "") << "held back until the client says something";
    EXPECT_EQ(Run("AT+CSQ\r"), "\r\n+CSQ: 20,99\r\n\r\n+CMTI: \"SM\",1\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSQ\r"), "\r\n+CSQ: 20,99\r\n\r\nOK\r\n") << "said once";
}

TEST_F(SessionTest, StatusReportsStayInTheSimWhileDsIsZero) {
    EchoOff();
    session_.SetFaults(Faults{.reports = ReportMode::Indicated});
    ASSERT_EQ(Run("AT+CNMI=2,1,0,0,0\r"), "\r\nOK\r\n");
    Run("AT+CMGS=16\r");
    const std::string sent = Run(std::string(kSubmitHiReported) + "\x1A");
    EXPECT_EQ(sent.find("+CDSI:"), std::string::npos) << sent;
    EXPECT_EQ(session_.Messages().size(), 1u) << "the report is kept all the same";
    ASSERT_EQ(Run("AT+CNMI=2,1,0,2,0\r"), "\r\nOK\r\n");
    Run("AT+CMGS=16\r");
    const std::string again = Run(std::string(kSubmitHiReported) + "\x1A");
    EXPECT_NE(again.find("+CDSI: \"SM\",2"), std::string::npos) << again;
}

class SmallStore : public SessionTest {
  protected:
    SmallStore() : SessionTest(2) {}
};

TEST_F(SmallStore, MessagesWaitForRoomWhenTheStoreIsFull) {
    EchoOff();
    Receive(Deliver("a"));
    Receive(Deliver("b"));
    EXPECT_EQ(Receive(Deliver("c")), "");  // nothing to announce: it is not on the SIM
    EXPECT_EQ(session_.Messages().size(), 2u);
    EXPECT_EQ(session_.held_back(), 1u);
    EXPECT_EQ(Run("AT+CPMS?\r"), "\r\n+CPMS: \"SM\",2,2,\"SM\",2,2,\"SM\",2,2\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGD=1\r"), "\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(session_.held_back(), 0u);
    EXPECT_EQ(session_.Messages()[0].pdu, Deliver("c"));
}

TEST_F(SessionTest, NewMessagesAreAnnouncedUnlessAtPlusCnmiSaysNot) {
    EchoOff();
    EXPECT_EQ(Receive(Deliver("a")), "\r\n+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(Run("AT+CNMI=2,0,0,0,0\r"), "\r\nOK\r\n");
    EXPECT_EQ(Receive(Deliver("b")), "");
    EXPECT_EQ(Run("AT+CNMI?\r"), "\r\n+CNMI: 2,0,0,0,0\r\n\r\nOK\r\n");
    EXPECT_EQ(session_.Messages().size(), 2u);
}

TEST_F(SessionTest, SendPromptsTakesThePduToCtrlZAndConfirms) {
    EXPECT_EQ(Run("AT+CMGS=16\r"), "AT+CMGS=16\r\r\n> ");
    EXPECT_EQ(Run(std::string(kSubmitHi) + "\x1A"),
              std::string(kSubmitHi) + "\r\n+CMGS: 0\r\n\r\nOK\r\n");
    ASSERT_EQ(submits_.size(), 1u);
    EXPECT_EQ(submits_[0].destination, "+71234567890");
    EchoOff();
    EXPECT_EQ(Run("AT+CMGS=16\r"), "\r\n> ");
    EXPECT_EQ(Run(std::string(kSubmitHi) + "\x1A"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(submits_.size(), 2u);
}

TEST_F(SessionTest, ASendWhoseLengthOrPduIsWrongIsRefused) {
    EchoOff();
    Run("AT+CMGS=15\r");
    EXPECT_EQ(Run(std::string(kSubmitHi) + "\x1A"), "\r\n+CMS ERROR: 304\r\n");
    Run("AT+CMGS=16\r");
    EXPECT_EQ(Run("0011000B911732547698F00000FF02C8ZZ\x1A"), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(Run("AT+CMGS=0\r"), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(Run("AT+CMGS=200\r"), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_TRUE(submits_.empty());
    EXPECT_EQ(Run("AT\r"), "\r\nOK\r\n");  // back in command mode
}

TEST_F(SessionTest, EscAbandonsTheMessage) {
    EchoOff();
    Run("AT+CMGS=16\r");
    EXPECT_EQ(Run("0011000B91\x1B"), "\r\nOK\r\n");
    EXPECT_TRUE(submits_.empty());
    EXPECT_EQ(Run("AT\r"), "\r\nOK\r\n");
}

// --- faults ---

TEST_F(SessionTest, ASilentModemAnswersNothingAndEchoesNothing) {
    session_.SetFaults(Faults{.silent = true});
    EXPECT_EQ(Run("AT\r"), "");
    EXPECT_EQ(Receive(Deliver("a")), "");
    EXPECT_EQ(session_.Messages().size(), 1u);  // the SIM still takes it
    session_.SetFaults(Faults{});
    EXPECT_EQ(Run("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(SessionTest, AChosenCommandGetsError) {
    EchoOff();
    session_.SetFaults(Faults{.error_command = "AT+CMGF"});
    EXPECT_EQ(Run("AT+CMGF=0\r"), "\r\nERROR\r\n");
    EXPECT_EQ(Run("at+cmgf=0\r"), "\r\nERROR\r\n");
    EXPECT_EQ(Run("AT+CMEE=1\r"), "\r\nOK\r\n");
}

TEST_F(SessionTest, ASendCanBeRefusedWithAChosenCode) {
    EchoOff();
    session_.SetFaults(Faults{.send_error = 500});
    Run("AT+CMGS=16\r");
    EXPECT_EQ(Run(std::string(kSubmitHi) + "\x1A"), "\r\n+CMS ERROR: 500\r\n");
    EXPECT_TRUE(submits_.empty());
}

TEST_F(SessionTest, DelaysHoldBackAnswersAndConfirmationsButNotTheEcho) {
    session_.SetFaults(
        Faults{.answer_delay = milliseconds(300), .confirm_delay = milliseconds(4000)});
    SessionOutput out;
    session_.Feed("AT\r", out);
    ASSERT_EQ(out.emissions.size(), 4u);
    EXPECT_EQ(out.emissions[2].delay, milliseconds(0));  // the echoed "\r"
    EXPECT_EQ(out.emissions[3].bytes, "\r\nOK\r\n");
    EXPECT_EQ(out.emissions[3].delay, milliseconds(300));
    out = {};
    session_.Feed("ATE0\rAT+CMGS=16\r", out);
    EXPECT_EQ(out.emissions.back().bytes, "\r\n> ");
    EXPECT_EQ(out.emissions.back().delay, milliseconds(300));
    out = {};
    session_.Feed(std::string(kSubmitHi) + "\x1A", out);
    ASSERT_EQ(out.emissions.size(), 1u);
    EXPECT_EQ(out.emissions[0].bytes, "\r\n+CMGS: 0\r\n\r\nOK\r\n");
    EXPECT_EQ(out.emissions[0].delay, milliseconds(4300));
}

TEST_F(SessionTest, AnswersCanComeInLowerCase) {
    EchoOff();
    session_.SetFaults(Faults{.lower_case = true});
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+cpin: ready\r\n\r\nok\r\n");
}

TEST_F(SessionTest, AStuckEchoIgnoresAte0) {
    session_.SetFaults(Faults{.echo_stuck = true});
    EXPECT_EQ(Run("ATE0\r"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(Run("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(SessionTest, AnUnsolicitedLineComesBetweenEchoAndAnswerOfAChosenCommand) {
    session_.SetFaults(
        Faults{.unsolicited_command = "AT+CMGS", .unsolicited_line = "+CMTI: \"SM\",3"});
    EXPECT_EQ(Run("AT+CMGS=16\r"), "AT+CMGS=16\r\r\n+CMTI: \"SM\",3\r\n\r\n> ");
    EXPECT_EQ(Run("\x1B"
                  "AT\r"),
              "\r\nOK\r\nAT\r\r\nOK\r\n");
}

std::string RandomRun(double unsolicited, double noise, std::uint32_t seed) {
    Session session(ModemIdentity{"+79990000001", "+79990000000", 5, true});
    session.SetFaults(
        Faults{.random_unsolicited = unsolicited, .random_noise = noise, .seed = seed});
    SessionOutput out;
    for (int i = 0; i < 20; ++i) session.Feed("AT\r", out);
    std::string all;
    for (const Emission& e : out.emissions) all += e.bytes;
    return all;
}

TEST(SessionRandomFaults, AreRepeatableFromTheirSeed) {
    EXPECT_EQ(RandomRun(0.5, 0.5, 7), RandomRun(0.5, 0.5, 7));
    EXPECT_NE(RandomRun(0.5, 0.5, 7), RandomRun(0.5, 0.5, 8));
}

TEST(SessionRandomFaults, CertainUnsolicitedLinesPrecedeEveryAnswer) {
    const std::string all = RandomRun(1.0, 0.0, 3);
    std::size_t lines = 0;
    for (const char* line : {"\r\nRING\r\n", "\r\n+CREG: 1\r\n", "\r\n^RSSI:17\r\n",
                             "\r\n^BOOT:", "\r\n+CMTI: \"SM\",1\r\n"})
        for (std::size_t at = all.find(line); at != std::string::npos; at = all.find(line, at + 1))
            ++lines;
    EXPECT_EQ(lines, 20u);
}

TEST(SessionRandomFaults, NoiseComesBeforeAnswersAndNowhereElse) {
    const std::string all = RandomRun(0.0, 1.0, 3);
    EXPECT_GT(all.size(), 20 * std::string("AT\r\r\nOK\r\n").size());
    EXPECT_EQ(all.substr(0, 3), "AT\r");
    EXPECT_EQ(all.substr(all.size() - 6), "\r\nOK\r\n");
}

// ---- The ways real modems and SIMs differ ----

class SessionQuirksTest : public SessionTest {
  protected:
    void Set(const std::function<void(Faults&)>& change) {
        Faults faults = session_.faults();
        change(faults);
        session_.SetFaults(faults);
    }
};

TEST_F(SessionQuirksTest, APinLockedSimRefusesMessagesUntilItsPinAndCountsWrongOnes) {
    EchoOff();
    Set([](Faults& f) { f.pin = "1234"; });
    Run("AT+CMEE=1\r");
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGL=4\r"), "\r\n+CME ERROR: 11\r\n");
    EXPECT_EQ(Run("AT+CPIN=\"0000\"\r"), "\r\n+CME ERROR: 16\r\n");
    EXPECT_EQ(Run("AT+CPINR=\"SIM PIN\"\r"), "\r\n+CPINR: SIM PIN,2,3\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPIN=\"1234\"\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGL=4\r"), "\r\nOK\r\n");
    session_.PowerUp();
    EchoOff();
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n")
        << "asked again after power-up";
}

TEST_F(SessionQuirksTest, ThreeWrongPinsLockTheSimBehindItsPuk) {
    EchoOff();
    Set([](Faults& f) { f.pin = "1234"; });
    Run("AT+CMEE=1\r");
    for (int i = 0; i < 3; ++i) Run("AT+CPIN=\"9999\"\r");
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPIN=\"1234\"\r"), "\r\n+CME ERROR: 12\r\n");
}

TEST_F(SessionQuirksTest, AMissingOrFailedSimIsSaidWithItsCode) {
    EchoOff();
    Run("AT+CMEE=1\r");
    Set([](Faults& f) { f.sim = SimCondition::Missing; });
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+CME ERROR: 10\r\n");
    Set([](Faults& f) { f.sim = SimCondition::Failed; });
    EXPECT_EQ(Run("AT+CMGS=16\r"), "\r\n+CME ERROR: 13\r\n");
    Set([](Faults& f) { f.sim = SimCondition::PhoneLocked; });
    EXPECT_EQ(Run("AT+CPIN?\r"), "\r\n+CPIN: PH-SIM PIN\r\n\r\nOK\r\n");
}

TEST_F(SessionQuirksTest, ABusySimAnswersItsBusyCodeInNumberOrText) {
    EchoOff();
    Set([](Faults& f) { f.sim_busy = std::chrono::hours(1); });
    EXPECT_EQ(Run("AT+CMGF=0\r"), "\r\nOK\r\n") << "the modem itself answers";
    Run("AT+CMEE=1\r");
    EXPECT_EQ(Run("AT+CPMS=\"SM\"\r"), "\r\n+CME ERROR: 14\r\n");
    Set([](Faults& f) { f.busy_code = 515; });
    Run("AT+CMEE=2\r");
    EXPECT_EQ(Run("AT+CPIN?\r"),
              "\r\n+CME ERROR: Please wait, init or command processing in progress\r\n");
    Set([](Faults& f) { f.busy_code = 314; });
    EXPECT_EQ(Run("AT+CMGL=4\r"), "\r\n+CMS ERROR: SIM busy\r\n");
    Set([](Faults& f) { f.sim_busy = milliseconds(0); });
    EXPECT_EQ(Run("AT+CMGL=4\r"), "\r\nOK\r\n");
}

TEST_F(SessionQuirksTest, AnotherProgramOnThePortAnswersForItAndTheClientsLineIsLost) {
    EchoOff();
    Set([](Faults& f) { f.foreign = std::chrono::hours(1); });
    const std::string foreign = "AT+GCAP\r\r\n+GCAP: +CGSM,+DS,+ES\r\n\r\nOK\r\n\r\nERROR\r\n";
    EXPECT_EQ(Run("AT+CMGF=0\r"), foreign);
    // The lost line did nothing: echo stays off, and nothing else was run.
    EXPECT_EQ(Run("ATE1\r"), foreign);
    Set([](Faults& f) { f.foreign = milliseconds(0); });
    EXPECT_EQ(Run("AT\r"), "\r\nOK\r\n");
}

TEST_F(SessionQuirksTest, NewMessagesGoToTheModemsOwnMemoryWhenSoSet) {
    EchoOff();
    Set([](Faults& f) { f.new_memory = "ME"; });
    EXPECT_EQ(Receive(Deliver("mine")), "\r\n+CMTI: \"ME\",1\r\n");
    EXPECT_EQ(Run("AT+CPMS=?\r"),
              "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CMGL=4\r"), "\r\nOK\r\n") << "the SIM holds nothing";
    EXPECT_EQ(Run("AT+CPMS=\"ME\"\r"), "\r\n+CPMS: 1,5,1,5,1,5\r\n\r\nOK\r\n");
    EXPECT_NE(Run("AT+CMGL=4\r").find("+CMGL: 1,0,,"), std::string::npos);
    EXPECT_EQ(Run("AT+CMGD=1\r"), "\r\nOK\r\n");
    EXPECT_TRUE(session_.Messages().empty());
}

TEST_F(SessionQuirksTest, MtListsTheSimAndThenTheModemsMemoryAfterIt) {
    EchoOff();
    Receive(Deliver("on the SIM"));
    Set([](Faults& f) { f.new_memory = "MT"; });
    EXPECT_EQ(Receive(Deliver("in the modem")), "\r\n+CMTI: \"MT\",6\r\n");
    Run("AT+CPMS=\"MT\"\r");
    const std::string listing = Run("AT+CMGL=4\r");
    EXPECT_NE(listing.find("+CMGL: 1,"), std::string::npos);
    EXPECT_NE(listing.find("+CMGL: 6,"), std::string::npos);
    Run("AT+CMGD=6\r");
    ASSERT_EQ(session_.Messages().size(), 1u);
    EXPECT_EQ(session_.Messages()[0].memory, "SM");
}

TEST_F(SessionQuirksTest, DirectDeliveryHandsTheMessageOverAndWaitsForItsAcknowledgement) {
    EchoOff();
    Set([](Faults& f) { f.direct = DirectDelivery::Acknowledged; });
    const std::string pdu = Deliver("direct");
    EXPECT_EQ(Receive(pdu), "\r\n+CMT: ,25\r\n" + pdu + "\r\n");
    EXPECT_TRUE(session_.Messages().empty());
    EXPECT_EQ(session_.unacknowledged(), 1u);
    EXPECT_EQ(Run("AT+CNMA\r"), "\r\nOK\r\n");
    EXPECT_EQ(session_.unacknowledged(), 0u);
    EXPECT_EQ(Run("AT+CNMA\r"), "\r\n+CMS ERROR: 340\r\n") << "nothing left to acknowledge";
}

TEST_F(SessionQuirksTest, AnUnacknowledgedDeliveryIsStoredWhenTheClientLetsGo) {
    Set([](Faults& f) { f.direct = DirectDelivery::Acknowledged; });
    Receive(Deliver("kept"));
    session_.ClientChanged();
    EXPECT_EQ(session_.Messages().size(), 1u);
    SessionOutput out;
    Set([](Faults& f) { f.direct = DirectDelivery::On; });
    session_.Receive(Deliver("nobody listens"), out, false);
    EXPECT_EQ(session_.Messages().size(), 2u) << "no client: stored instead";
}

TEST_F(SessionQuirksTest, StatusReportsAreKeptInTheSimOrHandedOver) {
    EchoOff();
    Set([](Faults& f) { f.reports = ReportMode::Indicated; });
    Run("AT+CMGS=16\r");
    const std::string answer = Run(std::string(kSubmitHiReported) + "\x1A");
    EXPECT_NE(answer.find("+CMGS: 0"), std::string::npos);
    EXPECT_NE(answer.find("+CDSI: \"SM\",1"), std::string::npos);
    ASSERT_EQ(session_.Messages().size(), 1u);
    // SMSC part, then the first octet 06: TP-MTI 2, an SMS-STATUS-REPORT, reference 00.
    const std::string report = session_.Messages()[0].pdu;
    const auto smsc = std::stoi(report.substr(0, 2), nullptr, 16);
    EXPECT_EQ(report.substr(2 + 2 * smsc, 4), "0600") << report;
    Set([](Faults& f) { f.reports = ReportMode::Direct; });
    Run("AT+CMGS=16\r");
    const std::string direct = Run(std::string(kSubmitHiReported) + "\x1A");
    EXPECT_LT(direct.find("+CMGS: 1"), direct.find("+CDS: "));
}

TEST_F(SessionQuirksTest, OnlyASendThatAsksForAReportGetsOneWithTheStatusSet) {
    EchoOff();
    Set([](Faults& f) {
        f.reports = ReportMode::Stored;
        f.report_status = 0x41;
    });
    Run("AT+CMGS=16\r");
    EXPECT_NE(Run(std::string(kSubmitHi) + "\x1A").find("+CMGS: 0"), std::string::npos);
    EXPECT_TRUE(session_.Messages().empty()) << "TP-SRR not set: no report";
    Run("AT+CMGS=16\r");
    EXPECT_NE(Run(std::string(kSubmitHiReported) + "\x1A").find("+CMGS: 1"), std::string::npos)
        << "every send gets a reference of its own";
    ASSERT_EQ(session_.Messages().size(), 1u);
    const std::string report = session_.Messages()[0].pdu;
    EXPECT_EQ(report.substr(report.size() - 2), "41") << "TP-ST last: " << report;
}

TEST_F(SessionQuirksTest, AReportStatusWithACountFailsThatManyReportsAndTheLaterOnesDeliver) {
    EchoOff();
    Set([](Faults& f) {
        f.reports = ReportMode::Stored;
        f.report_status = 0x45;
        f.report_status_count = 1;
    });
    for (int i = 0; i < 3; ++i) {
        Run("AT+CMGS=16\r");
        Run(std::string(kSubmitHiReported) + "\x1A");
    }
    const auto stored = session_.Messages();
    ASSERT_EQ(stored.size(), 3u);
    std::vector<std::string> statuses;
    for (const auto& message : stored)
        statuses.push_back(message.pdu.substr(message.pdu.size() - 2));
    EXPECT_EQ(statuses, (std::vector<std::string>{"45", "00", "00"}));
}

TEST_F(SessionQuirksTest, MessageReferencesComeRoundAfter255) {
    EchoOff();
    std::string last;
    for (int i = 0; i < 257; ++i) {
        Run("AT+CMGS=16\r");
        last = Run(std::string(kSubmitHi) + "\x1A");
        if (i == 255) {
            EXPECT_NE(last.find("+CMGS: 255"), std::string::npos) << last;
        }
    }
    EXPECT_NE(last.find("+CMGS: 0"), std::string::npos) << last;
}

TEST_F(SessionQuirksTest, AHungModemSaysHalfAListingAndNothingUntilTheClientLetsGo) {
    EchoOff();
    for (const char* text : {"a", "b"}) Receive(Deliver(text));
    Set([](Faults& f) { f.hang_command = "AT+CMGL"; });
    const std::string half = Run("AT+CMGL=4\r");
    EXPECT_NE(half.find("+CMGL: 1,"), std::string::npos);
    EXPECT_EQ(half.find("+CMGL: 2,"), std::string::npos);
    EXPECT_EQ(half.find("OK"), std::string::npos);
    EXPECT_EQ(Run("AT\r"), "");
    session_.ClientChanged();
    EXPECT_EQ(Run("AT\r"), "\r\nOK\r\n");
    EXPECT_NE(Run("AT+CMGL=4\r").find("OK"), std::string::npos) << "the hang was spent";
}

TEST_F(SessionQuirksTest, ThePromptTakesTheFormSet) {
    EchoOff();
    Set([](Faults& f) { f.prompt = PromptForm::Bare; });
    EXPECT_EQ(Run("AT+CMGS=16\r"), ">");
    Run("\x1B");
    Set([](Faults& f) { f.prompt = PromptForm::CrLf; });
    EXPECT_EQ(Run("AT+CMGS=16\r"), "\r\n>");
}

TEST_F(SessionQuirksTest, TransientRefusalsEndAfterTheirCount) {
    EchoOff();
    Set([](Faults& f) {
        f.send_refusals = 2;
        f.refusal_code = 314;
    });
    for (int i = 0; i < 2; ++i) {
        Run("AT+CMGS=16\r");
        EXPECT_EQ(Run(std::string(kSubmitHi) + "\x1A"), "\r\n+CMS ERROR: 314\r\n");
    }
    Run("AT+CMGS=16\r");
    EXPECT_NE(Run(std::string(kSubmitHi) + "\x1A").find("+CMGS:"), std::string::npos);
    EXPECT_EQ(submits_.size(), 1u);
}

TEST_F(SessionQuirksTest, AfterTheSendLimitEverySendIsRefusedUntilTheCountIsReset) {
    EchoOff();
    Set([](Faults& f) { f.send_limit = 2; });
    const auto send = [this] {
        Run("AT+CMGS=16\r");
        return Run(std::string(kSubmitHi) + "\x1A");
    };
    EXPECT_NE(send().find("+CMGS: 0"), std::string::npos);
    session_.PowerUp();  // a restart of the modem does not lift the operator's block
    EchoOff();
    EXPECT_NE(send().find("+CMGS: 1"), std::string::npos);
    EXPECT_EQ(send(), "\r\n+CMS ERROR: 21\r\n");
    EXPECT_EQ(send(), "\r\n+CMS ERROR: 21\r\n");
    EXPECT_EQ(session_.accepted_sends(), 2);
    session_.ResetSendCount();
    EXPECT_NE(send().find("+CMGS: 2"), std::string::npos);
    EXPECT_EQ(submits_.size(), 3u) << "a refused send never reaches the network";
}

// ---- Who the modem and its SIM are ----

// The Luhn test (ISO/IEC 7812) as IMEIs and ICCIDs must pass it.
bool PassesLuhn(const std::string& digits) {
    int sum = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        int value = digits[digits.size() - 1 - i] - '0';
        if (i % 2 == 1) value = value * 2 > 9 ? value * 2 - 9 : value * 2;
        sum += value;
    }
    return sum % 10 == 0;
}

TEST(SerialsTest, DefaultsAreValidAndDifferForEveryModem) {
    std::set<std::string> imeis, iccids, imsis;
    for (int i = 1; i <= 16; ++i) {
        const Serials serials =
            DefaultSerials("+799900000" + std::string(i < 10 ? "0" : "") + std::to_string(i));
        EXPECT_TRUE(ValidSerials(serials)) << i;
        EXPECT_TRUE(PassesLuhn(serials.imei)) << serials.imei;
        EXPECT_TRUE(PassesLuhn(serials.iccid)) << serials.iccid;
        imeis.insert(serials.imei);
        iccids.insert(serials.iccid);
        imsis.insert(serials.imsi);
    }
    EXPECT_EQ(imeis.size(), 16u);
    EXPECT_EQ(iccids.size(), 16u);
    EXPECT_EQ(imsis.size(), 16u);
    EXPECT_FALSE(ValidSerials({"35699900000001", "8970199799900000013", "250990000000001"}))
        << "an IMEI of 14 digits";
    EXPECT_FALSE(ValidSerials({"356999000000011", "1970199799900000013", "250990000000001"}))
        << "an ICCID that does not begin 89";
}

TEST_F(SessionTest, TheSimFileAndAtCcidGiveTheIccid) {
    EchoOff();
    // 8970199799900000013 with its padding F, each pair of digits swapped.
    EXPECT_EQ(Run("AT+CRSM=176,12258,0,0,10\r"),
              "\r\n+CRSM: 144,0,\"980791799909000010F3\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CRSM=176,28423,0,0,9\r"), "\r\n+CRSM: 106,130\r\n\r\nOK\r\n")
        << "EF_IMSI is not served";
    EXPECT_EQ(Run("AT+CCID\r"), "\r\n+CCID: 8970199799900000013\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CIMI\r"), "\r\n250999990000001\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+QCCID\r"), "\r\nERROR\r\n") << "not a Quectel";
    session_.SetSerials({"490154203237518", "8939107800023416395", "262011234567890"});
    EXPECT_EQ(Run("AT+CGSN;+CCID\r"),
              "\r\n490154203237518\r\n\r\n+CCID: 8939107800023416395\r\n\r\nOK\r\n");
}

TEST_F(SessionQuirksTest, EachMakerAnswersItsOwnIccidCommand) {
    EchoOff();
    struct Case {
        Maker maker;
        const char* command;
        const char* answer;
    };
    const Case cases[] = {
        {Maker::Huawei, "AT^ICCID?\r", "\r\n^ICCID: 980791799909000010F3\r\n\r\nOK\r\n"},
        {Maker::Quectel, "AT+QCCID\r", "\r\n+QCCID: 8970199799900000013\r\n\r\nOK\r\n"},
        {Maker::Simcom, "AT+CICCID\r", "\r\n+ICCID: 8970199799900000013\r\n\r\nOK\r\n"},
    };
    for (const Case& c : cases) {
        Set([&c](Faults& f) { f.maker = c.maker; });
        EXPECT_EQ(Run(c.command), c.answer) << c.command;
        EXPECT_EQ(Run("AT+CCID\r"), "\r\n+CCID: 8970199799900000013\r\n\r\nOK\r\n") << c.command;
    }
    EXPECT_EQ(Run("AT+CGMI\r"), "\r\nSIMCOM INCORPORATED\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT^ICCID?\r"), "\r\nERROR\r\n") << "a SIMCom modem has no Huawei command";
}

TEST_F(SessionQuirksTest, TheSimsSerialsWaitForItsPin) {
    EchoOff();
    Set([](Faults& f) { f.pin = "1234"; });
    Run("AT+CMEE=1\r");
    EXPECT_EQ(Run("AT+CCID\r"), "\r\n+CME ERROR: 11\r\n");
    EXPECT_EQ(Run("AT+CRSM=176,12258,0,0,10\r"), "\r\n+CME ERROR: 11\r\n");
    EXPECT_EQ(Run("AT+CGSN\r"), "\r\n356999000000011\r\n\r\nOK\r\n") << "the modem's own";
}

}  // namespace
}  // namespace velka::modemsim
