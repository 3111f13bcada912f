// The locks of the core: std::mutex and std::condition_variable, with the attributes
// that let clang's thread-safety analysis check who holds what
// (platform/thread_annotations.h). Every lock that guards fields shared between
// threads is one of these, taken with MutexLock, so that the clang build proves each
// GUARDED_BY field is touched only under its lock.
//
// The members keep the standard's names (lock, unlock, try_lock, wait_until,
// notify_all), so the types meet the standard's Lockable requirements and read as
// the std types they stand for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/thread_annotations.h"

namespace velka {

template <typename Native>
class CAPABILITY("mutex") BasicMutex {
  public:
    BasicMutex() = default;
    BasicMutex(const BasicMutex&) = delete;
    BasicMutex& operator=(const BasicMutex&) = delete;

    void lock() ACQUIRE() { native_.lock(); }
    void unlock() RELEASE() { native_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return native_.try_lock(); }

  private:
    friend class ConditionVariable;
    Native native_;
};

using Mutex = BasicMutex<std::mutex>;
// For a lock that a thread may take again while it holds it (the dispatcher's state
// lock, which trigger handlers take inside a notification). The analysis looks at one
// function at a time and so never sees the second taking.
using RecursiveMutex = BasicMutex<std::recursive_mutex>;

// Holds a lock from its construction to its end, or to unlock().
template <typename M>
class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(M& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() {
        if (held_) mutex_.unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Gives the lock up before the end of the scope (to notify without it), and
    // takes it again.
    void unlock() RELEASE() {
        mutex_.unlock();
        held_ = false;
    }
    void lock() ACQUIRE() {
        mutex_.lock();
        held_ = true;
    }

  private:
    M& mutex_;
    bool held_ = true;
};

// std::condition_variable over a Mutex. Each wait is called with the mutex held and
// returns with it held; a predicate that reads guarded fields is declared
// `[...]() REQUIRES(lock) { ... }`, since it runs under the lock.
class ConditionVariable {
  public:
    template <typename Predicate>
    void wait(Mutex& held, Predicate done) REQUIRES(held) {
        Adopted native(held);
        condition_.wait(native.lock, std::move(done));
    }
    template <typename Clock, typename Duration>
    std::cv_status wait_until(Mutex& held, std::chrono::time_point<Clock, Duration> deadline)
        REQUIRES(held) {
        Adopted native(held);
        return condition_.wait_until(native.lock, deadline);
    }
    template <typename Clock, typename Duration, typename Predicate>
    bool wait_until(Mutex& held, std::chrono::time_point<Clock, Duration> deadline, Predicate done)
        REQUIRES(held) {
        Adopted native(held);
        return condition_.wait_until(native.lock, deadline, std::move(done));
    }
    template <typename Rep, typename Period, typename Predicate>
    bool wait_for(Mutex& held, std::chrono::duration<Rep, Period> length, Predicate done)
        REQUIRES(held) {
        Adopted native(held);
        return condition_.wait_for(native.lock, length, std::move(done));
    }

    void notify_one() { condition_.notify_one(); }
    void notify_all() { condition_.notify_all(); }

  private:
    // The caller's hold on the mutex, lent to the standard wait for its length.
    struct Adopted {
        explicit Adopted(Mutex& held) : lock(held.native_, std::adopt_lock) {}
        ~Adopted() { lock.release(); }
        Adopted(const Adopted&) = delete;
        Adopted& operator=(const Adopted&) = delete;
        std::unique_lock<std::mutex> lock;
    };

    std::condition_variable condition_;
};

}  // namespace velka
