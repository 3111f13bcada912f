#include "platform/ticks.h"

namespace velka {

namespace {

// The millisecond clock wraps after 2^32 ms; so does the tick count made from it.
constexpr std::int64_t kClockRangeMs = std::int64_t{1} << 32;
constexpr std::int64_t kTickRange = kClockRangeMs / kMillisecondsPerTick + 1;

// A timer never spans more than one wrap, so a count below the start is one range on.
std::int64_t UnwrappedTicks(const EventTimer& timer, Ticks now) {
    const auto current = static_cast<std::int64_t>(now);
    return current < timer.StartTicks ? current + kTickRange : current;
}

}  // namespace

EventTimer NewTimer(std::int32_t ticks, Ticks now) {
    if (ticks > kMaxTimerTicks) ticks = kMaxTimerTicks;
    const auto start = static_cast<std::int32_t>(now);
    return EventTimer{start, start + ticks};
}

bool TimerExpired(const EventTimer& timer, Ticks now) {
    return UnwrappedTicks(timer, now) > timer.ExpireTicks;
}

std::chrono::steady_clock::time_point TimerDeadline(const EventTimer& timer) {
    const auto now_point = std::chrono::steady_clock::now();
    const std::uint32_t now_ms = MillisecondClock();
    const Ticks now_ticks = now_ms / kMillisecondsPerTick;
    if (TimerExpired(timer, now_ticks)) return now_point;
    std::int64_t unwrapped_ms = now_ms;
    if (UnwrappedTicks(timer, now_ticks) != now_ticks) unwrapped_ms += kClockRangeMs;
    // The first millisecond of the tick after the expiry tick.
    const std::int64_t first_expired_ms =
        (static_cast<std::int64_t>(timer.ExpireTicks) + 1) * kMillisecondsPerTick;
    return now_point + std::chrono::milliseconds(first_expired_ms - unwrapped_ms);
}

}  // namespace velka
