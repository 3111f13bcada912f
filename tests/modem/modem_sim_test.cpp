// The modem session against virtual modems: initialisation, sending and the
// reception cycle, with the simulator's faults.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "modem/dialogue.h"
#include "modem/inbox_sink.h"
#include "modem/session.h"
#include "modem/status_report.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "sms/smsbase.h"
#include "sms/text_plan.h"
#include "store/joined_box.h"
#include "store/store_file.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/pdu.h"

namespace velka::modem {
namespace {

using testing::Count;
using testing::SimModems;

constexpr const char* kFirst = "+79990000001";
constexpr const char* kSecond = "+79990000002";

class ModemSimTest : public ::testing::Test {
  protected:
    ModemSimTest() : modems_(2) { session_.Bind(modems_.ComNumber(1)); }

    bool Init() { return session_.Open(); }
    SendResult Send(const std::string& number, const std::string& text,
                    DeliveryReports reports = DeliveryReports::Off) {
        SendPosition position;
        return session_.Send(MakePacket(number, "07.12.2026 10:00:00", text), position, reports,
                             {});
    }
    ReceptionReport Receive() { return session_.Receive(sink_); }
    std::vector<packet> Inbox() { return *store::Load(inbox_); }
    // A cycle that did not get the listing: the one message stays on the SIM alone.
    void ExpectNothingStoredOrDeleted(const ReceptionReport& report) {
        EXPECT_FALSE(report.listed);
        EXPECT_FALSE(files::Exists(inbox_));
        EXPECT_EQ(modems_.Store(1).size(), 1u);
        EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD"), 0u);
    }
    // The texts that reached the second modem, decoded by the client's codec.
    std::vector<std::string> SecondTexts() {
        std::vector<std::string> texts;
        for (const auto& message : modems_.Store(2)) {
            TSMS sms;
            sms.ParsePDU(message.pdu);
            texts.push_back(sms.DecodeText());
        }
        return texts;
    }

    SimModems modems_;
    StopSignal stop_;
    Session session_{stop_, Registry::Machine()};
    velka::testing::TempDir dir_;
    std::string inbox_ = dir_.File("inbox.db");
    InboxSink sink_{inbox_};
};

// ---- Initialisation ----

TEST_F(ModemSimTest, InitialisesAModemWithEchoOnAndTurnsTheEchoOff) {
    ASSERT_TRUE(Init());
    // The design's commands in their order (after the Esc that ends a PDU prompt
    // left open), then the SIM's state, at an opening what the modem is and its
    // and its SIM's serials, and the request to announce arrivals.
    EXPECT_EQ(modems_.Written(1),
              "\x1B"
              "AT\rAT\rATE0\rAT+CMEE=1\rAT+CMGF=0\rAT+CPIN?\rAT+CGMI\rAT+CGMM\rAT+COPS?\r"
              "AT+CGSN\rAT+CRSM=176,12258,0,0,10\rAT+CIMI\rAT+CSQ\r"
              "AT+CNMI=?\rAT+CNMI=2,1,0,2,0\r");
    std::string answers;
    for (const auto& entry : modems_.modem(1).Transcript()) {
        if (entry.direction == modemsim::Direction::FromModem) answers += entry.bytes;
    }
    EXPECT_EQ(Count(answers, "AT\r"), 2u) << "echoed before ATE0";
    EXPECT_EQ(Count(answers, "AT+CMEE"), 0u) << "not echoed after ATE0";
}

TEST_F(ModemSimTest, AcceptsLowerCaseAnswersAndAStuckEcho) {
    modems_.Control("fault 1 lower on");
    modems_.Control("fault 1 echo-stuck on");
    EXPECT_TRUE(Init());
    EXPECT_EQ(Send(kSecond, "lower"), SendResult::Sent);
    EXPECT_EQ(modems_.Store(2).size(), 1u);
}

TEST_F(ModemSimTest, AModemThatRejectsNumericErrorsIsStillReady) {
    modems_.Control("fault 1 error AT+CMEE");
    EXPECT_TRUE(Init());
}

// Firmware that answers what it does not know with a text of its own: each refusal
// ends its wait at once, so the optional commands cost one answer each, never a
// time-out (which would count as a silence), and the rest goes on as usual.
TEST_F(ModemSimTest, AVendorsOwnRefusalTextEndsTheWaitAsARefusal) {
    for (const char* text : {"COMMAND NOT SUPPORT", "TOO MANY PARAMETERS", "NO CARRIER"}) {
        modems_.Control(std::string("fault 1 refusal-text ") + text);
        modems_.Control("fault 1 error AT+CNMI");
        session_.Close();
        EXPECT_TRUE(Init()) << text;
        EXPECT_FALSE(session_.Announces()) << text;
        EXPECT_NE(session_.Settle(), Session::Conduct::Silent) << text << ": waited out";
        EXPECT_EQ(Send(kSecond, text), SendResult::Sent) << text;
    }
    EXPECT_EQ(SecondTexts().size(), 3u);
}

TEST_F(ModemSimTest, AModemThatRefusesPduModeIsNotReady) {
    modems_.Control("fault 1 error AT+CMGF");
    EXPECT_FALSE(Init());
}

TEST_F(ModemSimTest, ASilentModemIsNotReadyAfterTheTwoAttentionCommands) {
    modems_.Control("fault 1 silent on");
    EXPECT_FALSE(Init());
    EXPECT_EQ(modems_.Written(1),
              "\x1B"
              "AT\rAT\r");
    EXPECT_FALSE(session_.PortOpen()) << "the port is closed so that the next try opens it afresh";
}

// A client killed between "AT+CMGS=" and Ctrl-Z leaves the modem taking every byte
// as part of the message; the next client's Esc ends that.
TEST_F(ModemSimTest, AModemLeftWaitingForADeadClientsMessageIsReadyAgain) {
    {
        TComPort dead_client;
        ConfigurePort(dead_client);
        dead_client.SetComNumber(modems_.ComNumber(1));
        dead_client.SetOpen(true);
        ASSERT_TRUE(WriteCommand(dead_client, "AT+CMGS=20"));
        ASSERT_TRUE(dead_client.WaitForString(">", kPromptTicks, false, true));
    }
    EXPECT_TRUE(Init());
    EXPECT_EQ(Send(kSecond, "after the dead client"), SendResult::Sent);
    EXPECT_EQ(SecondTexts().size(), 1u) << "the abandoned message was not sent";
}

TEST_F(ModemSimTest, PortNumberZeroOpensAndWritesNothing) {
    Session unset(stop_, Registry::Machine());
    EXPECT_FALSE(unset.Open());
    EXPECT_FALSE(unset.PortOpen());
}

TEST_F(ModemSimTest, AVanishedDeviceIsNotReadyUntilItComesBack) {
    ASSERT_TRUE(Init());
    modems_.Control("drop 1");
    EXPECT_FALSE(Init());
    EXPECT_FALSE(Init()) << "still gone";
    modems_.Control("restore 1");
    EXPECT_TRUE(Init());
    EXPECT_EQ(Send(kSecond, "back"), SendResult::Sent);
}

// ---- Sending ----

TEST_F(ModemSimTest, ASingleTextArrivesWithTheSignatureInFront) {
    ASSERT_TRUE(Init());
    EXPECT_EQ(Send(kSecond, "Hello"), SendResult::Sent);
    EXPECT_EQ(SecondTexts(), std::vector<std::string>{std::string(kSignature) + "Hello"});
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS="), 1u);
}

TEST_F(ModemSimTest, ALongTextGoesInNumberedSegmentsSharingOneReference) {
    ASSERT_TRUE(Init());
    const std::string text(306 - kSignature.size(), 'x');
    EXPECT_EQ(Send(kSecond, text), SendResult::Sent);
    const auto stored = modems_.Store(2);
    ASSERT_EQ(stored.size(), 2u);
    std::vector<std::string> headers;
    std::string joined;
    for (const auto& message : stored) {
        TSMS sms;
        sms.ParsePDU(message.pdu);
        const std::string piece = sms.DecodeText();
        EXPECT_EQ(piece.size(), 153u);
        joined += piece;
        headers.push_back(sms.UDH);
    }
    EXPECT_EQ(joined, std::string(kSignature) + text);
    ASSERT_EQ(headers[0].size(), 12u);
    EXPECT_EQ(headers[0].substr(0, 6), "050003");
    EXPECT_EQ(headers[0].substr(6, 2), headers[1].substr(6, 2));
    EXPECT_EQ(headers[0].substr(8), "0201");
    EXPECT_EQ(headers[1].substr(8), "0202");
}

// Each confirmation is told before the next segment goes, so that the queue can
// note it; a text cut short goes on from where its position says, under the same
// reference, and the receiving phone gets each segment once.
TEST_F(ModemSimTest, ATextCutShortGoesOnFromItsPositionUnderTheSameReference) {
    ASSERT_TRUE(Init());
    const packet record = MakePacket(kSecond, "07.12.2026 10:00:00", std::string(400, 'z'));
    SendPosition position;
    std::vector<std::size_t> told;
    const auto note = [&](const SendPosition& at, const Confirmation& confirmation) {
        told.push_back(at.confirmed);
        EXPECT_GE(confirmation.reference, 0);
        EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS="), told.size() == 1 ? 1u : at.confirmed + 1)
            << "told before the next segment goes";
        // The modem refuses what comes after the first segment, this time.
        if (told.size() == 1) modems_.Control("fault 1 send-error 500");
    };
    EXPECT_EQ(session_.Send(record, position, DeliveryReports::Off, note), SendResult::Failed);
    EXPECT_EQ(position.confirmed, 1u);
    EXPECT_EQ(position.segments, 3u);
    const std::string reference = position.reference;
    ASSERT_EQ(reference.size(), 2u);
    modems_.Control("fault 1 send-error 0");
    EXPECT_EQ(session_.Send(record, position, DeliveryReports::Off, note), SendResult::Sent);
    EXPECT_EQ(told, (std::vector<std::size_t>{1, 2, 3}));
    EXPECT_EQ(position.reference, reference);
    std::set<std::string> headers;
    std::string joined;
    for (const auto& message : modems_.Store(2)) {
        TSMS sms;
        sms.ParsePDU(message.pdu);
        joined += sms.DecodeText();  // which reads the header too
        headers.insert(sms.UDH);
    }
    EXPECT_EQ(joined, std::string(kSignature) + std::string(400, 'z'));
    EXPECT_EQ(headers,
              (std::set<std::string>{"050003" + reference + "0301", "050003" + reference + "0302",
                                     "050003" + reference + "0303"}));
}

// A text begun in parts of 67 goes on in parts of 67, so the recipient's phone
// joins the whole text; the room of a new text is the caller's.
TEST_F(ModemSimTest, ATextCutShortGoesOnInTheSegmentsItBeganWith) {
    ASSERT_TRUE(Init());
    std::string russian;
    for (int i = 0; i < 23; ++i) russian += "\xC0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9";  // 230
    const packet record = MakePacket(kSecond, "07.12.2026 10:00:00", russian);
    SendPosition position;
    position.room = SegmentRoom::Full;
    const auto refuse_after_the_first = [&](const SendPosition& at, const Confirmation&) {
        if (at.confirmed == 1) modems_.Control("fault 1 send-error 500");
    };
    EXPECT_EQ(session_.Send(record, position, DeliveryReports::Off, refuse_after_the_first),
              SendResult::Failed);
    EXPECT_EQ(position.segments, 4u) << "where the designed parts take 5";
    modems_.Control("fault 1 send-error 0");
    EXPECT_EQ(session_.Send(record, position, DeliveryReports::Off, {}), SendResult::Sent);
    std::string joined;
    for (const auto& message : modems_.Store(2)) {
        TSMS sms;
        sms.ParsePDU(message.pdu);
        joined += sms.DecodeText();
    }
    EXPECT_EQ(modems_.Store(2).size(), 4u);
    EXPECT_EQ(joined, std::string(kSignature) + russian);
}

TEST_F(ModemSimTest, ACyrillicTextGoesAsUcs2) {
    ASSERT_TRUE(Init());
    const std::string privet = "\xCF\xF0\xE8\xE2\xE5\xF2";  // "Привет"
    EXPECT_EQ(Send(kSecond, privet), SendResult::Sent);
    ASSERT_EQ(modems_.Store(2).size(), 1u);
    TSMS sms;
    sms.ParsePDU(modems_.Store(2)[0].pdu);
    EXPECT_EQ(sms.Alphabet, 2);
    EXPECT_EQ(sms.DecodeText(), std::string(kSignature) + privet);
}

// Every printable Windows-1251 character, and a text typed beyond the code page,
// read by the virtual modem's own decoder at the other end: the parts joined are
// the signature and the text as typed, not a "?" among them.
TEST_F(ModemSimTest, EveryWindows1251CharacterAndATextBeyondItArriveAsTyped) {
    ASSERT_TRUE(Init());
    const auto carried_since = [&](std::size_t first) {
        std::string carried;
        const auto stored = modems_.Store(2);
        for (std::size_t i = first; i < stored.size(); ++i) {
            const auto deliver = modemsim::ParseDeliver(stored[i].pdu);
            EXPECT_TRUE(deliver.ok());
            if (deliver) carried += modemsim::UserDataText(deliver->data);
        }
        return carried;
    };
    std::string every = "\r\n";
    for (int code = 0x20; code <= 0xFF; ++code) every += static_cast<char>(code);
    ASSERT_EQ(Send(kSecond, every), SendResult::Sent);
    EXPECT_EQ(carried_since(0), codepage::ToUtf8(std::string(kSignature) + every));

    const std::size_t before = modems_.Store(2).size();
    const std::u16string whole =
        u"\u03A3\u03B1\u03C2 \U0001F600 \u4F60\u597D \u0645\u0631\u062D\u0628\u0627";
    SendPosition position;
    ASSERT_EQ(session_.Send(MakePacket(kSecond, "09.12.2026 10:00:00", codepage::FromUtf16(whole)),
                            position, DeliveryReports::Off, {}, whole),
              SendResult::Sent);
    EXPECT_EQ(carried_since(before), codepage::Utf16ToUtf8(codepage::ToUtf16(kSignature) + whole));
}

TEST_F(ModemSimTest, ANewMessageIndicationDuringASendIsReadPast) {
    modems_.Control("fault 1 confirm-delay 300");
    ASSERT_TRUE(Init());
    std::thread indicator([&] {
        testing::Eventually([&] { return Count(modems_.Written(1), "\x1A") == 1; });
        modems_.Control("unsolicited 1 +CMTI: \"SM\",4");
    });
    EXPECT_EQ(Send(kSecond, "once"), SendResult::Sent);
    indicator.join();
    EXPECT_EQ(modems_.Store(2).size(), 1u) << "sent exactly once";
}

TEST_F(ModemSimTest, ALateConfirmationIsWaitedFor) {
    modems_.Control("fault 1 confirm-delay 1500");
    ASSERT_TRUE(Init());
    EXPECT_EQ(Send(kSecond, "late"), SendResult::Sent);
}

TEST_F(ModemSimTest, ARefusedFirstSegmentFailsTheTextAndWritesNoMore) {
    modems_.Control("fault 1 send-error 500");
    ASSERT_TRUE(Init());
    EXPECT_EQ(Send(kSecond, std::string(400, 'y')), SendResult::Failed);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS="), 1u);
    EXPECT_TRUE(modems_.Store(2).empty());
}

TEST_F(ModemSimTest, ARecordWithoutAValidNumberWritesNothing) {
    ASSERT_TRUE(Init());
    const std::string before = modems_.Written(1);
    EXPECT_EQ(Send("", "nobody"), SendResult::Unsendable);
    EXPECT_EQ(Send("+7 999 abc", "nobody"), SendResult::Unsendable);
    EXPECT_EQ(modems_.Written(1), before);
}

TEST_F(ModemSimTest, TheStopFlagEndsAWaitForAConfirmation) {
    modems_.Control("fault 1 confirm-delay 60000");
    ASSERT_TRUE(Init());
    std::thread stopper([&] {
        testing::Eventually([&] { return Count(modems_.Written(1), "\x1A") == 1; });
        stop_.Set();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(kSecond, "cut"), SendResult::Failed);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

// ---- Reception ----

TEST_F(ModemSimTest, ReceivesEveryMessageInListingOrderThenDeletesThem) {
    modems_.Control("inject 1 +79161234567 first");
    modems_.Control("inject 1 +79161234567 second");
    modems_.Control("inject 1 +79031112233 \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    ASSERT_TRUE(Init());
    const auto report = Receive();
    EXPECT_TRUE(report.listed);
    EXPECT_EQ(report.deleted, 3u);
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 3u);
    EXPECT_EQ(inbox[0].number_text(), "+79161234567");
    EXPECT_EQ(inbox[0].text_text(), "first");
    EXPECT_EQ(inbox[1].text_text(), "second");
    EXPECT_EQ(inbox[2].number_text(), "+79031112233");
    EXPECT_EQ(inbox[2].text_text(), "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(inbox[0].state, kPacketStored);
    EXPECT_FALSE(inbox[0].datetime_text().empty());
    EXPECT_TRUE(modems_.Store(1).empty());
}

// A 331-character Russian text: five UCS2 parts, cut mid-word.
std::string LongRussianUtf8() {
    std::string text;
    while (text.size() < 331 * 2) text += "Оно содержит всё, что нужно. ";
    return codepage::ToUtf8(codepage::FromUtf8(text).substr(0, 331));
}

// A sink with room for `keeps` messages, which notes how many the modem still held
// each time it was given some.
class CountingSink : public ReceptionSink {
  public:
    CountingSink(SimModems& modems, std::size_t keeps) : modems_(modems), room_(keeps) {}
    Kept Keep(const std::vector<std::string>& pdus) override {
        on_modem_when_given.push_back(modems_.Store(1).size());
        Kept kept;
        for (std::size_t i = 0; i < pdus.size(); ++i) {
            kept.on_disk.push_back(room_ > 0);
            if (room_ > 0) {
                --room_;
            } else {
                kept.status = Error{"the sink is full"};
            }
        }
        return kept;
    }
    std::vector<std::size_t> on_modem_when_given;

  private:
    SimModems& modems_;
    std::size_t room_;
};

TEST_F(ModemSimTest, EachMessageGoesToTheSinkBeforeItIsDeletedAndOnlyWhatItHoldsIsDeleted) {
    for (const char* text : {"one", "two", "three"})
        modems_.Control(std::string("inject 1 +79161234567 ") + text);
    ASSERT_TRUE(Init());
    CountingSink sink(modems_, 2);
    const ReceptionReport report = session_.Receive(sink);
    ASSERT_FALSE(sink.on_modem_when_given.empty());
    EXPECT_EQ(sink.on_modem_when_given.front(), 3u) << "nothing deleted before the sink had it";
    EXPECT_EQ(report.deleted, 2u);
    EXPECT_EQ(report.unsaved, 1u);
    EXPECT_FALSE(report.saved);
    ASSERT_EQ(modems_.Store(1).size(), 1u) << "what the sink refused stays on the modem";
}

// The network holds messages back while the SIM is full and hands them over as
// deletes free its slots, announced while the cycle is still deleting: the cycle
// lists again and leaves the SIM empty.
TEST_F(ModemSimTest, ASimThatRefillsWhileItIsReadIsEmptiedInOneCycle) {
    SimModems small(1, 3);
    Session session(stop_, Registry::Machine());
    session.Bind(small.ComNumber(1));
    for (int i = 1; i <= 8; ++i) small.Control("inject 1 +79161234567 full " + std::to_string(i));
    ASSERT_EQ(small.Store(1).size(), 3u) << "the rest is held back by the network";
    ASSERT_TRUE(session.Open());
    const ReceptionReport report = session.Receive(sink_);
    EXPECT_EQ(report.stored.size(), 8u);
    EXPECT_TRUE(small.Store(1).empty());
    EXPECT_EQ(small.modem(1).held_back(), 0u);
    EXPECT_EQ(Inbox().size(), 8u);
}

// A modem that took AT+CNMI yet lets a message in unannounced is no longer trusted
// to announce, until an announcement is heard again; messages that were there
// before announcements were asked for say nothing either way.
TEST_F(ModemSimTest, AnnouncementsThatGoMissingAreDistrustedUntilOneIsHeardAgain) {
    modems_.Control("inject 1 +79161234567 before the opening");
    ASSERT_TRUE(Init());
    ASSERT_EQ(Receive().stored.size(), 1u);
    EXPECT_EQ(session_.ReceptionMode(), Reception::Announced);

    modems_.Control("fault 1 mute on");
    modems_.Control("inject 1 +79161234567 unannounced");
    ASSERT_EQ(Receive().stored.size(), 1u);  // the safety poll finds it
    EXPECT_EQ(session_.ReceptionMode(), Reception::Distrusted);
    EXPECT_TRUE(Receive().stored.empty());
    EXPECT_EQ(session_.ReceptionMode(), Reception::Distrusted) << "an empty poll proves nothing";

    modems_.Control("fault 1 mute off");
    modems_.Control("inject 1 +79161234567 announced again");
    ASSERT_TRUE(Init());  // reads the announcement that waited on the line
    ASSERT_EQ(Receive().stored.size(), 1u);
    EXPECT_EQ(session_.ReceptionMode(), Reception::Announced);
}

// ---- A modem that restarts by itself ----

TEST_F(ModemSimTest, AModemThatSaysItRestartedIsOpenedAfreshAndAnnouncesAgain) {
    ASSERT_TRUE(Init());
    ASSERT_TRUE(session_.Announces());
    modems_.Control("restart 1");
    StopSignal wake;
    session_.Listen(wake, Clock::now() + std::chrono::minutes(1));
    EXPECT_TRUE(session_.Heard()) << "the start-up texts ended the listening";
    EXPECT_EQ(session_.Settle(), Session::Conduct::Restarted);
    EXPECT_FALSE(session_.PortOpen());
    // The burst's tail comes while the port is opened afresh, as SIMCom's "SMS Ready"
    // does seconds after its "RDY": it is part of the start this opening covers.
    modems_.Control("fault 1 unsolicited-before AT+CPIN? SMS Ready");
    ASSERT_TRUE(Init());
    modems_.Control("fault 1 unsolicited-before off");
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMI=2"), 2u) << "announcements asked for again";
    modems_.Control("inject 1 +79161234567 after the restart");
    session_.Listen(wake, Clock::now() + std::chrono::minutes(1));
    EXPECT_TRUE(session_.Announced());
    EXPECT_EQ(Receive().stored.size(), 1u);
}

TEST_F(ModemSimTest, AModemThatRestartedQuietlyIsKnownByItsEchoAtTheNextCommand) {
    ASSERT_TRUE(Init());
    modems_.Control("restart 1 quiet");
    Receive();
    EXPECT_EQ(session_.Settle(), Session::Conduct::Restarted);
    ASSERT_TRUE(Init());
    EXPECT_TRUE(session_.Announces());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMI=2"), 2u);
}

// Reports some modems print every few seconds are no restart, and neither is an
// echo that never went off.
TEST_F(ModemSimTest, PeriodicReportsAndAStuckEchoAreNoRestart) {
    modems_.Control("fault 1 echo-stuck on");
    ASSERT_TRUE(Init());
    for (const char* line : {"^BOOT:20952507,0,0,0,72", "^RSSI:17", "^MODE:5,4", "+CREG: 1"})
        modems_.Control(std::string("unsolicited 1 ") + line);
    Receive();
    EXPECT_FALSE(session_.Heard());
    EXPECT_NE(session_.Settle(), Session::Conduct::Restarted);
    EXPECT_TRUE(session_.PortOpen());
}

TEST(StartupTextTest, TheVendorsStartUpTextsAreKnownAndTheirPeriodicReportsAreNot) {
    for (const char* line : {"RDY", "+CFUN: 1", "SMS Ready", "Call Ready", "PB DONE",
                             "+QIND: SMS DONE", "+QIND: PB DONE", "^SYSSTART", "^SIMST: 1"})
        EXPECT_TRUE(IsStartupText(line)) << line;
    for (const char* line : {"^BOOT:20952507,0,0,0,72", "^RSSI:17", "+CREG: 1", "+CPIN: READY",
                             "+CFUN: 0", "RING", "OK", "READY"})
        EXPECT_FALSE(IsStartupText(line)) << line;
}

// An announcement still on its way when a poll begins is read among the listing's
// lines: the message it names was announced, and the trust stays.
TEST_F(ModemSimTest, AnAnnouncementReadDuringThePollKeepsTheTrust) {
    ASSERT_TRUE(Init());
    Receive();
    modems_.Control("fault 1 mute on");
    modems_.Control("inject 1 +79161234567 announced late");
    modems_.Control("fault 1 unsolicited-before AT+CMGL +CMTI: \"SM\",1");
    ASSERT_EQ(Receive().stored.size(), 1u);
    EXPECT_EQ(session_.ReceptionMode(), Reception::Announced);
}

// A modem that announces with every listing cannot keep the cycle going for ever.
TEST_F(ModemSimTest, AModemThatAnnouncesWithEveryListingEndsTheCycleAtItsBound) {
    modems_.Control("fault 1 unsolicited-before AT+CMGL +CMTI: \"SM\",1");
    ASSERT_TRUE(Init());
    const ReceptionReport report = Receive();
    EXPECT_TRUE(report.listed);
    const std::size_t listings = Count(modems_.Written(1), "AT+CMGL=4");
    EXPECT_GE(listings, 8u);
    EXPECT_LE(listings, 16u) << "eight rounds over at most two memories";
}

TEST_F(ModemSimTest, ALongMessageIsStoredInPartsWithTheirFactsAndReadsAsOne) {
    modems_.Control("inject 1 +79161234567 " + LongRussianUtf8());
    ASSERT_EQ(modems_.Store(1).size(), 5u);
    ASSERT_TRUE(Init());
    EXPECT_EQ(Receive().deleted, 5u);
    EXPECT_EQ(Inbox().size(), 5u) << "one record per part, as ever";
    const auto box = store::JoinedBox::Open(inbox_);
    ASSERT_TRUE(box);
    ASSERT_EQ(box->size(), 1u);
    EXPECT_EQ(codepage::ToUtf8(box->at(0).text), LongRussianUtf8());
    EXPECT_EQ(box->at(0).number, "+79161234567");
}

TEST_F(ModemSimTest, PartsThatArriveOutOfOrderAndInTwoCyclesJoinInPartOrder) {
    const auto pdus = modemsim::DeliversForText(LongRussianUtf8(), "+79161234567", "+79000000000",
                                                modemsim::NowLocal(), 0x77);
    ASSERT_EQ(pdus.size(), 5u);
    for (const std::size_t part : {4u, 0u, 2u}) modems_.Control("inject-pdu 1 " + pdus[part]);
    ASSERT_TRUE(Init());
    Receive();
    auto box = store::JoinedBox::Open(inbox_);
    ASSERT_EQ(box->size(), 1u);
    EXPECT_EQ(box->at(0).missing, 2u);
    EXPECT_NE(box->at(0).text.find(store::MissingPartMark(2, 5)), std::string::npos);
    for (const std::size_t part : {3u, 1u}) modems_.Control("inject-pdu 1 " + pdus[part]);
    Receive();
    box = store::JoinedBox::Open(inbox_);
    ASSERT_EQ(box->size(), 1u);
    EXPECT_EQ(codepage::ToUtf8(box->at(0).text), LongRussianUtf8());
}

TEST_F(ModemSimTest, APartsFileThatRefusesWritesDeletesNothing) {
    modems_.Control("inject 1 +79161234567 " + LongRussianUtf8());
    std::filesystem::create_directory(store::PartsPathFor(inbox_));
    ASSERT_TRUE(Init());
    const auto report = Receive();
    EXPECT_FALSE(report.saved);
    EXPECT_EQ(report.deleted, 0u);
    EXPECT_EQ(modems_.Store(1).size(), 5u)
        << "the parts wait on the modem for a disk that takes them";
}

TEST_F(ModemSimTest, AnEmptyStoreCreatesAnEmptyInbox) {
    ASSERT_TRUE(Init());
    const auto report = Receive();
    EXPECT_TRUE(report.listed);
    EXPECT_TRUE(report.stored.empty());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD"), 0u);
    auto size = files::Size(inbox_);
    ASSERT_TRUE(size.ok());
    EXPECT_EQ(*size, 0u);
}

TEST_F(ModemSimTest, IndexesOfSeveralDigitsAreDeletedWhole) {
    for (int i = 1; i <= 12; ++i) modems_.Control("inject 1 +79161234567 m" + std::to_string(i));
    ASSERT_TRUE(Init());
    const auto report = Receive();
    EXPECT_EQ(report.stored.size(), 12u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD=12\r"), 1u);
    EXPECT_TRUE(modems_.Store(1).empty());
    EXPECT_EQ(Inbox()[11].text_text(), "m12");
}

TEST_F(ModemSimTest, KeepsEarlierInboxRecordsFirstAndUnchanged) {
    std::vector<packet> old;
    for (int i = 0; i < 5; ++i) old.push_back(MakePacket("+7000", "01.01.2026 1:00:00", "old"));
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(inbox_), inbox_, old));
    modems_.Control("inject 1 +79161234567 new1");
    modems_.Control("inject 1 +79161234567 new2");
    ASSERT_TRUE(Init());
    Receive();
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 7u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(EncodePacket(inbox[i]), EncodePacket(old[i]));
    EXPECT_EQ(inbox[6].text_text(), "new2");
}

TEST_F(ModemSimTest, NoiseAndUnsolicitedLinesInsideTheListingCostNoMessage) {
    for (int i = 1; i <= 6; ++i) modems_.Control("inject 1 +79161234567 n" + std::to_string(i));
    modems_.Control("fault 1 random-unsolicited 1");
    modems_.Control("fault 1 random-noise 0.5");
    ASSERT_TRUE(Init());
    for (int cycle = 0; cycle < 5 && !modems_.Store(1).empty(); ++cycle) Receive();
    const auto inbox = Inbox();
    std::set<std::string> texts;
    for (const auto& record : inbox) texts.insert(std::string(record.text_text()));
    EXPECT_EQ(texts, (std::set<std::string>{"n1", "n2", "n3", "n4", "n5", "n6"}));
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(ModemSimTest, AListingAnsweredWithAnErrorStoresAndDeletesNothing) {
    modems_.Control("inject 1 +79161234567 kept");
    ASSERT_TRUE(Init());
    modems_.Control("fault 1 error AT+CMGL");
    const auto report = Receive();
    ExpectNothingStoredOrDeleted(report);
}

TEST_F(ModemSimTest, TheStopFlagDuringTheListingStoresAndDeletesNothing) {
    modems_.Control("inject 1 +79161234567 kept");
    ASSERT_TRUE(Init());
    modems_.Control("fault 1 delay 1000");  // every answer, the listing's too, comes 1 s late
    std::thread stopper([&] {
        testing::Eventually([&] { return Count(modems_.Written(1), "AT+CMGL=4\r") == 1; });
        stop_.Set();
    });
    const auto report = Receive();
    stopper.join();
    ExpectNothingStoredOrDeleted(report);
}

TEST_F(ModemSimTest, AFailedSaveDeletesNothing) {
    modems_.Control("inject 1 +79161234567 kept");
    std::filesystem::create_directory(inbox_);  // a store file that cannot be written
    ASSERT_TRUE(Init());
    const auto report = Receive();
    EXPECT_TRUE(report.listed);
    EXPECT_FALSE(report.saved);
    EXPECT_EQ(report.unsaved, 1u);
    EXPECT_TRUE(report.stored.empty());
    EXPECT_EQ(modems_.Store(1).size(), 1u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD"), 0u);
}

// A text with an emoji and a binary message: the records hold "?" and a
// description; the content file beside them keeps the text whole and the payload.
TEST_F(ModemSimTest, WhatARecordCannotHoldIsKeptBesideIt) {
    modems_.Control("inject 1 +79161234567 Hi \xF0\x9F\x98\x80");
    modems_.Control("inject-pdu 1 07919700000000F0040B919761214365F70004521012214300210401020304");
    ASSERT_TRUE(Init());
    const ReceptionReport report = Receive();
    ASSERT_EQ(report.stored.size(), 2u);
    EXPECT_EQ(report.stored[0].record.text_text(), "Hi ?");
    ASSERT_TRUE(report.stored[0].content);
    EXPECT_EQ(report.stored[0].content->text, u"Hi \U0001F600");
    ASSERT_TRUE(report.stored[1].content);
    EXPECT_EQ(report.stored[1].content->data, "\x01\x02\x03\x04");
    const auto box = store::JoinedBox::Open(inbox_);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->at(0).WholeText(), u"Hi \U0001F600");
    EXPECT_EQ(box->at(1).text, codepage::FromUtf8("[двоичное сообщение, 4 байта]"));
    EXPECT_EQ(box->at(1).data, "\x01\x02\x03\x04");
    EXPECT_TRUE(modems_.Store(1).empty());
}

// The content entry goes before the record: a content file the disk refuses keeps
// the message on the modem, never stores it without what its record cannot hold.
TEST_F(ModemSimTest, AContentFileThatCannotBeWrittenKeepsTheMessageOnTheModem) {
    modems_.Control("inject 1 +79161234567 \xCE\xA9mega");
    const std::string content = store::ContentPathFor(inbox_);
    std::filesystem::create_directory(content);
    ASSERT_TRUE(Init());
    const ReceptionReport refused = Receive();
    EXPECT_FALSE(refused.saved);
    EXPECT_TRUE(refused.stored.empty());
    EXPECT_EQ(modems_.Store(1).size(), 1u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD"), 0u);
    std::filesystem::remove(content);
    const ReceptionReport kept = Receive();
    ASSERT_EQ(kept.stored.size(), 1u);
    EXPECT_EQ(store::JoinedBox::Open(inbox_)->at(0).WholeText(), u"\u03A9mega");
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(ModemSimTest, AMessageWhoseDeleteIsRefusedIsStoredOnceAndDeletedLater) {
    modems_.Control("inject 1 +79161234567 stubborn");
    modems_.Control("fault 1 error AT+CMGD");
    ASSERT_TRUE(Init());
    EXPECT_EQ(Receive().stored.size(), 1u);
    EXPECT_EQ(Receive().stored.size(), 0u) << "already in inbox.db";
    modems_.Control("fault 1 error off");
    EXPECT_EQ(Receive().deleted, 1u);
    EXPECT_TRUE(modems_.Store(1).empty());
    EXPECT_EQ(Inbox().size(), 1u);
}

TEST_F(ModemSimTest, AMessageListedAgainIsKnownByWhatTheNetworkGaveItNotByWhereItLies) {
    // One SMS-DELIVER from +71234567890, "Hi", and the same message as another
    // service centre and another first octet (TP-MMS) would hand it over.
    const std::string pdu = "07910700000000F0040B911732547698F000006221600225142102C834";
    const std::string again = "07910799999999F0000B911732547698F000006221600225142102C834";
    modems_.Control("inject-pdu 1 " + pdu);
    ASSERT_TRUE(Init());
    ASSERT_EQ(Receive().stored.size(), 1u);
    // Deleted by the user, then listed late from another memory slot.
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(inbox_, {0}));
    modems_.Control("inject-pdu 1 " + again);
    const ReceptionReport late = Receive();
    EXPECT_TRUE(late.stored.empty()) << "a message the user deleted does not come back";
    EXPECT_EQ(late.deleted, 1u);
    EXPECT_TRUE(modems_.Store(1).empty());
    EXPECT_TRUE(Inbox().empty());
    // Another text from the same sender in the same second is another message.
    modems_.Control("inject-pdu 1 07910700000000F0040B911732547698F000006221600225142102C839");
    EXPECT_EQ(Receive().stored.size(), 1u);
}

TEST_F(ModemSimTest, ATimeStampThatIsNoDateIsStoredWithAnEmptyDate) {
    // An SMS-DELIVER from +79161234567 dated month 13, text "Hi".
    modems_.Control(
        "inject-pdu 1 07919700000000F0040B919761214365F70000621340022514210"
        "2C834");
    modems_.Control("inject 1 +79161234567 after");
    ASSERT_TRUE(Init());
    Receive();
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].text_text(), "Hi");
    EXPECT_EQ(inbox[0].datetime_text(), "");
    EXPECT_EQ(inbox[1].text_text(), "after");
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(ModemSimTest, AMessageSentBetweenModemsIsReceivedOnTheOther) {
    ASSERT_TRUE(Init());
    ASSERT_EQ(Send(kSecond, "across"), SendResult::Sent);
    session_.Bind(modems_.ComNumber(2));
    ASSERT_TRUE(Init());
    Receive();
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0].number_text(), kFirst);
    EXPECT_EQ(inbox[0].text_text(), std::string(kSignature) + "across");
}

// ---- Real modems: a SIM that wants its PIN or is busy, other memories, direct
// deliveries, status reports, a modem that hangs ----

class RealModemTest : public ModemSimTest {
  protected:
    RealModemTest() { session_.SetListingIdleLimit(std::chrono::seconds(2)); }
    bool Open() { return session_.Open(); }
    ReceptionReport ReceiveEverywhere() { return session_.Receive(sink_); }
    ReceptionReport StoreDirect() { return session_.KeepDelivered(sink_); }
    std::vector<store::StatusReport> Reports() {
        return *store::LoadReports(store::ReportsPathBeside(inbox_));
    }
    // Waits until the modem has written `text` to the line `times` times.
    void AwaitSent(std::size_t position, const std::string& text, std::size_t times = 1) {
        ASSERT_TRUE(testing::Eventually([&] {
            std::string answers;
            for (const auto& entry : modems_.modem(position).Transcript())
                if (entry.direction == modemsim::Direction::FromModem) answers += entry.bytes;
            return Count(answers, text) >= times;
        }));
    }

    // inbox.db reads as the one message of LongRussianUtf8(), its parts joined by
    // the facts in the parts file.
    void ExpectOneLongRussianMessage() {
        const auto box = store::JoinedBox::Open(inbox_);
        ASSERT_TRUE(box);
        ASSERT_EQ(box->size(), 1u);
        EXPECT_EQ(codepage::ToUtf8(box->at(0).text), LongRussianUtf8());
    }
};

TEST_F(RealModemTest, ASimStillBusyAfterPowerUpIsWaitedFor) {
    modems_.Control("fault 1 sim-busy 1500 515");
    modems_.Control("inject 1 +79161234567 waited");
    EXPECT_TRUE(Open());
    EXPECT_GE(Count(modems_.Written(1), "AT+CPIN?"), 2u) << "asked again after the busy answer";
    EXPECT_EQ(ReceiveEverywhere().stored.size(), 1u);
}

TEST_F(RealModemTest, ABusyListingIsTriedAgainAndNotCountedAsFailed) {
    modems_.Control("inject 1 +79161234567 later");
    ASSERT_TRUE(Open());
    modems_.Control("fault 1 sim-busy 1200 314");
    const auto report = ReceiveEverywhere();
    EXPECT_TRUE(report.listed);
    EXPECT_EQ(report.stored.size(), 1u);
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(RealModemTest, TransientSendRefusalsAreTriedAgainAndTheMessageGoesOnce) {
    modems_.Control("fault 1 send-refusals 2 314");
    ASSERT_TRUE(Open());
    EXPECT_EQ(Send(kSecond, "once"), SendResult::Sent);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS="), 3u);
    EXPECT_EQ(modems_.Store(2).size(), 1u);
}

TEST_F(RealModemTest, AFinalSendRefusalIsNotTriedAgain) {
    modems_.Control("fault 1 send-refusals 1 500");
    ASSERT_TRUE(Open());
    EXPECT_EQ(Send(kSecond, "refused"), SendResult::Failed);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS="), 1u);
}

TEST_F(RealModemTest, TheStopFlagEndsABusyWaitAtOnce) {
    ASSERT_TRUE(Open());
    modems_.Control("fault 1 sim-busy 600000");
    std::thread stopper([&] {
        testing::Eventually([&] { return Count(modems_.Written(1), "AT+CPMS=\"SM\"") >= 2; });
        stop_.Set();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReceiveEverywhere().listed);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(RealModemTest, EveryPromptFormIsAccepted) {
    for (const char* form : {"bare", "crlf", "crlf-blank"}) {
        modems_.Control(std::string("fault 1 prompt ") + form);
        ASSERT_TRUE(Open());
        EXPECT_EQ(Send(kSecond, form), SendResult::Sent) << form;
    }
    EXPECT_EQ(modems_.Store(2).size(), 3u);
}

TEST_F(RealModemTest, MessagesInTheModemsOwnMemoryAreReceivedAndLeaveIt) {
    modems_.Control("fault 1 new-memory ME");
    modems_.Control("inject 1 +79161234567 in the modem");
    modems_.Control("inject 1 +79161234567 and another");
    ASSERT_TRUE(Open());
    EXPECT_EQ(ReceiveEverywhere().stored.size(), 2u);
    ASSERT_TRUE(Open());
    ReceiveEverywhere();
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPMS=?"), 1u) << "asked once per opening";
    // Listed in every round: twice in the first cycle (its second round finds the
    // memory empty), once in the second.
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPMS=\"ME\""), 3u);
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].text_text(), "in the modem");
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(RealModemTest, ALongMessageInTheModemsOwnMemoryKeepsItsPartsFactsAndReadsAsOne) {
    modems_.Control("fault 1 new-memory ME");
    modems_.Control("inject 1 +79161234567 " + LongRussianUtf8());
    ASSERT_TRUE(Open());
    EXPECT_EQ(ReceiveEverywhere().stored.size(), 5u);
    ExpectOneLongRussianMessage();
}

TEST_F(RealModemTest, AModemThatOffersOnlyMtIsListedThere) {
    modems_.Control("inject 1 +79161234567 on the SIM");
    modems_.Control("fault 1 new-memory MT");
    modems_.Control("inject 1 +79161234567 in MT");
    ASSERT_TRUE(Open());
    EXPECT_EQ(ReceiveEverywhere().stored.size(), 2u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPMS=\"MT\""), 2u) << "a second round finds it empty";
    EXPECT_TRUE(modems_.Store(1).empty());
    EXPECT_EQ(Inbox().size(), 2u) << "each once";
}

TEST_F(RealModemTest, ADirectDeliveryIsStoredThenAcknowledged) {
    modems_.Control("fault 1 direct ack");
    ASSERT_TRUE(Open());
    modems_.Control("inject 1 +79161234567 straight over");
    AwaitSent(1, "+CMT:");
    ASSERT_TRUE(Open());  // reads the line, as the worker's next pass does
    const auto report = StoreDirect();
    ASSERT_EQ(report.stored.size(), 1u);
    EXPECT_EQ(Inbox().at(0).text_text(), "straight over");
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMA"), 1u);
    EXPECT_TRUE(testing::Eventually([&] { return modems_.modem(1).unacknowledged() == 0; }));
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(RealModemTest, ALongMessageDeliveredDirectlyKeepsItsPartsFactsAndReadsAsOne) {
    modems_.Control("fault 1 direct ack");
    ASSERT_TRUE(Open());
    modems_.Control("inject 1 +79161234567 " + LongRussianUtf8());
    AwaitSent(1, "+CMT:", 5);
    ASSERT_TRUE(Open());
    ASSERT_EQ(StoreDirect().stored.size(), 5u);
    ExpectOneLongRussianMessage();
}

TEST_F(RealModemTest, ADirectDeliveryInsideAnotherAnswerIsKeptAndARefusedAcknowledgementIgnored) {
    modems_.Control("fault 1 direct on");
    modems_.Control("fault 1 confirm-delay 500");
    ASSERT_TRUE(Open());
    std::thread injector([&] {
        testing::Eventually([&] { return Count(modems_.Written(1), "\x1A") == 1; });
        modems_.Control("inject 1 +79161234567 during the send");
    });
    EXPECT_EQ(Send(kSecond, "out"), SendResult::Sent);
    injector.join();
    AwaitSent(1, "+CMT:");
    ASSERT_TRUE(Open());
    EXPECT_EQ(StoreDirect().stored.size(), 1u) << "the modem's +CMS ERROR: 340 to AT+CNMA ignored";
    EXPECT_TRUE(Open()) << "the refused acknowledgement left nothing behind";
    EXPECT_EQ(Inbox().size(), 1u);
}

TEST_F(RealModemTest, ADeliveryHeaderWithoutAPduLineIsDropped) {
    ASSERT_TRUE(Open());
    modems_.Control("unsolicited 1 +CMT: ,25");
    modems_.Control("unsolicited 1 NOT-A-PDU");
    AwaitSent(1, "NOT-A-PDU");
    EXPECT_TRUE(Open());
    EXPECT_FALSE(session_.Heard()) << "no delivery waits to be kept";
    EXPECT_TRUE(StoreDirect().stored.empty());
    EXPECT_FALSE(files::Exists(inbox_));
}

TEST_F(RealModemTest, StatusReportsInTheListingAreKeptAsReportsNotMessages) {
    modems_.Control("fault 1 reports sm");
    modems_.Control("inject 1 +79161234567 a real message");
    ASSERT_TRUE(Open());
    ASSERT_EQ(Send(kSecond, "report me", DeliveryReports::Requested), SendResult::Sent);
    ASSERT_EQ(modems_.Store(1).size(), 2u) << "the report waits in SM beside the message";
    const auto report = ReceiveEverywhere();
    EXPECT_EQ(report.stored.size(), 1u);
    ASSERT_EQ(report.reports.size(), 1u);
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0].text_text(), "a real message");
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].reference, 0);
    EXPECT_EQ(reports[0].recipient, kSecond);
    EXPECT_EQ(reports[0].status, 0);
    EXPECT_FALSE(reports[0].centre_time.empty());
    EXPECT_FALSE(reports[0].discharged.empty());
    EXPECT_TRUE(modems_.Store(1).empty()) << "deleted once kept";
}

TEST_F(RealModemTest, HandedOverAndAnnouncedStatusReportsAreKeptToo) {
    modems_.Control("fault 1 reports cds");
    ASSERT_TRUE(Open());
    ASSERT_EQ(Send(kSecond, "first", DeliveryReports::Requested), SendResult::Sent);
    AwaitSent(1, "+CDS:");
    ASSERT_TRUE(Open());
    EXPECT_EQ(StoreDirect().reports.size(), 1u);
    modems_.Control("fault 1 reports cdsi");
    ASSERT_EQ(Send(kSecond, "second", DeliveryReports::Requested), SendResult::Sent);
    ASSERT_TRUE(Open());
    EXPECT_EQ(ReceiveEverywhere().reports.size(), 1u);
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].reference, 1);
    EXPECT_FALSE(files::Exists(inbox_) && !Inbox().empty());
    EXPECT_TRUE(modems_.Store(1).empty());
}

// A modem that keeps status reports in a memory of their own says where in its
// announcement; the reception lists that memory too, and empties it.
TEST_F(RealModemTest, StatusReportsKeptInTheirOwnMemoryAreListedThereOnceAnnounced) {
    modems_.Control("fault 1 reports sr");
    ASSERT_TRUE(Open());
    ASSERT_EQ(Send(kSecond, "report me", DeliveryReports::Requested), SendResult::Sent);
    AwaitSent(1, "+CDSI: \"SR\"");
    StopSignal wake;
    session_.Listen(wake, Clock::now() + std::chrono::minutes(1));
    ASSERT_TRUE(session_.Announced());
    EXPECT_EQ(ReceiveEverywhere().reports.size(), 1u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPMS=\"SR\""), 2u) << "and a round that finds it empty";
    EXPECT_EQ(Reports().size(), 1u);
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(RealModemTest, AModemThatHangsInAListingIsReopenedAndLosesNothing) {
    for (int i = 1; i <= 4; ++i) modems_.Control("inject 1 +79161234567 h" + std::to_string(i));
    ASSERT_TRUE(Open());
    modems_.Control("fault 1 hang AT+CMGL");
    const auto cut = ReceiveEverywhere();
    EXPECT_FALSE(cut.listed);
    EXPECT_EQ(session_.Settle(), Session::Conduct::Silent) << "and the port closed";
    EXPECT_EQ(modems_.Store(1).size(), 4u) << "a listing cut short deletes nothing";
    ASSERT_TRUE(Open());
    EXPECT_EQ(ReceiveEverywhere().stored.size(), 4u);
    EXPECT_TRUE(modems_.Store(1).empty());
    EXPECT_EQ(Inbox().size(), 4u);
}

TEST_F(RealModemTest, ASimPinIsSentOnceAndTheSimIsThenReady) {
    modems_.Control("fault 1 pin 1234");
    EXPECT_FALSE(Open());
    EXPECT_EQ(session_.Status().state, ModemState::PinNeeded);
    EXPECT_EQ(session_.Status().tries_left, 3);
    session_.GivePin("1234");
    EXPECT_TRUE(Open());
    EXPECT_EQ(session_.Status().state, ModemState::Ready);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPIN=\"1234\""), 1u);
    EXPECT_EQ(Send(kSecond, "unlocked"), SendResult::Sent);
}

TEST_F(RealModemTest, ARefusedPinIsNeverSentAgainByItself) {
    modems_.Control("fault 1 pin 1234");
    session_.GivePin("0000");
    EXPECT_FALSE(Open());
    EXPECT_EQ(session_.Status().state, ModemState::PinRefused);
    EXPECT_EQ(session_.Status().tries_left, 2);
    EXPECT_FALSE(Open());
    EXPECT_FALSE(Open());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPIN=\""), 1u);
    EXPECT_EQ(session_.Status().state, ModemState::PinRefused) << "still said until a new PIN";
}

TEST_F(RealModemTest, ASimThatCannotServeIsSaidAndNothingIsSent) {
    const std::pair<const char*, ModemState> cases[] = {
        {"fault 1 sim missing", ModemState::NoSim},
        {"fault 1 sim failure", ModemState::SimFailure},
        {"fault 1 sim ph-sim", ModemState::PhoneLocked},
    };
    for (const auto& [fault, state] : cases) {
        modems_.Control(fault);
        EXPECT_FALSE(Open()) << fault;
        EXPECT_EQ(session_.Status().state, state) << fault;
    }
    modems_.Control("fault 1 sim present");
    modems_.Control("fault 1 pin 1234");
    for (int i = 0; i < 3; ++i) {
        session_.GivePin("9999");  // the user typed it again, three times
        IgnoreFailure(Open());     // refused each time; the state after says so
    }
    EXPECT_FALSE(Open());
    EXPECT_EQ(session_.Status().state, ModemState::PukNeeded);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS"), 0u);
}

TEST_F(RealModemTest, WhatTheModemIsIsReadAtEachOpening) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(session_.Info().manufacturer, "Velka");
    EXPECT_EQ(session_.Info().model, "Virtual GSM Modem");
    EXPECT_EQ(session_.Info().operator_name, "Velka Net");
    EXPECT_EQ(session_.Info().signal, 20);
    ASSERT_TRUE(Open());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CGMI"), 1u) << "not again while the port stays open";
    EXPECT_EQ(Count(modems_.Written(1), "AT+CSQ"), 1u) << "not again within 30 s";
    modems_.Control("fault 1 error AT+COPS");
    session_.Close();
    ASSERT_TRUE(Open()) << "a refused answer is no failure";
    EXPECT_EQ(session_.Info().operator_name, "");
    EXPECT_EQ(session_.Info().manufacturer, "Velka");
}

}  // namespace
}  // namespace velka::modem
