// The modem dialogue against virtual modems: initialisation, sending and the
// reception cycle, with the simulator's faults.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "modem/dialogue.h"
#include "modem/receive.h"
#include "modem/send.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "sms/smsbase.h"
#include "store/store_file.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/temp_dir.h"

namespace velka::modem {
namespace {

using testing::Count;
using testing::SimModems;

constexpr const char* kFirst = "+79990000001";
constexpr const char* kSecond = "+79990000002";

class ModemSimTest : public ::testing::Test {
  protected:
    ModemSimTest() : modems_(2) {
        ConfigurePort(port_);
        port_.SetStopFlag(&stop_);
        port_.SetComNumber(modems_.ComNumber(1));
    }
    ~ModemSimTest() override { port_.SetOpen(false); }

    bool Init() { return InitModem(port_, stop_); }
    SendResult Send(const std::string& number, const std::string& text) {
        return SendText(port_, MakePacket(number, "07.12.2026 10:00:00", text), stop_,
                        Registry::Machine());
    }
    ReceptionReport Receive() {
        return ReceiveMessages(port_, kSimStorage, inbox_, lock_, stop_, &undeleted_);
    }
    std::vector<packet> Inbox() { return *store::Load(inbox_); }
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
    TComPort port_;
    std::atomic<bool> stop_{false};
    velka::testing::TempDir dir_;
    std::string inbox_ = dir_.File("inbox.db");
    std::mutex lock_;
    StoredNotDeleted undeleted_;
};

// ---- Initialisation ----

TEST_F(ModemSimTest, InitialisesAModemWithEchoOnAndTurnsTheEchoOff) {
    ASSERT_TRUE(Init());
    // The design's commands in their order, then the SIM's state and, at an
    // opening, what the modem is.
    EXPECT_EQ(modems_.Written(1),
              "AT\rAT\rATE0\rAT+CMEE=1\rAT+CMGF=0\rAT+CPIN?\rAT+CGMI\rAT+CGMM\rAT+COPS?\rAT+CSQ\r");
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

TEST_F(ModemSimTest, AModemThatRefusesPduModeIsNotReady) {
    modems_.Control("fault 1 error AT+CMGF");
    EXPECT_FALSE(Init());
}

TEST_F(ModemSimTest, ASilentModemIsNotReadyAfterTheTwoAttentionCommands) {
    modems_.Control("fault 1 silent on");
    EXPECT_FALSE(Init());
    EXPECT_EQ(modems_.Written(1), "AT\rAT\r");
    EXPECT_FALSE(port_.Open()) << "the port is closed so that the next try opens it afresh";
}

TEST_F(ModemSimTest, PortNumberZeroOpensAndWritesNothing) {
    TComPort unset;
    ConfigurePort(unset);
    EXPECT_FALSE(InitModem(unset, stop_));
    EXPECT_FALSE(unset.Open());
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
        stop_ = true;
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
    ASSERT_TRUE(store::Save(inbox_, old));
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
    EXPECT_FALSE(report.listed);
    EXPECT_FALSE(files::Exists(inbox_));
    EXPECT_EQ(modems_.Store(1).size(), 1u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD"), 0u);
}

TEST_F(ModemSimTest, TheStopFlagDuringTheListingStoresAndDeletesNothing) {
    modems_.Control("inject 1 +79161234567 kept");
    ASSERT_TRUE(Init());
    modems_.Control("fault 1 delay 1000");  // every answer, the listing's too, comes 1 s late
    std::thread stopper([&] {
        testing::Eventually([&] { return Count(modems_.Written(1), "AT+CMGL=4\r") == 1; });
        stop_ = true;
    });
    const auto report = Receive();
    stopper.join();
    EXPECT_FALSE(report.listed);
    EXPECT_FALSE(files::Exists(inbox_));
    EXPECT_EQ(modems_.Store(1).size(), 1u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGD"), 0u);
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
    port_.SetComNumber(modems_.ComNumber(2));
    ASSERT_TRUE(Init());
    Receive();
    const auto inbox = Inbox();
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0].number_text(), kFirst);
    EXPECT_EQ(inbox[0].text_text(), std::string(kSignature) + "across");
}

}  // namespace
}  // namespace velka::modem
