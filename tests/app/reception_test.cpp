// Reception woken by the modem: a worker whose modem announces arrivals sleeps on
// the port and runs the reception cycle when "+CMTI:" or "+CDSI:" comes, polling
// only as a safety net; a modem that announces nothing is polled as before.
#include <gtest/gtest.h>

#include <set>

#include "app/app_core.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"

namespace velka::app {
namespace {

using testing::Count;
using testing::Eventually;

// Longer than any test: an arrival stored before it passes was announced.
constexpr auto kNoSafetyPoll = std::chrono::hours(1);

class ReceptionTest : public testing::CoreOnModemsTest {
  protected:
    ReceptionTest() : CoreOnModemsTest(2) {}

    void Start(Clock::duration safety_poll) {
        ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), true));
        core_.SetSafetyPoll(safety_poll);
        ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    }
    // Until the first reception cycle has listed the SIM.
    void AwaitFirstCycle() {
        ASSERT_TRUE(Eventually([&] { return Count(Written(), "AT+CMGL") >= 1; }));
    }
    std::string Written() { return modems_.Written(1); }
    void Inject(const std::string& text) { modems_.Control("inject 1 +79161234567 " + text); }
    bool AwaitReceived(std::size_t count) {
        return outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() >= count; });
    }
    std::uint64_t Queue(const std::string& text) {
        return testing::QueueOne(core_, "+79990000002", text);
    }
};

TEST_F(ReceptionTest, AnAnnouncedArrivalIsStoredWithoutAPollOrAnInitialisation) {
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    Inject("announced");
    ASSERT_TRUE(AwaitReceived(1));
    const std::string written = Written();
    EXPECT_EQ(Count(written, "AT+CPIN?"), 1u) << "initialised once, at the opening";
    EXPECT_LE(Count(written, "AT+CMGL"), 3u)
        << "the first cycle, and the announced one with its round that finds the SIM empty";
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(ReceptionTest, AModemRefusingAnnouncementsIsStillReceivedByPolling) {
    modems_.Control("fault 1 cnmi refuse");
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    Inject("polled");
    ASSERT_TRUE(AwaitReceived(1));
    EXPECT_GE(Count(Written(), "AT+CPIN?"), 2u) << "each poll after a full initialisation";
    EXPECT_EQ(Count(Written(), "AT+CNMI=2"), 0u) << "the set form is not tried";
}

// A modem that takes AT+CNMI but announces nothing on this port: the safety poll
// finds the first message, the worker then polls as for a modem without
// announcements, and says so.
TEST_F(ReceptionTest, AModemWhoseAnnouncementsNeverComeIsPolledAfterTheFirstUnannouncedArrival) {
    modems_.Control("fault 1 mute on");
    Start(std::chrono::seconds(2));
    AwaitFirstCycle();
    Inject("found by the safety poll");
    ASSERT_TRUE(AwaitReceived(1));
    std::vector<modem::Reception> modes;
    ASSERT_TRUE(outcomes_.WaitUntil([&] {
        modes = outcomes_.Receptions();
        return !modes.empty() && modes.back() == modem::Reception::Distrusted;
    }));
    EXPECT_EQ(modes.front(), modem::Reception::Announced);
    const std::size_t openings = Count(Written(), "AT+CPIN?");
    Inject("found by the poll");
    ASSERT_TRUE(AwaitReceived(2));
    EXPECT_GT(Count(Written(), "AT+CPIN?"), openings) << "polled after a full initialisation";
}

// A modem that restarts by itself while the worker listens forgets AT+CNMI: the
// worker opens it afresh at once and asks again, so the next arrival is announced
// (no safety poll runs in this test).
TEST_F(ReceptionTest, AModemThatRestartsWhileListenedToIsOpenedAfreshAndAnnouncesAgain) {
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    modems_.Control("restart 1");
    ASSERT_TRUE(Eventually([&] { return Count(Written(), "AT+CNMI=2") >= 2; }));
    Inject("after the restart");
    ASSERT_TRUE(AwaitReceived(1));
    EXPECT_TRUE(modems_.Store(1).empty());
}

// Reception switched off while the worker sleeps on the modem: an arrival announced
// afterwards stays on the SIM (the send queued after it shows the worker has been
// past the announcement); switched on again, it is fetched at once.
TEST_F(ReceptionTest, TheReceptionSwitchActsAtOnceOnAWorkerAsleepOnTheModem) {
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    const std::size_t listings = Count(Written(), "AT+CMGL");
    core_.SetReceptionEnabled(false);
    Inject("while switched off");
    ASSERT_TRUE(Eventually([&] {
        for (const auto& entry : modems_.modem(1).Transcript())
            if (entry.direction == modemsim::Direction::FromModem &&
                Count(entry.bytes, "+CMTI") > 0)
                return true;
        return false;
    }));
    const std::uint64_t id = Queue("after the announcement");
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.Count(id, SendOutcome::Sent) == 1; }));
    EXPECT_EQ(Count(Written(), "AT+CMGL"), listings) << "nothing listed while switched off";
    EXPECT_EQ(modems_.Store(1).size(), 1u);
    core_.SetReceptionEnabled(true);
    ASSERT_TRUE(AwaitReceived(1));
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(ReceptionTest, AnAnnouncementInsideASendsAnswerStartsACycleAfterTheSend) {
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    modems_.Control("fault 1 announce-inside on");
    Inject("inside an answer");  // held by the modem until the client's next command
    const std::uint64_t id = Queue("out");
    ASSERT_TRUE(outcomes_.WaitUntil([&] {
        return outcomes_.Count(id, SendOutcome::Sent) == 1 && outcomes_.ReceivedCount() == 1;
    }));
    const std::string written = Written();
    EXPECT_LT(written.find("AT+CMGS"), written.rfind("AT+CMGL")) << "received after the send";
    EXPECT_EQ(outcomes_.Received().front().text_text(), "inside an answer");
}

TEST_F(ReceptionTest, AnnouncedStatusReportsAreKept) {
    modems_.Control("fault 1 reports cdsi");
    Start(kNoSafetyPoll);
    core_.SetDeliveryReportsEnabled(true);
    AwaitFirstCycle();
    const std::uint64_t id = Queue("report me");
    ASSERT_TRUE(outcomes_.WaitUntil([&] {
        return outcomes_.Count(id, SendOutcome::Sent) == 1 && outcomes_.ReportCount() == 1;
    }));
    EXPECT_EQ(outcomes_.ReceivedCount(), 0u) << "a status report is no message";
    EXPECT_TRUE(Eventually([&] { return modems_.Store(1).empty(); }));
}

TEST_F(ReceptionTest, ARecordQueuedWhileListeningWakesTheWorker) {
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    const std::uint64_t id = Queue("wake up");
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.Count(id, SendOutcome::Sent) == 1; }));
    const std::string written = Written();
    // Without the wake it would go out only when the listening ends for the
    // next signal reading.
    EXPECT_EQ(Count(written.substr(0, written.find("AT+CMGS")), "AT+CSQ"), 1u);
}

// velka-sms-cli send beside the window: the record reaches queue.db alone, with no
// wake signal, and the listening worker still finds it before it next reads the
// signal.
TEST_F(ReceptionTest, ARecordAnotherProcessQueuesWhileListeningGoesOutAtOnce) {
    Start(kNoSafetyPoll);
    AwaitFirstCycle();
    QueuedRecord item;
    item.id = NewRecordId();
    item.record = MakePacket("+79990000002", "08.12.2026 10:00:00", "from another process");
    ASSERT_TRUE(QueueFile(home_.File(kQueueFile)).AppendRecords({&item, 1}));
    ASSERT_TRUE(
        outcomes_.WaitUntil([&] { return outcomes_.Count(item.id, SendOutcome::Sent) == 1; }));
    const std::string written = Written();
    EXPECT_EQ(Count(written.substr(0, written.find("AT+CMGS")), "AT+CSQ"), 1u);
}

// With the safety poll shortened, several polls pass: between them the worker
// sends nothing, and each poll is the bare listing, without an initialisation.
TEST_F(ReceptionTest, AnIdleWorkerTalksOnlyForTheSafetyPollAndTheSignal) {
    Start(std::chrono::milliseconds(300));
    ASSERT_TRUE(Eventually([&] { return Count(Written(), "AT+CMGL") >= 4; }));
    core_.Shutdown();
    const std::string written = Written();
    const std::string after_first = written.substr(written.find("AT+CMGL=4\r") + 10);
    const std::set<std::string> allowed{"AT+CPMS=\"SM\"", "AT+CMGF=0", "AT+CMGL=4", "AT+CSQ"};
    std::size_t start = 0;
    for (std::size_t end; (end = after_first.find('\r', start)) != std::string::npos;
         start = end + 1) {
        const std::string command = after_first.substr(start, end - start);
        EXPECT_EQ(allowed.count(command), 1u) << command;
    }
    EXPECT_EQ(Count(written, "AT+CPIN?"), 1u);
}

}  // namespace
}  // namespace velka::app
