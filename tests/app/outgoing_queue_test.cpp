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
