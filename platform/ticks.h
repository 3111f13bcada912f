// The serial component's clock: ticks of 55 ms, the system's millisecond clock
// divided by 55, as an unsigned 32-bit count that wraps like that clock does.
// Pure except CurrentTicks(); any thread.
#pragma once

#include <chrono>
#include <cstdint>

namespace velka {

using Ticks = std::uint32_t;

inline constexpr int kMillisecondsPerTick = 55;
// The longest timer: half the range of a tick count made from a wrapping
// 32-bit millisecond clock, so that a wrap can still be told from an expiry.
inline constexpr std::int32_t kMaxTimerTicks = 39045157;

// The millisecond clock: a monotonic clock cut to 32 bits, as timeGetTime gives it.
std::uint32_t MillisecondClock();
inline Ticks CurrentTicks() {
    return MillisecondClock() / kMillisecondsPerTick;
}

// A time-out counted in ticks. Plain data: copy it freely.
struct EventTimer {
    std::int32_t StartTicks = 0;
    std::int32_t ExpireTicks = 0;
};

// Starts a timer of `ticks` ticks (capped at kMaxTimerTicks) at tick `now`.
EventTimer NewTimer(std::int32_t ticks, Ticks now);
inline EventTimer NewTimer(std::int32_t ticks) {
    return NewTimer(ticks, CurrentTicks());
}

// Expired when now is past the expiry tick; a tick count below the start means the
// clock has wrapped since, and is read as lying one whole clock range later.
// So a time-out of 0 expires at the next tick boundary and a negative one at once.
bool TimerExpired(const EventTimer& timer, Ticks now);
inline bool TimerExpired(const EventTimer& timer) {
    return TimerExpired(timer, CurrentTicks());
}

// The steady-clock moment at which TimerExpired() first becomes true, for waits
// that sleep on a condition variable until data, this deadline or a stop request.
std::chrono::steady_clock::time_point TimerDeadline(const EventTimer& timer);

}  // namespace velka
