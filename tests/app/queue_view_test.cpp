// The queue as the user sees it: the record being sent, the waiting and resting
// ones with the modem's refusal, the never sendable ones of unsent.db; a removal
// that lasts across a restart and never takes the record being sent; the bulk's
// progress; and the words of the status bar.
#include "app/queue_view.h"

#include <gtest/gtest.h>

#include "app/app_core.h"
#include "app/status_text.h"
#include "platform/codepage.h"
#include "store/content_file.h"
#include "store/store_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"
#include "tests/support/box_held.h"

namespace velka::app {
namespace {

using std::chrono::seconds;

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

QueuedRecord Record(std::uint64_t id, const std::string& text) {
    QueuedRecord item;
    item.id = id;
    item.record = MakePacket("+79990000002", "07.12.2026 10:00:00", text);
    return item;
}

std::vector<QueuedRecord> Records(std::initializer_list<std::uint64_t> ids) {
    std::vector<QueuedRecord> items;
    for (const auto id : ids) items.push_back(Record(id, "text " + std::to_string(id)));
    return items;
}

class QueueViewTest : public ::testing::Test {
  protected:
    std::vector<QueueRow> Rows(Clock::time_point now = Clock::now()) {
        auto snapshot = SnapshotQueue(queue_, home_.File(kUnsentFile), now);
        EXPECT_TRUE(snapshot.unsent_error.empty());
        return snapshot.rows;
    }
    std::optional<QueuedRecord> Take() {
        MutexLock guard(queue_.lock());
        return queue_.TakeDue(Clock::now());
    }

    velka::testing::TempDir home_;
    OutgoingQueue queue_;
    QueueFile file_{home_.File(kQueueFile)};
};

// A text typed with emoji shows as typed, whether it waits or can never be sent.
TEST_F(QueueViewTest, ATextBeyondTheCodePageShowsWholeWaitingOrUnsendable) {
    const std::u16string whole = u"ok \U0001F44D";
    const packet unsent = MakePacket("", "07.12.2026 9:00:00", "ok ?");
    store::ContentEntry entry;
    entry.checksum = unsent.checksum;
    entry.content.body = store::ContentBody::WholeText;
    entry.content.text = whole;
    {
        const auto held = velka::testing::BoxHeld(home_.File(kUnsentFile));
        ASSERT_TRUE(store::AppendContent(held, home_.File(kUnsentFile), {entry}));
        ASSERT_TRUE(store::Append(held, home_.File(kUnsentFile), std::vector<packet>{unsent}));
    }
    QueuedRecord waiting = Record(1, "ok ?");
    waiting.whole = whole;
    queue_.Add({waiting, Record(2, "plain")});
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].whole, whole);
    EXPECT_TRUE(rows[1].whole.empty());
    EXPECT_EQ(rows[2].state, QueueRowState::Unsendable);
    EXPECT_EQ(rows[2].whole, whole);
}

TEST_F(QueueViewTest, ListsTheSendingRecordFirstThenWaitingRestingAndUnsendable) {
    const std::vector<packet> unsent{MakePacket("", "07.12.2026 9:00:00", "no number")};
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(home_.File(kUnsentFile)),
                            home_.File(kUnsentFile), unsent));
    queue_.Add(Records({1, 2, 3}));
    auto failed = Take();
    ASSERT_TRUE(failed);
    failed->attempts = 1;
    failed->refusal = "+CMS ERROR: 500";
    failed->due = Clock::now() + seconds(8);
    {
        MutexLock guard(queue_.lock());
        queue_.PutBack(std::move(*failed));
    }
    ASSERT_TRUE(Take());  // record 2, being sent now
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].id, 2u);
    EXPECT_EQ(rows[0].state, QueueRowState::Sending);
    EXPECT_EQ(rows[1].id, 3u);
    EXPECT_EQ(rows[1].state, QueueRowState::Waiting);
    EXPECT_EQ(rows[2].id, 1u);
    EXPECT_EQ(rows[2].state, QueueRowState::Resting);
    EXPECT_EQ(QueueStateText(rows[2], Clock::now()).substr(0, 30),
              W("Модем отказал (+CMS ERROR: 500), повтор через ").substr(0, 30));
    EXPECT_EQ(rows[3].state, QueueRowState::Unsendable);
    EXPECT_EQ(rows[3].id, 0u) << "a record of unsent.db cannot be removed here";
    EXPECT_EQ(std::string(rows[3].record.text_text()), "no number");
    EXPECT_EQ(QueueStateText(rows[3], Clock::now()), W("не может быть отправлено"));
}

TEST_F(QueueViewTest, ARecordForAModemThatTakesNoneSaysWhichItWaitsFor) {
    std::vector<QueuedRecord> records = Records({1, 2});
    records[0].route = {"COM7", true};
    records[1].route = {"COM8", true};
    queue_.SetMember("SIM-8", {{"SIM-8", "COM8"}, true});
    queue_.Add(std::move(records));
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(QueueStateText(rows[0], Clock::now()),
              W("ждёт модем «COM7»: он сейчас не отправляет"));
    EXPECT_EQ(QueueStateText(rows[1], Clock::now()), W("ждёт")) << "its modem takes records";
}

TEST_F(QueueViewTest, ARestingRecordWaitsAgainOnceItsMomentHasCome) {
    auto item = Record(7, "x");
    item.attempts = 2;
    item.due = Clock::now() + seconds(4);
    queue_.Add({item});
    EXPECT_EQ(Rows()[0].state, QueueRowState::Resting);
    EXPECT_EQ(Rows(Clock::now() + seconds(5))[0].state, QueueRowState::Waiting);
}

TEST_F(QueueViewTest, TheRecordBeingSentIsNotRemovedAndAWaitingOneIsForGood) {
    queue_.Add(Records({1, 2, 3}));
    ASSERT_TRUE(Take());
    ASSERT_TRUE(file_.AppendRecords(Records({1, 2, 3})));

    EXPECT_EQ(*RemoveQueued(queue_, file_, 1), Removal::BeingSent);
    EXPECT_EQ(*RemoveQueued(queue_, file_, 2), Removal::Removed);
    EXPECT_EQ(*RemoveQueued(queue_, file_, 2), Removal::NotQueued) << "removed already";
    EXPECT_EQ(*RemoveQueued(queue_, file_, 99), Removal::NotQueued);
    ASSERT_EQ(Rows().size(), 2u);

    QueueFile next_run(home_.File(kQueueFile));
    const auto reading = next_run.Load();
    ASSERT_TRUE(reading.ok());
    ASSERT_EQ(reading->records.size(), 2u) << "the next start does not send record 2";
    EXPECT_EQ(reading->records[0].id, 1u);
    EXPECT_EQ(reading->records[1].id, 3u);
}

TEST_F(QueueViewTest, ARemovalTheDiskRefusesLeavesTheRecordQueuedAndSaysWhy) {
    queue_.Add(Records({1}));
    QueueFile nowhere(home_.File("no-such-dir/queue.db"));
    const auto removed = RemoveQueued(queue_, nowhere, 1);
    ASSERT_FALSE(removed.ok());
    EXPECT_FALSE(removed.error().message.empty());
    ASSERT_EQ(Rows().size(), 1u) << "still queued, so that it does not come back unasked";
    EXPECT_EQ(Rows()[0].id, 1u);
}

TEST_F(QueueViewTest, ABulkCountsWhatWentOutUntilTheQueueEmpties) {
    queue_.Add(Records({1, 2, 3}));
    const auto bulk = [&] {
        MutexLock guard(queue_.lock());
        return queue_.Bulk();
    };
    const auto done = [&](std::uint64_t id, bool gone) {
        MutexLock guard(queue_.lock());
        queue_.EndSending(id, gone);
    };
    EXPECT_EQ(bulk(), (BulkProgress{0, 3}));
    auto first = Take();
    done(first->id, true);
    EXPECT_EQ(bulk(), (BulkProgress{1, 3}));
    auto second = Take();
    done(second->id, false);  // failed: back in the queue, not done
    {
        MutexLock guard(queue_.lock());
        queue_.PutBack(std::move(*second));
    }
    EXPECT_EQ(bulk(), (BulkProgress{1, 3}));
    ASSERT_EQ(*RemoveQueued(queue_, file_, 2), Removal::Removed);
    EXPECT_EQ(bulk(), (BulkProgress{1, 2})) << "a removed record leaves the bulk";
    queue_.Add(Records({4}));
    EXPECT_EQ(bulk(), (BulkProgress{1, 3})) << "queued before the queue emptied: same bulk";
    for (int i = 0; i < 2; ++i) done(Take()->id, true);
    EXPECT_EQ(bulk(), (BulkProgress{})) << "an empty queue ends the bulk";
    queue_.Add(Records({5}));
    EXPECT_EQ(bulk(), (BulkProgress{0, 1}));
}

// ---- The words of the status bar ----

TEST(StatusText, TheModemLineNamesPortStateOperatorAndSignalLevel) {
    modem::ModemInfo info;
    info.operator_name = "MegaFon";
    info.signal = 20;
    EXPECT_EQ(ModemLine("COM3", {modem::ModemState::Ready}, info),
              W("COM3: готов, MegaFon, сигнал: хороший"));
    EXPECT_EQ(ModemLine("COM3", {modem::ModemState::PortMissing}, info), W("COM3: порт не найден"))
        << "what a missing modem said before is stale";
    EXPECT_EQ(ModemLine("COM3", {modem::ModemState::NotAnswering}, {}), W("COM3: не отвечает"));
    EXPECT_EQ(ModemLine("COM3", {modem::ModemState::PinNeeded}, {}), W("COM3: нужен PIN-код"));
    info.signal = 99;
    EXPECT_EQ(ModemLine("COM3", {modem::ModemState::Ready}, info), W("COM3: готов, MegaFon"));
}

TEST(StatusText, APoolModemShowsItsCountsAgainstItsSimsLimitsOrWhyItStandsAside) {
    AppCore::PoolModemView modem;
    modem.port = 5;
    modem.seen.status = {modem::ModemState::Ready};
    modem.seen.info.operator_name = "MTS";
    modem.seen.identity = {"350000000000002", "89701990000000000017", ""};
    modem.usage = SimUsage{3, 12, 0, 0, 0};
    settings::SimSettings sim;
    sim.name = W("Рабочая");
    sim.limits.per_day = 500;
    const PoolModemCells cells = DescribePoolModem(modem, sim);
    EXPECT_EQ(cells.state, W("готов"));
    EXPECT_EQ(cells.sim, W("Рабочая"));
    EXPECT_EQ(cells.today, W("12 из 500"));
    EXPECT_EQ(cells.hour, "3") << "no hourly limit";
    EXPECT_EQ(PoolModemLine(cells), W("COM5: готов, MTS; SIM Рабочая; сегодня 12 из 500"));

    AppCore::PoolModemView aside = modem;
    aside.port = 6;
    aside.same_modem_as = 5;
    aside.usage.reset();
    const PoolModemCells aside_cells = DescribePoolModem(aside, {});
    EXPECT_EQ(aside_cells.state, W("другой порт модема на COM5"));
    EXPECT_EQ(aside_cells.sim, "89701990000000000017") << "no name given: its key";
    EXPECT_EQ(aside_cells.today, "-");
    EXPECT_EQ(PoolLine({modem, aside}), W("Модемы: готовы 1 из 2, отправлено сегодня: 12"));
}

TEST(StatusText, SignalLevelsFollowTheCsqScale) {
    EXPECT_EQ(SignalLevelText(31), W("сигнал: хороший"));
    EXPECT_EQ(SignalLevelText(15), W("сигнал: хороший"));
    EXPECT_EQ(SignalLevelText(14), W("сигнал: средний"));
    EXPECT_EQ(SignalLevelText(10), W("сигнал: средний"));
    EXPECT_EQ(SignalLevelText(9), W("сигнал: слабый"));
    EXPECT_EQ(SignalLevelText(1), W("сигнал: слабый"));
    EXPECT_EQ(SignalLevelText(0), W("нет сигнала"));
    EXPECT_EQ(SignalLevelText(99), "") << "not known";
    EXPECT_EQ(SignalLevelText(-1), "") << "not asked";
}

TEST(StatusText, TheFailureLineCountsDownInWholeSecondsRoundedUp) {
    const auto now = Clock::now();
    EXPECT_EQ(FailureLine("+CMS ERROR: 500", now + std::chrono::milliseconds(7200), now),
              W("Модем отказал (+CMS ERROR: 500), повтор через 8 с"));
    EXPECT_EQ(FailureLine("", now + seconds(2), now), W("Модем не ответил, повтор через 2 с"));
    EXPECT_EQ(FailureLine("ERROR", now, now), W("Модем отказал (ERROR), повтор сейчас"));
}

TEST(StatusText, QueueAndBulkLines) {
    EXPECT_EQ(QueueLine(0), W("В очереди: 0"));
    EXPECT_EQ(BulkLine({37, 200}), W("Отправлено 37 из 200"));
    EXPECT_EQ(BulkLine({}), "") << "no bulk under way";
}

// ---- Through the worker and the virtual modem ----

class QueueWorkerTest : public ::testing::Test {
  protected:
    QueueWorkerTest() : modems_(2) {}

    std::unique_ptr<AppCore> StartCore(testing::Outcomes& outcomes) {
        auto core = std::make_unique<AppCore>(home_.path());
        EXPECT_TRUE(core->Start(outcomes.Events()).ok());
        EXPECT_TRUE(core->WorkerRunning());
        return core;
    }
    std::uint64_t Queue(AppCore& core, const std::string& text) {
        return testing::QueueOne(core, "+79990000002", text);
    }

    testing::SimModems modems_;
    velka::testing::TempDir home_;
};

TEST_F(QueueWorkerTest, TheModemsRefusalReachesTheUserAndARemovedRecordNeverGoesOut) {
    ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), false));
    modems_.Control("fault 1 send-error 500");
    testing::Outcomes outcomes;
    auto core = StartCore(outcomes);
    const auto refused = Queue(*core, "refused");
    ASSERT_TRUE(outcomes.WaitUntil([&] { return !outcomes.Failures().empty(); }));
    const SendFailure failure = outcomes.Failures().front();
    EXPECT_EQ(failure.id, refused);
    EXPECT_EQ(failure.reason, "+CMS ERROR: 500");
    EXPECT_EQ(failure.attempts, 1);
    EXPECT_GT(failure.next_attempt, Clock::now() - seconds(60));

    // It rests between attempts; a removal asked while it is being sent is refused.
    Removal removal = Removal::BeingSent;
    ASSERT_TRUE(velka::testing::Eventually([&] {
        const auto rows = core->SnapshotOfQueue().rows;
        if (!rows.empty() && rows[0].state == QueueRowState::Resting) {
            EXPECT_EQ(rows[0].refusal, "+CMS ERROR: 500");
        }
        removal = *core->RemoveFromQueue(refused);
        return removal != Removal::BeingSent;
    }));
    EXPECT_EQ(removal, Removal::Removed);
    EXPECT_EQ(core->SummaryOfQueue().count, 0u);
    core.reset();

    modems_.Control("fault 1 clear");
    testing::Outcomes after;
    core = StartCore(after);
    const auto sent = Queue(*core, "sent");
    ASSERT_TRUE(after.WaitUntil([&] { return after.Count(sent, SendOutcome::Sent) > 0; }));
    core.reset();
    const auto outbox = store::Load(home_.File(kOutboxFile));
    ASSERT_TRUE(outbox.ok());
    ASSERT_EQ(outbox->size(), 1u) << "the removed record stayed removed across the restart";
    EXPECT_EQ(std::string((*outbox)[0].text_text()), "sent");
}

// The next start finds its modem gone, so the record read back from queue.db is
// not tried again: what the view shows is what the file kept.
TEST_F(QueueWorkerTest, ARestingRecordKeepsTheModemsRefusalAcrossARestart) {
    ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), false));
    modems_.Control("fault 1 send-error 500");
    testing::Outcomes outcomes;
    auto core = StartCore(outcomes);
    const auto refused = Queue(*core, "refused");
    ASSERT_TRUE(outcomes.WaitUntil([&] { return !outcomes.Failures().empty(); }));
    core.reset();  // joins the worker, which writes the Retry entry before it looks at stop

    ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), "COM250", false));
    testing::Outcomes after;
    core = StartCore(after);
    ASSERT_TRUE(velka::testing::Eventually([&] { return !core->SnapshotOfQueue().rows.empty(); }));
    const QueueRow row = core->SnapshotOfQueue().rows.front();
    EXPECT_EQ(row.id, refused);
    EXPECT_EQ(row.refusal, "+CMS ERROR: 500");
}

TEST_F(QueueWorkerTest, AModemWhosePortIsGoneIsSaidToBeMissing) {
    ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), "COM250", true));
    testing::Outcomes outcomes;
    auto core = StartCore(outcomes);
    EXPECT_TRUE(
        outcomes.WaitUntil([&] { return outcomes.WasTold(modem::ModemState::PortMissing); }));
}

}  // namespace
}  // namespace velka::app
