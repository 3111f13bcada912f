// The I/O queue between the device layer's read and status threads and the
// dispatch thread: received data blocks and communication events, in arrival order.
// Every member may be called from any thread; the queue has its own lock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/mutex.h"
#include "serial/ser_misc.h"

namespace velka {

class TIOBuffer {
  public:
    virtual ~TIOBuffer() = default;
    // Set by Peek for the entry that a consumer is working on; Clear leaves it.
    bool InUse = false;
};

// One block of received bytes: Filled of them valid, Read of those already taken.
class TDataBuffer : public TIOBuffer {
  public:
    std::array<std::uint8_t, kDataBufferSize> Data{};
    int Filled = 0;
    int Read = 0;
    int Unread() const { return Filled - Read; }
};

// One communication event: a mask of ev* bits.
class TStatusBuffer : public TIOBuffer {
  public:
    explicit TStatusBuffer(std::uint32_t mask) : Mask(mask) {}
    std::uint32_t Mask;
};

class TIOQueue {
  public:
    // Appends the entry and wakes a waiting consumer.
    void Push(std::unique_ptr<TIOBuffer> buffer) EXCLUDES(lock_);
    // The first entry, marked in use; null when the queue is empty or the first
    // entry is already in use. The entry stays owned by the queue: it lives until
    // Pop, which only its user calls.
    TIOBuffer* Peek() EXCLUDES(lock_);
    // Removes and frees the first entry.
    void Pop() EXCLUDES(lock_);
    // Frees every entry that is not in use.
    void Clear() EXCLUDES(lock_);
    // Returns at once when the queue holds an entry; otherwise sleeps until one is
    // pushed, Wake() is called or the deadline passes. True when an entry waits.
    [[nodiscard]] bool WaitForBuffer(std::chrono::steady_clock::time_point deadline)
        EXCLUDES(lock_);
    // Sleeps until Wake() is called or the deadline passes, whatever the queue holds:
    // for a consumer that cannot take entries now and waits for a reason to try again.
    void WaitForWake(std::chrono::steady_clock::time_point deadline) EXCLUDES(lock_);
    // Ends the current or next WaitForBuffer or WaitForWake early: the consumer has
    // work that is not an entry (a stop, a timer armed, room made for entries).
    void Wake() EXCLUDES(lock_);

    // Unread bytes of the first entry when it is a data block, else 0.
    int FirstDataUnread() EXCLUDES(lock_);
    // Copies up to n unread bytes from the leading data blocks, stopping at a
    // status entry or an empty queue; used-up blocks are freed. Returns the count.
    int ReadData(std::uint8_t* destination, int n) EXCLUDES(lock_);
    // Takes the first entry when it is a status entry: its mask, else 0 and nothing.
    std::uint32_t TakeStatus() EXCLUDES(lock_);
    // Bytes held in data blocks, unread.
    std::int64_t BytesQueued() EXCLUDES(lock_);
    bool Empty() EXCLUDES(lock_);

  private:
    Mutex lock_;
    ConditionVariable not_empty_;  // pushed, or Wake()
    std::deque<std::unique_ptr<TIOBuffer>> entries_ GUARDED_BY(lock_);
    std::int64_t bytes_queued_ GUARDED_BY(lock_) = 0;
    bool woken_ GUARDED_BY(lock_) = false;  // Wake() not yet seen by a wait
};

}  // namespace velka
