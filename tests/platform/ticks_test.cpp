#include "platform/ticks.h"

#include <gtest/gtest.h>

namespace velka {
namespace {

TEST(EventTimer, ExpiresOnlyAfterItsLastTick) {
    const EventTimer timer = NewTimer(100, 1000);
    EXPECT_FALSE(TimerExpired(timer, 1000));
    EXPECT_FALSE(TimerExpired(timer, 1100));
    EXPECT_TRUE(TimerExpired(timer, 1101));
}

TEST(EventTimer, ZeroExpiresAtTheNextTickAndNegativeAtOnce) {
    EXPECT_FALSE(TimerExpired(NewTimer(0, 500), 500));
    EXPECT_TRUE(TimerExpired(NewTimer(0, 500), 501));
    EXPECT_TRUE(TimerExpired(NewTimer(-1, 500), 500));
}

TEST(EventTimer, LengthIsCappedAtTheLongestTimer) {
    const EventTimer timer = NewTimer(kMaxTimerTicks + 1000, 0);
    EXPECT_EQ(timer.ExpireTicks, kMaxTimerTicks);
}

TEST(EventTimer, AWaitSpanningTheClockWrapEndsOnTime) {
    // The tick count wraps to 0 after 2^32 ms; a 100-tick timer started 10 ticks
    // before the wrap must expire 90 ticks after it, not weeks later.
    const Ticks last = static_cast<Ticks>((std::uint64_t{1} << 32) / kMillisecondsPerTick);
    const EventTimer timer = NewTimer(100, last - 10);
    EXPECT_FALSE(TimerExpired(timer, last));
    EXPECT_FALSE(TimerExpired(timer, 85));
    EXPECT_TRUE(TimerExpired(timer, 95));
}

TEST(EventTimer, DeadlineLiesWithinTheTimersLength) {
    const auto before = std::chrono::steady_clock::now();
    const auto deadline = TimerDeadline(NewTimer(10));
    EXPECT_GE(deadline, before + std::chrono::milliseconds(9 * kMillisecondsPerTick));
    EXPECT_LE(deadline, before + std::chrono::milliseconds(12 * kMillisecondsPerTick));
    const auto expired = TimerDeadline(NewTimer(-1));
    EXPECT_LE(expired, std::chrono::steady_clock::now());
}

}  // namespace
}  // namespace velka
