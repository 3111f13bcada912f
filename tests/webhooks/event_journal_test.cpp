// The event journal: what survives a reopen, each fact kept once however often it
// is reported, and damage (a torn tail, a changed byte, an unwritable disk) that
// costs no other event and is kept aside.
#include "webhooks/event_journal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/files.h"
#include "tests/support/file_damage.h"
#include "tests/support/temp_dir.h"

namespace velka::webhooks {
namespace {

// Recorded now: the ids of settled events are kept for a week from their time.
Event Made(std::uint64_t id, const std::string& name = "sms:received") {
    static const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
    return {id, now + static_cast<std::int64_t>(id), name,
            R"({"id":")" + std::to_string(id) + R"(","text":"Привет"})"};
}

std::vector<std::uint64_t> Ids(const std::vector<Event>& events) {
    std::vector<std::uint64_t> ids;
    for (const Event& event : events) ids.push_back(event.id);
    return ids;
}

bool NothingSettled(const StoredEvent&) {
    return false;
}

class EventJournalTest : public ::testing::Test {
  protected:
    std::string Path() const { return dir_.File("events.db"); }
    // A journal opened afresh, as a restart opens it.
    EventJournal& Reopen(const std::function<bool(const StoredEvent&)>& settled = NothingSettled) {
        journal_.emplace(Path());
        auto opened = journal_->Open(settled);
        EXPECT_TRUE(opened.ok()) << (opened ? "" : opened.error().message);
        damage_ = opened ? *opened : std::vector<JournalDamage>{};
        return *journal_;
    }
    std::uint64_t FileSize() const { return *files::Size(Path()); }
    void FlipByteAt(std::uint64_t offset) const { velka::testing::FlipByteAt(Path(), offset); }

    velka::testing::TempDir dir_;
    std::optional<EventJournal> journal_;
    std::vector<JournalDamage> damage_;
};

TEST_F(EventJournalTest, EventsAndTheHooksMarksComeBackAfterAReopenInTheOrderAppended) {
    EventJournal& journal = Reopen();
    ASSERT_TRUE(journal.Append({Made(3), Made(1, "sms:sent")}).ok());
    ASSERT_TRUE(journal.Append({Made(2, "sms:delivered")}).ok());
    ASSERT_TRUE(journal.Mark(1, HookKey("http://a/"), HookOutcome::Acknowledged).ok());
    ASSERT_TRUE(journal.Mark(2, HookKey("http://b/"), HookOutcome::GivenUp).ok());

    EventJournal& again = Reopen();
    const auto events = again.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, Made(3));
    EXPECT_EQ(events[1].event, Made(1, "sms:sent"));
    EXPECT_EQ(events[2].event, Made(2, "sms:delivered"));
    EXPECT_EQ(events[1].done.at(HookKey("http://a/")), HookOutcome::Acknowledged);
    EXPECT_EQ(events[2].done.at(HookKey("http://b/")), HookOutcome::GivenUp);
    EXPECT_EQ(Ids(again.Pending(HookKey("http://a/"))), (std::vector<std::uint64_t>{3, 2}));
    EXPECT_TRUE(damage_.empty());
}

TEST_F(EventJournalTest, AFactReportedAgainIsKeptOnceEvenAfterEveryHookIsDoneWithIt) {
    EventJournal& journal = Reopen();
    ASSERT_TRUE(journal.Append({Made(7), Made(7), Made(8)}).ok());
    ASSERT_TRUE(journal.Append({Made(8)}).ok());
    EXPECT_EQ(journal.appended(), 2u);
    ASSERT_TRUE(journal.Mark(7, HookKey("http://a/"), HookOutcome::Acknowledged).ok());

    // The rewrite drops the settled event 7, yet a second report of it is refused.
    EventJournal& again = Reopen([](const StoredEvent& stored) { return !stored.done.empty(); });
    EXPECT_EQ(Ids(again.Pending(HookKey("http://a/"))), (std::vector<std::uint64_t>{8}));
    ASSERT_TRUE(again.Append({Made(7), Made(9)}).ok());
    EXPECT_EQ(Ids(again.Pending(HookKey("http://a/"))), (std::vector<std::uint64_t>{8, 9}));
    EXPECT_EQ(Ids(Reopen().Pending(HookKey("http://a/"))), (std::vector<std::uint64_t>{8, 9}));
}

TEST_F(EventJournalTest, ATornTailCostsTheLastEventAloneAndIsKeptAside) {
    EventJournal& journal = Reopen();
    ASSERT_TRUE(journal.Append({Made(1)}).ok());
    const std::uint64_t whole = FileSize();
    ASSERT_TRUE(journal.Append({Made(2)}).ok());
    std::filesystem::resize_file(Path(), FileSize() - 5);
    const std::uint64_t torn = FileSize() - whole;

    EventJournal& again = Reopen();
    EXPECT_EQ(Ids(again.Pending(1)), (std::vector<std::uint64_t>{1}));
    ASSERT_EQ(damage_.size(), 1u);
    EXPECT_EQ(damage_[0].bytes, torn);
    EXPECT_EQ(*files::Size(damage_[0].kept_in), torn);
    // The rewrite left the torn bytes out: what is appended next reads back.
    ASSERT_TRUE(again.Append({Made(3)}).ok());
    EXPECT_EQ(Ids(Reopen().Pending(1)), (std::vector<std::uint64_t>{1, 3}));
    EXPECT_TRUE(damage_.empty());
}

TEST_F(EventJournalTest, AChangedByteInsideOneEventCostsThatEventAndNoOther) {
    EventJournal& journal = Reopen();
    ASSERT_TRUE(journal.Append({Made(1)}).ok());
    const std::uint64_t second = FileSize();
    ASSERT_TRUE(journal.Append({Made(2)}).ok());
    const std::uint64_t third = FileSize();
    ASSERT_TRUE(journal.Append({Made(3)}).ok());
    ASSERT_TRUE(journal.Mark(3, 99, HookOutcome::Acknowledged).ok());
    FlipByteAt(second + 30);  // inside event 2's body

    EventJournal& again = Reopen();
    EXPECT_EQ(Ids(again.Pending(1)), (std::vector<std::uint64_t>{1, 3}));
    EXPECT_TRUE(again.Pending(99).size() == 1 && again.Pending(99)[0].id == 1);
    ASSERT_EQ(damage_.size(), 1u);
    EXPECT_EQ(damage_[0].bytes, third - second);
}

TEST_F(EventJournalTest, AHeaderNamingAHugeLengthIsDamageNotAReadPastTheFile) {
    EventJournal& journal = Reopen();
    ASSERT_TRUE(journal.Append({Made(1)}).ok());
    FlipByteAt(6);  // the length's third byte: hundreds of KiB
    ASSERT_TRUE(files::AppendDurably(Path(), std::string(3, 'x')).ok());
    EXPECT_TRUE(Reopen().Pending(1).empty());
    ASSERT_EQ(damage_.size(), 1u);
}

TEST_F(EventJournalTest, AnUnwritableDiskIsAnErrorAndTheEventIsNotTakenAsKept) {
    EventJournal journal(dir_.File("missing/events.db"));
    ASSERT_TRUE(journal.Open(NothingSettled).ok());
    EXPECT_FALSE(journal.Append({Made(1)}).ok());
    EXPECT_TRUE(journal.Pending(1).empty());
    EXPECT_EQ(journal.appended(), 0u);
    // Once the disk takes writes, the same report is kept.
    std::filesystem::create_directory(dir_.File("missing"));
    ASSERT_TRUE(journal.Append({Made(1)}).ok());
    EXPECT_EQ(journal.Pending(1).size(), 1u);
}

TEST_F(EventJournalTest, AnEventTooLongForTheFormatIsRefusedWithNothingWritten) {
    EventJournal& journal = Reopen();
    Event huge = Made(1);
    huge.body.assign(EventJournal::kMaxBody + 1, 'x');
    const Status refused = journal.Append({Made(2), huge});
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(files::Exists(Path()));
    EXPECT_FALSE(journal.Mark(5, 1, HookOutcome::Acknowledged).ok());
}

}  // namespace
}  // namespace velka::webhooks
