// app/: the application core without a window: the program directory, the outgoing
// queue and its lock, the settings read at start-up, the serial port and the
// background worker that drives the modem.
//
// This header: the outgoing queue. Records wait here in the order they were queued;
// the worker takes the first one that is due and puts a failed one back at the end,
// not due again until its pause has passed. The queue lives in memory only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

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
    std::mutex& lock() { return lock_; }

    // Appends a record at the end and wakes the worker. Takes the lock. Any thread.
    std::uint64_t Append(const packet& record);

    // REQUIRES: lock() held.
    bool empty() const { return records_.empty(); }
    std::size_t size() const { return records_.size(); }
    bool HasDue(Clock::time_point now) const;
    // The earliest moment at which a record becomes due; nothing when empty.
    std::optional<Clock::time_point> NextDue() const;
    // Removes and gives the first record that is due.
    std::optional<QueuedRecord> TakeDue(Clock::time_point now);
    // Puts a record back at the end; it keeps its id.
    void PutBack(QueuedRecord record);
    // Drops every record (at the close, records still queued are not kept).
    void Clear() { records_.clear(); }

    // Sleeps, holding `held` (a lock on lock()) between looks, until `deadline`,
    // or until `done()` (evaluated with the lock held) or a Wake()/Append() makes
    // it true.
    template <typename Predicate>
    void SleepUntil(std::unique_lock<std::mutex>& held, Clock::time_point deadline,
                    Predicate done) {
        wake_.wait_until(held, deadline, done);
    }
    // Wakes every SleepUntil to look again. Takes the lock briefly, so that a
    // sleeper between its look and its sleep does not miss the call.
    void Wake();

  private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<QueuedRecord> records_;  // guarded by lock_
    std::uint64_t next_id_ = 1;         // guarded by lock_
};

}  // namespace velka::app
