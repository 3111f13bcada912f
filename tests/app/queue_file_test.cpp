// The queue file: order, what survives a restart, and damage (a torn tail, an
// entry whose checksum is wrong) kept aside without costing any other record.
#include "app/queue_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "tests/support/file_damage.h"
#include "tests/support/temp_dir.h"

namespace velka::app {
namespace {

QueuedRecord Item(const std::string& text, const std::string& number = "+79160000001") {
    QueuedRecord item;
    item.id = NewRecordId();
    item.record = MakePacket(number, "08.12.2026 10:00:00", text);
    return item;
}

std::vector<std::string> Texts(const std::vector<QueuedRecord>& records) {
    std::vector<std::string> texts;
    for (const auto& item : records) texts.emplace_back(item.record.text_text());
    return texts;
}

class QueueFileTest : public ::testing::Test {
  protected:
    std::string Path() const { return dir_.File("queue.db"); }
    std::vector<QueuedRecord> Load() {
        QueueFile file(Path());
        auto reading = file.Load();
        EXPECT_TRUE(reading.ok());
        if (!reading) return {};
        damage_ = reading->damage;
        return reading->records;
    }
    std::vector<std::string> DamagedFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("queue.db.damaged-")) names.push_back(name);
        }
        return names;
    }
    void CorruptByteAt(std::uint64_t offset) const { velka::testing::FlipByteAt(Path(), offset); }

    velka::testing::TempDir dir_;
    std::vector<QueueDamage> damage_;
};

TEST_F(QueueFileTest, RecordsComeBackInTheOrderQueuedWithTheirBytesAndIds) {
    QueueFile file(Path());
    const std::vector<QueuedRecord> first = {Item("one"), Item("two")};
    const std::vector<QueuedRecord> second = {Item("three", "+79160000002")};
    ASSERT_TRUE(file.AppendRecords(first));
    ASSERT_TRUE(file.AppendRecords(second));
    const auto loaded = Load();
    ASSERT_EQ(Texts(loaded), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(loaded[0].id, first[0].id);
    EXPECT_EQ(loaded[2].id, second[0].id);
    EXPECT_EQ(EncodePacket(loaded[2].record), EncodePacket(second[0].record));
    EXPECT_TRUE(damage_.empty());
}

TEST_F(QueueFileTest, AMissingFileIsAnEmptyQueueAndStaysMissing) {
    EXPECT_TRUE(Load().empty());
    EXPECT_FALSE(files::Exists(Path()));
}

TEST_F(QueueFileTest, ProgressAttemptsAndFinishedRecordsSurviveARestart) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("cut short"), Item("refused"), Item("sent")};
    ASSERT_TRUE(file.AppendRecords(items));
    items[0].confirmed = 2;
    items[0].segments = 3;
    items[0].reference = "2A";
    ASSERT_TRUE(file.AppendConfirmed(items[0], 5 * kPacketSize));
    items[1].attempts = 3;
    items[1].due = Clock::now() + std::chrono::minutes(4);
    ASSERT_TRUE(file.AppendRetry(items[1]));
    const std::uint64_t sent[] = {items[2].id};
    ASSERT_TRUE(file.AppendFinished(sent));

    const auto loaded = Load();
    ASSERT_EQ(Texts(loaded), (std::vector<std::string>{"cut short", "refused"}));
    EXPECT_EQ(loaded[0].confirmed, 2u);
    EXPECT_EQ(loaded[0].segments, 3u);
    EXPECT_EQ(loaded[0].reference, "2A");
    EXPECT_EQ(loaded[0].outbox_mark, 5 * kPacketSize);
    EXPECT_FALSE(loaded[0].AllConfirmed());
    EXPECT_EQ(loaded[1].attempts, 3);
    EXPECT_GT(loaded[1].due, Clock::now() + std::chrono::minutes(3)) << "the pause goes on";
    EXPECT_LE(loaded[1].due, Clock::now() + std::chrono::minutes(4));
}

// A text begun in UCS2 parts of 67 is known as one after a restart and a rewrite;
// one begun as designed, and a file from before the setting, read as designed.
TEST_F(QueueFileTest, TheWayATextIsCutSurvivesARestartAndARewrite) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("full parts"), Item("designed parts")};
    ASSERT_TRUE(file.AppendRecords(items));
    for (QueuedRecord& item : items) {
        item.confirmed = 1;
        item.segments = 4;
        item.reference = "2B";
    }
    items[0].room = modem::SegmentRoom::Full;
    for (const QueuedRecord& item : items) ASSERT_TRUE(file.AppendConfirmed(item, 0));
    for (int start = 1; start <= 2; ++start) {  // the second reads the rewritten file
        const auto loaded = Load();
        ASSERT_EQ(loaded.size(), 2u);
        EXPECT_EQ(loaded[0].room, modem::SegmentRoom::Full) << "start " << start;
        EXPECT_EQ(loaded[1].room, modem::SegmentRoom::Designed) << "start " << start;
        EXPECT_TRUE(damage_.empty());
    }
}

// A text with characters Windows-1251 lacks is queued whole, in the same entry as
// its record: it survives a restart and a rewrite, and damage to that entry costs
// the record, which is kept aside, rather than sending it with "?" in their place.
TEST_F(QueueFileTest, AWholeTextRidesWithItsRecordAndIsNeverSplitFromIt) {
    QueueFile file(Path());
    QueuedRecord emoji = Item("ok ?");
    emoji.whole = u"ok \U0001F44D";
    QueuedRecord longest = Item(std::string(kMaxTextLength, '?'));
    for (std::size_t i = 0; i < kMaxTextLength; ++i) longest.whole += u"\U0001F600";
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{Item("plain"), emoji, longest}));
    for (int start = 1; start <= 2; ++start) {  // the second reads the rewritten file
        const auto loaded = Load();
        ASSERT_EQ(loaded.size(), 3u);
        EXPECT_TRUE(loaded[0].whole.empty());
        EXPECT_EQ(loaded[1].whole, emoji.whole) << "start " << start;
        EXPECT_EQ(loaded[2].whole, longest.whole) << "1024 emoji: 2048 units";
        EXPECT_TRUE(damage_.empty());
    }
    const auto size = *files::Size(Path());
    QueuedRecord damaged = emoji;
    damaged.id = NewRecordId();
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{damaged}));
    CorruptByteAt(size + 12 + 8 + kPacketSize + 4);  // inside the whole text
    const auto loaded = Load();
    EXPECT_EQ(loaded.size(), 3u) << "the damaged record is not read without its text";
    EXPECT_EQ(damage_.size(), 1u);
}

// The reason rides with its Retry entry: a later silence (a Retry without one)
// clears it, a rewrite keeps it, and an answer longer than its field is cut there.
TEST_F(QueueFileTest, TheModemsRefusalSurvivesARestartUntilALaterAttemptSaysOtherwise) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("refused"), Item("then silence"), Item("long")};
    ASSERT_TRUE(file.AppendRecords(items));
    for (QueuedRecord& item : items) {
        item.attempts = 1;
        item.due = Clock::now() + std::chrono::minutes(1);
        item.refusal = "+CMS ERROR: 500";
    }
    items[2].refusal = "+CME ERROR: " + std::string(100, 'x');
    for (const QueuedRecord& item : items) ASSERT_TRUE(file.AppendRetry(item));
    items[1].attempts = 2;
    items[1].refusal.clear();
    ASSERT_TRUE(file.AppendRetry(items[1]));

    for (int start = 1; start <= 2; ++start) {  // the second reads the rewritten file
        const auto loaded = Load();
        ASSERT_EQ(loaded.size(), 3u);
        EXPECT_EQ(loaded[0].refusal, "+CMS ERROR: 500") << "start " << start;
        EXPECT_EQ(loaded[0].attempts, 1);
        EXPECT_EQ(loaded[1].refusal, "") << "the silence came last";
        EXPECT_EQ(loaded[1].attempts, 2);
        EXPECT_EQ(loaded[2].refusal, items[2].refusal.substr(0, 64));
        EXPECT_TRUE(damage_.empty());
    }
}

// A file written before refusals were kept: the same Retry entry, no Refusal after it.
TEST_F(QueueFileTest, ARetryEntryOfAnOlderFileReadsWithoutAReason) {
    QueuedRecord item = Item("older");
    item.attempts = 2;
    item.due = Clock::now() + std::chrono::minutes(1);
    QueueFile file(Path());
    ASSERT_TRUE(file.AppendRecords({&item, 1}));
    ASSERT_TRUE(file.AppendRetry(item));  // no refusal: the bytes an older program wrote
    const auto size = *files::Size(Path());
    EXPECT_EQ(size, 2 * 12 + (8 + kPacketSize) + 20) << "Queued and Retry entries alone";
    const auto loaded = Load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].attempts, 2);
    EXPECT_EQ(loaded[0].refusal, "");
    EXPECT_TRUE(damage_.empty());
}

TEST_F(QueueFileTest, TheModemsReferencesOfConfirmedMessagesSurviveAKillAndARewrite) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("three parts")};
    ASSERT_TRUE(file.AppendRecords(items));
    items[0].segments = 3;
    items[0].reference = "07";
    items[0].sent = {{254, "08.12.2026 10:00:01"}};
    items[0].confirmed = 1;
    ASSERT_TRUE(file.AppendConfirmed(items[0], 0));
    items[0].sent.push_back({255, "08.12.2026 10:00:02"});
    items[0].confirmed = 2;
    ASSERT_TRUE(file.AppendConfirmed(items[0], 0));
    // Killed here, before the third message: the next start reads the two references.
    const std::vector<store::SegmentSent> expected = {{254, "08.12.2026 10:00:01"},
                                                      {255, "08.12.2026 10:00:02"}};
    auto loaded = Load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].sent, expected);
    // The start's rewrite keeps them, and the next confirmation adds its own.
    loaded[0].sent.push_back({-1, "08.12.2026 10:00:03"});
    loaded[0].confirmed = 3;
    QueueFile again(Path());
    ASSERT_TRUE(again.Load().ok());
    ASSERT_TRUE(again.AppendConfirmed(loaded[0], 0));
    loaded = Load();
    ASSERT_EQ(loaded.size(), 1u);
    ASSERT_EQ(loaded[0].sent.size(), 3u);
    EXPECT_EQ(loaded[0].sent[1], expected[1]);
    EXPECT_EQ(loaded[0].sent[2].reference, -1) << "a confirmation that named no reference";
    EXPECT_TRUE(loaded[0].AllConfirmed());
}

TEST_F(QueueFileTest, AFileWrittenBeforeReferencesWereKeptStillReads) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("older")};
    ASSERT_TRUE(file.AppendRecords(items));
    items[0].segments = 2;
    items[0].confirmed = 1;  // no `sent`: as an older program wrote it
    ASSERT_TRUE(file.AppendConfirmed(items[0], 0));
    const auto loaded = Load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].confirmed, 1u);
    EXPECT_TRUE(loaded[0].sent.empty());
    EXPECT_TRUE(DamagedFiles().empty());
}

TEST_F(QueueFileTest, LoadingRewritesTheFileWithTheUnfinishedRecordsAlone) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("a"), Item("b"), Item("c")};
    ASSERT_TRUE(file.AppendRecords(items));
    const std::uint64_t done[] = {items[0].id, items[2].id};
    ASSERT_TRUE(file.AppendFinished(done));
    items[1].confirmed = 1;
    items[1].segments = 2;
    items[1].reference = "07";
    ASSERT_TRUE(file.AppendConfirmed(items[1], 0));
    const auto before = *files::Size(Path());
    ASSERT_EQ(Texts(Load()), std::vector<std::string>{"b"});
    EXPECT_LT(*files::Size(Path()), before);
    const auto again = Load();
    ASSERT_EQ(Texts(again), std::vector<std::string>{"b"});
    EXPECT_EQ(again[0].reference, "07") << "progress is kept by the rewrite";
    EXPECT_EQ(again[0].confirmed, 1u);
}

TEST_F(QueueFileTest, ATornTailIsKeptAsideAndEveryWholeRecordGoesOn) {
    QueueFile file(Path());
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{Item("one"), Item("two")}));
    const auto whole = *files::Size(Path());
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{Item("torn")}));
    std::filesystem::resize_file(Path(), whole + 500);

    EXPECT_EQ(Texts(Load()), (std::vector<std::string>{"one", "two"}));
    ASSERT_EQ(damage_.size(), 1u);
    EXPECT_EQ(damage_[0].bytes, 500u);
    const auto kept = DamagedFiles();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(*files::Size(dir_.File(kept[0])), 500u);
    EXPECT_EQ(*files::Size(Path()), whole) << "the queue file is whole again";
    EXPECT_EQ(Texts(Load()), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(damage_.empty()) << "told once";
}

TEST_F(QueueFileTest, ARecordWithABadChecksumCostsItselfAloneAndIsKeptAside) {
    QueueFile file(Path());
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{Item("one")}));
    const auto first_end = *files::Size(Path());
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{Item("two")}));
    const auto second_end = *files::Size(Path());
    ASSERT_TRUE(file.AppendRecords(std::vector<QueuedRecord>{Item("three")}));
    CorruptByteAt(first_end + 100);  // inside the second record's text field

    EXPECT_EQ(Texts(Load()), (std::vector<std::string>{"one", "three"}));
    ASSERT_EQ(damage_.size(), 1u);
    EXPECT_EQ(damage_[0].bytes, second_end - first_end);
    const auto kept = DamagedFiles();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(dir_.File(kept[0]), damage_[0].kept_in);
}

TEST_F(QueueFileTest, RecordsQueuedByAnotherWriterAreReadAsNewAndNeverCompactedAway) {
    QueueFile worker(Path());
    ASSERT_TRUE(worker.AppendRecords(std::vector<QueuedRecord>{Item("before")}));
    ASSERT_EQ(Texts(worker.Load()->records), std::vector<std::string>{"before"});
    EXPECT_FALSE(worker.HasNew());

    const QueueFile other(Path());
    ASSERT_TRUE(other.AppendRecords(std::vector<QueuedRecord>{Item("from elsewhere")}));
    EXPECT_TRUE(worker.HasNew());
    ASSERT_TRUE(worker.Compact({}));
    EXPECT_EQ(Texts(Load()), (std::vector<std::string>{"before", "from elsewhere"}))
        << "a compaction with unread records waits";

    QueueFile restarted(Path());
    ASSERT_TRUE(restarted.Load().ok());
    ASSERT_TRUE(other.AppendRecords(std::vector<QueuedRecord>{Item("later")}));
    const auto fresh = restarted.ReadNew();
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(Texts(fresh->records), std::vector<std::string>{"later"});
    ASSERT_TRUE(restarted.Compact({}));
    EXPECT_TRUE(Load().empty()) << "once read, finished records compact away";
}

}  // namespace
}  // namespace velka::app

namespace velka::app {
namespace {

// queue.sims: the SIM a text of several messages began on survives a restart, a
// damaged entry costs that record alone its SIM, and an empty queue forgets them.
TEST_F(QueueFileTest, TheSimATextBeganOnSurvivesARestartAndDamageCostsOnlyItsOwnEntry) {
    QueueFile file(Path());
    std::vector<QueuedRecord> items = {Item("first"), Item("second"), Item("not begun")};
    ASSERT_TRUE(file.AppendRecords(items));
    const char* sims[] = {"89701990000000000017", "IMSI250990000000002"};
    for (std::size_t i = 0; i < 2; ++i) {
        items[i].confirmed = 1;
        items[i].segments = 3;
        items[i].reference = "2C";
        items[i].sim = sims[i];
        ASSERT_TRUE(file.AppendSim(items[i]));
        ASSERT_TRUE(file.AppendConfirmed(items[i], 0));
    }
    const std::string sims_path = dir_.File("queue.sims");
    auto loaded = Load();
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].sim, sims[0]);
    EXPECT_EQ(loaded[1].sim, sims[1]);
    EXPECT_EQ(loaded[2].sim, "");
    EXPECT_TRUE(damage_.empty());

    const auto size = files::Size(sims_path);
    ASSERT_TRUE(size);
    velka::testing::FlipByteAt(sims_path, *size - 3);  // inside the second entry
    loaded = Load();
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].sim, sims[0]);
    EXPECT_EQ(loaded[1].sim, "") << "a damaged entry is believed for nothing";
    ASSERT_EQ(damage_.size(), 1u);
    EXPECT_NE(damage_[0].kept_in.find("queue.sims.damaged-"), std::string::npos);

    const std::uint64_t all[] = {items[0].id, items[1].id, items[2].id};
    ASSERT_TRUE(file.AppendFinished(all));
    QueueFile worker(Path());
    ASSERT_TRUE(worker.Load());
    ASSERT_TRUE(worker.Compact({}));
    const auto emptied = files::Size(sims_path);
    ASSERT_TRUE(emptied);
    EXPECT_EQ(*emptied, 0u);
}

// The route a record was queued with is read with it, by a running worker and
// after a restart, and stays only while its record waits.
TEST_F(QueueFileTest, ARecordsRouteSurvivesARestartAndReachesARunningWorker) {
    QueueFile worker(Path());
    ASSERT_TRUE(worker.Load());
    std::vector<QueuedRecord> items = {Item("routed"), Item("free"), Item("reply")};
    items[0].route = {"Рабочая SIM", true};
    items[2].route = {"89701990000000000017", false};
    const QueueFile other(Path());
    ASSERT_TRUE(other.AppendRecords(items));
    const auto fresh = worker.ReadNew();
    ASSERT_TRUE(fresh);
    ASSERT_EQ(fresh->records.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(fresh->records[i].route, items[i].route);

    const std::uint64_t first[] = {items[0].id};
    ASSERT_TRUE(other.AppendFinished(first));
    const auto loaded = Load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].route, items[1].route);
    EXPECT_EQ(loaded[1].route, items[2].route);
    const auto contents = files::ReadAll(dir_.File("queue.sims"));
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->find("Рабочая"), std::string::npos) << "a finished record's route goes";
}

}  // namespace
}  // namespace velka::app
