#include "app/outgoing_queue.h"

#include <gtest/gtest.h>

namespace velka::app {
namespace {

using std::chrono::seconds;

std::string TextOf(const std::optional<QueuedRecord>& item) {
    return item ? std::string(item->record.text_text()) : "(none)";
}

QueuedRecord Item(std::uint64_t id, const char* text) {
    QueuedRecord item;
    item.id = id;
    item.record = MakePacket("+1", "", text);
    return item;
}

TEST(OutgoingQueueTest, GivesRecordsInTheOrderQueued) {
    OutgoingQueue queue;
    queue.Add({Item(1, "A"), Item(2, "B")});
    MutexLock guard(queue.lock());
    const auto now = Clock::now();
    EXPECT_EQ(TextOf(queue.TakeDue(now)), "A");
    EXPECT_EQ(TextOf(queue.TakeDue(now)), "B");
    EXPECT_EQ(TextOf(queue.TakeDue(now)), "(none)");
}

TEST(OutgoingQueueTest, ARestingRecordIsPassedOverUntilItIsDueThenComesLast) {
    OutgoingQueue queue;
    const std::uint64_t a = 7;
    queue.Add({Item(a, "A"), Item(8, "B"), Item(9, "C")});
    MutexLock guard(queue.lock());
    const auto now = Clock::now();
    auto failed = queue.TakeDue(now);
    ASSERT_EQ(failed->id, a);
    failed->attempts = 1;
    failed->due = now + RetryPause(1);
    queue.PutBack(std::move(*failed));

    EXPECT_TRUE(queue.HasDue(now));
    EXPECT_EQ(TextOf(queue.TakeDue(now)), "B");
    EXPECT_EQ(TextOf(queue.TakeDue(now)), "C");
    EXPECT_FALSE(queue.HasDue(now));
    EXPECT_EQ(queue.NextDue(), now + seconds(2));
    EXPECT_EQ(TextOf(queue.TakeDue(now)), "(none)");
    const auto later = now + seconds(2);
    const auto again = queue.TakeDue(later);
    EXPECT_EQ(TextOf(again), "A");
    EXPECT_EQ(again->id, a) << "a record keeps its id";
    EXPECT_TRUE(queue.empty());
}

TEST(OutgoingQueueTest, RetryPausesGrowFromSecondsToMinutes) {
    EXPECT_EQ(RetryPause(1), seconds(2));
    EXPECT_EQ(RetryPause(2), seconds(4));
    EXPECT_EQ(RetryPause(5), seconds(32));
    EXPECT_EQ(RetryPause(9), std::chrono::minutes(5));
    EXPECT_EQ(RetryPause(1000), std::chrono::minutes(5));
}

// The worker asks the limits with the queue lock released; limits saved meanwhile
// must not leave the record held by what they said before.
TEST(OutgoingQueueTest, ARecordHeldByLimitsThatChangedWhileTheyWereAskedIsDueAtOnce) {
    OutgoingQueue queue;
    queue.Add({Item(1, "A"), Item(2, "B")});
    const auto later = Clock::now() + std::chrono::hours(1);
    std::optional<QueuedRecord> asked_before;
    std::optional<QueuedRecord> asked_after;
    std::uint64_t seen_before = 0;
    {
        MutexLock guard(queue.lock());
        seen_before = queue.LimitChanges();
        asked_before = queue.TakeDue(Clock::now());
    }
    EXPECT_EQ(queue.WakeHeldBySim(), 0u);  // nothing waits held yet
    MutexLock guard(queue.lock());
    asked_after = queue.TakeDue(Clock::now());
    const std::uint64_t seen_after = queue.LimitChanges();
    asked_before->due = later;
    asked_after->due = later;
    queue.PutBackHeldBySim(std::move(*asked_before), seen_before);
    queue.PutBackHeldBySim(std::move(*asked_after), seen_after);
    EXPECT_EQ(TextOf(queue.TakeDue(Clock::now())), "A");
    EXPECT_EQ(TextOf(queue.TakeDue(Clock::now())), "(none)") << "B was held by the limits now";
    EXPECT_EQ(queue.NextDue(), later);
}

}  // namespace
}  // namespace velka::app

namespace velka::app {
namespace {

// Routes: a record the user sent through a modem goes through it alone; a reply or
// a sticky number prefers its SIM while that SIM's modem takes records, and is
// free for the others once it does not or the record failed there.
class RoutesTest : public ::testing::Test {
  protected:
    RoutesTest() {
        queue_.SetMember("SIM-A", {{"SIM-A", "350000000000001", "COM1", "Рабочая"}, true});
        queue_.SetMember("SIM-B", {{"SIM-B", "350000000000002", "COM2"}, true});
    }
    QueuedRecord Routed(std::uint64_t id, const char* number, Route route) {
        QueuedRecord item = Item(id, "routed");
        item.record.set_number(number);
        item.route = std::move(route);
        return item;
    }
    bool DueFor(std::string_view sim) {
        MutexLock guard(queue_.lock());
        return queue_.HasDue(Clock::now(), sim);
    }
    OutgoingQueue queue_;
};

TEST_F(RoutesTest, ARecordSentThroughAModemWaitsForItAlone) {
    for (const char* via : {"com2", "350000000000002", "SIM-B"}) {
        queue_.Add({Routed(1, "+79160000001", {via, true})});
        EXPECT_FALSE(DueFor("SIM-A")) << via;
        EXPECT_TRUE(DueFor("")) << "a worker that knows no SIM yet opens its modem to learn";
        queue_.SetMember("SIM-B", {{"SIM-B", "350000000000002", "COM2"}, false});
        EXPECT_FALSE(DueFor("SIM-A")) << "a modem the user named is waited for";
        {
            MutexLock guard(queue_.lock());
            ASSERT_EQ(queue_.Waiting().size(), 1u);
            EXPECT_EQ(queue_.HeldForRoute(queue_.Waiting()[0]), std::optional<std::string>(via));
        }
        EXPECT_TRUE(DueFor("SIM-B"));
        queue_.SetMember("SIM-B", {{"SIM-B", "350000000000002", "COM2"}, true});
        MutexLock guard(queue_.lock());
        EXPECT_FALSE(queue_.HeldForRoute(queue_.Waiting()[0]));
        ASSERT_TRUE(queue_.TakeDue(Clock::now(), "SIM-B"));
    }
    // A SIM's name, as the user gave it, names its modem too.
    queue_.Add({Routed(2, "+79160000001", {"Рабочая", true})});
    EXPECT_FALSE(DueFor("SIM-B"));
    EXPECT_TRUE(DueFor("SIM-A"));
}

TEST_F(RoutesTest, AReplyPrefersTheSimItAnswersWhileThatOneTakesRecords) {
    queue_.Add({Routed(1, "+79160000001", {"SIM-B", false})});
    EXPECT_FALSE(DueFor("SIM-A"));
    EXPECT_TRUE(DueFor("SIM-B"));
    queue_.SetMember("SIM-B", {{"SIM-B"}, false});
    EXPECT_TRUE(DueFor("SIM-A")) << "a modem that takes no records leaves it to the others";
    queue_.RemoveMember("SIM-B");
    EXPECT_TRUE(DueFor("SIM-A"));

    queue_.SetMember("SIM-B", {{"SIM-B"}, true});
    MutexLock guard(queue_.lock());
    auto item = queue_.TakeDue(Clock::now(), "SIM-B");
    ASSERT_TRUE(item);
    item->attempts = 1;
    item->failed_on = "SIM-B";
    queue_.PutBack(std::move(*item), true);
    EXPECT_TRUE(queue_.HasDue(Clock::now(), "SIM-A")) << "refused on its SIM, any other tries";
}

TEST_F(RoutesTest, ANumberGoesBackThroughTheSimItLastWroteToOrWasWrittenFrom) {
    StickyRoutes sticky;
    sticky.Note("+7 916 000-00-01", "09.12.2026 10:00:00", "SIM-A");
    sticky.Note("89160000001", "10.12.2026 9:00:00", "SIM-B");
    sticky.Note("+79160000001", "08.12.2026 10:00:00", "SIM-A");  // older: changes nothing
    EXPECT_EQ(sticky.SimFor("+79160000001"), "SIM-B");
    queue_.SetStickyRoutes(std::move(sticky));
    queue_.Add({Routed(1, "+79160000001", {}), Routed(2, "+79160000002", {})});
    {
        MutexLock guard(queue_.lock());
        EXPECT_EQ(TextOf(queue_.TakeDue(Clock::now(), "SIM-A")), "routed");
        EXPECT_FALSE(queue_.HasDue(Clock::now(), "SIM-A")) << "the sticky one is SIM-B's";
    }
    queue_.NoteSticky("+79160000001", "10.12.2026 12:00:00", "SIM-A");
    EXPECT_TRUE(DueFor("SIM-A")) << "a later message moves the number to its SIM";

    // At a pool's start a SIM no modem has shown yet is waited for, until each told.
    queue_.ExpectMembers(3, Clock::now() + std::chrono::hours(1));
    queue_.NoteSticky("+79160000003", "10.12.2026 12:00:00", "SIM-C");
    queue_.Add({Routed(3, "+79160000003", {})});
    EXPECT_FALSE(DueFor("SIM-B"));
    queue_.SetMember("SIM-C", {{"SIM-C"}, false});
    EXPECT_TRUE(DueFor("SIM-B")) << "once every modem told, one not taking records holds none";
}

}  // namespace
}  // namespace velka::app
