// StopSignal: a stop request that ends waits at once. Its owner sets it (a close
// of the program); code that only looks at it between steps reads it as a flag,
// and a wait that sleeps on a condition variable registers that variable for the
// wait's duration (StopSignal::Wake), so that Set() wakes it instead of the wait
// having to look at the flag on a timer.
//
// Any thread may call any member. Lock order: the signal's own lock, then a
// registered wait's mutex (Set takes both to wake the wait without losing the
// wake-up), so a Wake must be made while its mutex is NOT held.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "platform/mutex.h"

namespace velka {

class StopSignal {
  public:
    StopSignal() = default;
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Sets the flag and wakes every registered wait. Never blocks beyond the locks
    // of the waits it wakes.
    void Set() EXCLUDES(lock_);
    bool IsSet() const { return flag_.load(); }
    // Lowers the flag again, for a signal used as a wake-up rather than a stop: its
    // one waiter clears it before it looks at what it waits for, so that a Set()
    // after the look still ends the next wait.
    void Clear() { flag_.store(false); }
    // The flag, for code that only looks at it (the modem dialogue, the worker's loop).
    operator const std::atomic<bool>&() const { return flag_; }
    // The registered waits now; for tests that must know a wait is asleep.
    std::size_t Sleepers() const EXCLUDES(lock_);

    // While it lives, Set() on `signal` (which may be null: nothing registers) takes
    // `mutex` and then notifies `wake`. Make it before taking `mutex` and let it die
    // after releasing it; the wait looks at IsSet() under `mutex` before it sleeps.
    class Wake {
      public:
        Wake(const StopSignal* signal, Mutex& mutex, ConditionVariable& wake) EXCLUDES(mutex);
        ~Wake();
        Wake(const Wake&) = delete;
        Wake& operator=(const Wake&) = delete;

      private:
        friend class StopSignal;
        const StopSignal* signal_;
        Mutex& mutex_;
        ConditionVariable& wake_;
    };

  private:
    std::atomic<bool> flag_{false};
    mutable Mutex lock_;
    // Registering a wait changes no stop request, so it works on a const signal.
    mutable std::vector<Wake*> waits_ GUARDED_BY(lock_);
};

}  // namespace velka
