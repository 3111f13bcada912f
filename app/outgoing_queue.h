// app/: the application core without a window: the program directory, the outgoing
// queue and its lock, the settings read at start-up, the serial port and the
// background worker that drives the modem.
//
// This header: the outgoing queue. Records wait here in the order they were queued;
// the worker takes the first one that is due and puts a failed one back at the end,
// not due again until its pause has passed. The queue lives in memory only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

#include "platform/mutex.h"
#include "store/packet.h"

namespace velka::app {

using Clock = std::chrono::steady_clock;

// The pause before the next attempt of a record that failed `attempts` times:
// 2 s, doubling with every failure, at most 5 minutes.
Clock::duration RetryPause(int attempts);

struct QueuedRecord {
    std::uint64_t id = 0;  // given by Append, unique in the run
    packet record;
    int attempts = 0;         // failed sends so far
    Clock::time_point due{};  // not tried before this moment
};

class OutgoingQueue {
  public:
    // The outgoing-queue lock. It guards the queue and every write of inbox.db,
    // outbox.db and unsent.db; the box views hold it while they read those files.
    // Hold it briefly: never across a modem exchange.
    Mutex& lock() RETURN_CAPABILITY(lock_) { return lock_; }

    // Appends a record at the end and wakes the worker. Takes the lock. Any thread.
    std::uint64_t Append(const packet& record) EXCLUDES(lock_);

    // With lock() held.
    bool empty() const REQUIRES(lock_) { return records_.empty(); }
    std::size_t size() const REQUIRES(lock_) { return records_.size(); }
    bool HasDue(Clock::time_point now) const REQUIRES(lock_);
    // The earliest moment at which a record becomes due; nothing when empty.
    std::optional<Clock::time_point> NextDue() const REQUIRES(lock_);
    // Removes and gives the first record that is due.
    std::optional<QueuedRecord> TakeDue(Clock::time_point now) REQUIRES(lock_);
    // Puts a record back at the end; it keeps its id.
    void PutBack(QueuedRecord record) REQUIRES(lock_);
    // Drops every record (at the close, records still queued are not kept).
    void Clear() REQUIRES(lock_) { records_.clear(); }

    // Sleeps, holding lock() between looks, until `deadline`, or until `done()`
    // (evaluated with the lock held, so declared `[...]() REQUIRES(queue.lock())`)
    // or a Wake()/Append() makes it true.
    template <typename Predicate>
    void SleepUntil(Clock::time_point deadline, Predicate done) REQUIRES(lock_) {
        wake_.wait_until(lock_, deadline, std::move(done));
    }
    // Wakes every SleepUntil to look again. Takes the lock briefly, so that a
    // sleeper between its look and its sleep does not miss the call.
    void Wake() EXCLUDES(lock_);

  private:
    Mutex lock_;
    ConditionVariable wake_;
    std::deque<QueuedRecord> records_ GUARDED_BY(lock_);
    std::uint64_t next_id_ GUARDED_BY(lock_) = 1;
};

}  // namespace velka::app
