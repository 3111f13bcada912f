// Condition-variable waits until a deadline that may be "never". Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/mutex.h"

namespace velka {

// The deadline of a wait that only a signal ends.
inline constexpr std::chrono::steady_clock::time_point kNever =
    std::chrono::steady_clock::time_point::max();

// wake.wait_until(lock, deadline, ready), except that kNever waits with no time limit:
// some thread libraries turn the deadline into a time on another clock, where max()
// overflows into the past and the wait would return at once, again and again.
// The value of ready() at the end.
template <typename Predicate>
bool WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
               std::chrono::steady_clock::time_point deadline, Predicate ready) {
    if (deadline == kNever) {
        wake.wait(lock, ready);
        return true;
    }
    return wake.wait_until(lock, deadline, ready);
}

// The same over an annotated Mutex, held by the caller.
template <typename Predicate>
bool WaitUntil(ConditionVariable& wake, Mutex& held, std::chrono::steady_clock::time_point deadline,
               Predicate ready) REQUIRES(held) {
    if (deadline == kNever) {
        wake.wait(held, std::move(ready));
        return true;
    }
    return wake.wait_until(held, deadline, std::move(ready));
}

}  // namespace velka
