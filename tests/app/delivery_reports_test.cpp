// Delivery reports end to end: the worker sends through the virtual modem, keeps
// the modem's status reports in reports.db and the references in outbox.states,
// and the outbox's states come out of the two; a restart over a queue left by a
// killed process writes the references a kill kept out of outbox.states.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/app_core.h"
#include "messages/delivery_states.h"
#include "modem/status_report.h"
#include "platform/codepage.h"
#include "store/sent_file.h"
#include "store/store_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"
#include "tests/support/box_held.h"

namespace velka::app {
namespace {

using testing::Eventually;

constexpr const char* kRecipient = "+79990000002";

class DeliveryReportsTest : public testing::CoreOnModemsTest {
  protected:
    DeliveryReportsTest() : CoreOnModemsTest(2) {}

    // Starts the worker on modem 1, which keeps a status report in "SM" for every
    // send that asks for one.
    // The modem keeps its reports on the SIM without announcing them, so the worker
    // finds them at its safety poll; shortened, so that finding them does not hang
    // on whether the first reception cycle came before the send or after it.
    void Start(bool reception, bool reports) {
        modems_.Control("fault 1 reports sm");
        ASSERT_TRUE(
            testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), reception));
        core_.SetSafetyPoll(std::chrono::milliseconds(200));
        ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
        core_.SetDeliveryReportsEnabled(reports);
    }
    std::uint64_t SendAndWait(const std::string& text) {
        const std::uint64_t id = testing::QueueOne(core_, kRecipient, text);
        if (id == 0) return 0;
        EXPECT_TRUE(
            outcomes_.WaitUntil([&] { return outcomes_.Count(id, SendOutcome::Sent) > 0; }));
        return id;
    }
    std::vector<store::StatusReport> KeptReports() {
        auto reports = store::LoadReports(store::ReportsPathBeside(home_.File(kInboxFile)));
        return reports ? *reports : std::vector<store::StatusReport>{};
    }
    // The outbox's states, read as the window reads them.
    std::vector<messages::DeliveryState> States() {
        const std::string outbox = home_.File(kOutboxFile);
        auto box = store::BoxFile::Open(outbox);
        if (!box) return {};
        const auto states = messages::LoadDeliveryStates(outbox, *box);
        EXPECT_TRUE(states.ok());
        if (!states) return {};
        EXPECT_EQ(states->unbelieved, 0u);
        return states->by_record;
    }
    std::string StateText(std::size_t record) {
        const auto states = States();
        return record < states.size()
                   ? codepage::ToUtf8(messages::DeliveryStateText(states[record]))
                   : std::string();
    }
};

TEST_F(DeliveryReportsTest, ALongTextIsDeliveredOnceTheReportsOfAllThreeMessagesAreKept) {
    Start(true, true);
    SendAndWait(std::string(400, 'a'));
    ASSERT_TRUE(Eventually([&] { return KeptReports().size() == 3; }, std::chrono::seconds(60)));
    const auto reports = KeptReports();
    std::set<int> references;
    std::string latest;
    for (const auto& report : reports) {
        EXPECT_EQ(report.status, 0);
        references.insert(report.reference);
        latest = std::max(latest, report.discharged);
    }
    EXPECT_EQ(references.size(), 3u) << "each message its own reference";
    ASSERT_FALSE(latest.empty());
    EXPECT_EQ(StateText(0), "доставлено " + latest);
    EXPECT_TRUE(Eventually([&] { return modems_.Store(1).empty(); }))
        << "the reports are taken off the SIM once kept";
    EXPECT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReportCount() > 0; }))
        << "the front end was told";
}

TEST_F(DeliveryReportsTest, OneFailedMessageOfThreeMakesTheTextNotDeliveredWithTheReason) {
    modems_.Control("fault 1 report-status 69 1");  // 0x45 for the first report only
    Start(true, true);
    SendAndWait(std::string(400, 'b'));
    ASSERT_TRUE(Eventually([&] { return KeptReports().size() == 3; }, std::chrono::seconds(60)));
    std::multiset<int> statuses;
    for (const auto& report : KeptReports()) statuses.insert(report.status);
    EXPECT_EQ(statuses, (std::multiset<int>{0, 0, 0x45}));
    EXPECT_EQ(StateText(0), "не доставлено: нет связи с сетью получателя");
}

// Reception off keeps whatever reports the modem made on its SIM, where they can be
// counted.
TEST_F(DeliveryReportsTest, WithTheSettingOffNoReportIsAskedForAndTheStateStaysSent) {
    Start(false, false);
    SendAndWait("not asked");
    EXPECT_TRUE(modems_.Store(1).empty()) << "the message asked for no report";
    core_.SetDeliveryReportsEnabled(true);
    SendAndWait("asked");
    EXPECT_EQ(modems_.Store(1).size(), 1u) << "switched on, the next message asks for one";
    core_.Shutdown();
    EXPECT_EQ(StateText(0), "отправлено");
    EXPECT_EQ(StateText(1), "отправлено") << "its report was never read";
}

// A process killed after appending a record to outbox.db and before its entries
// reached outbox.states, and one killed before appending the record at all: the
// restart finds the first record in outbox.db and writes its entries alone, and
// writes the second record with its entries.
TEST_F(DeliveryReportsTest, ARestartWritesTheReferencesAKillKeptOutOfTheStatesFile) {
    const packet recorded = MakePacket("+79161110003", "08.12.2026 9:00:00", "recorded");
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(home_.File(kOutboxFile)),
                            home_.File(kOutboxFile), std::vector<packet>{recorded}));
    std::vector<QueuedRecord> left(2);
    left[0].record = recorded;
    left[0].sent = {{17, "08.12.2026 9:00:01"}};
    left[1].record = MakePacket("+79161110004", "08.12.2026 9:00:00", "accepted");
    left[1].sent = {{18, "08.12.2026 9:00:02"}};
    QueueFile file(home_.File(kQueueFile));
    for (auto& item : left) {
        item.id = NewRecordId();
        item.confirmed = item.segments = 1;
    }
    ASSERT_TRUE(file.AppendRecords(left));
    ASSERT_TRUE(file.AppendConfirmed(left[0], 0));
    ASSERT_TRUE(file.AppendConfirmed(left[1], kPacketSize));
    // The report of the first came after the restart; the Russian form of the number.
    store::StatusReport report;
    report.received = "08.12.2026 9:05:00";
    report.reference = 17;
    report.recipient = "89161110003";
    report.discharged = "08.12.2026 9:04:00";
    report.status = 0;
    ASSERT_TRUE(store::AppendReports(
                    velka::testing::BoxHeld(store::ReportsPathBeside(home_.File(kInboxFile))),
                    store::ReportsPathBeside(home_.File(kInboxFile)), {report})
                    .ok());

    Start(false, false);
    ASSERT_TRUE(Eventually([&] { return *core_.QueuedCount() == 0; }));
    core_.Shutdown();

    const auto sent = store::LoadSent(store::SentPathFor(home_.File(kOutboxFile)));
    ASSERT_TRUE(sent.ok());
    EXPECT_EQ(sent->damaged, 0u);
    ASSERT_EQ(sent->entries.size(), 2u) << "one entry for each record, none twice";
    std::vector<std::uint32_t> records;
    for (const auto& entry : sent->entries) records.push_back(entry.record);
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, (std::vector<std::uint32_t>{0, 1}));
    for (const auto& entry : sent->entries) {
        const QueuedRecord& item = left[entry.record];
        EXPECT_EQ(entry.checksum, item.record.checksum);
        EXPECT_EQ(entry.sent, item.sent.front());
        EXPECT_EQ(entry.recipient, item.record.number_text());
    }
    EXPECT_EQ(StateText(0), "доставлено 08.12.2026 9:04:00");
    EXPECT_EQ(StateText(1), "отправлено");
}

}  // namespace
}  // namespace velka::app
