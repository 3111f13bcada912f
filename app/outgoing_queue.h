// app/: the application core without a window: the program directory, the outgoing
// queue and its lock, the settings read at start-up, the serial port and the
// background worker that drives the modem.
//
// This header: the outgoing queue. Records wait here in the order they were queued;
// the worker takes the first one that is due and puts a failed one back at the end,
// not due again until its pause has passed. This is the worker's picture of the
// queue file (app/queue_file.h), which is what survives the process.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/errand.h"
#include "app/routes.h"
#include "modem/session.h"
#include "platform/mutex.h"
#include "platform/stop_signal.h"
#include "store/packet.h"
#include "store/sent_file.h"

namespace velka::app {

using Clock = std::chrono::steady_clock;

// How long a text cut short waits for the SIM it began on once it is due again;
// after that any SIM of the pool may take it and send it again whole, as its SIM's
// modem has stopped answering, lost its port or keeps refusing.
inline constexpr auto kPinnedWait = std::chrono::minutes(10);

// How long, from the start of a pool, a record preferring a SIM no modem has shown
// yet waits for it: the modems open one by one, and the first one up would
// otherwise take every reply meant for the others.
inline constexpr auto kPoolSettling = std::chrono::seconds(30);

// The pause before the next attempt of a record that failed `attempts` times:
// 2 s, doubling with every failure, at most 5 minutes.
Clock::duration RetryPause(int attempts);

struct QueuedRecord {
    std::uint64_t id = 0;  // NewRecordId(), given when queued; the same in every run
    packet record;
    // The text as typed, line breaks as CR LF, where the record's Windows-1251 text
    // lost characters (one "?" each); empty otherwise. Sent instead of the record's
    // text, and kept beside it in queue.db and in the store file's content file.
    std::u16string whole;
    int attempts = 0;         // failed sends so far
    Clock::time_point due{};  // not tried before this moment
    // Progress through the messages the text goes out as: the first `confirmed`
    // of `segments` were confirmed by the modem, under the concatenation
    // `reference` (two hexadecimal digits; empty for a text sent as one message).
    std::size_t confirmed = 0;
    std::size_t segments = 0;
    std::string reference;
    // How the text is cut, fixed when its first message goes (SendPosition::room).
    modem::SegmentRoom room = modem::SegmentRoom::Designed;
    // The size of the store file the record goes to, noted before it goes there:
    // the record is appended at that point or later. For outbox.db, its size when
    // the modem confirmed the last message; for unsent.db, its size when the record
    // was found unsendable. Unset until then.
    std::optional<std::uint64_t> outbox_mark;
    // The modem's error answer at the last failed attempt; empty after a silence.
    // Kept in queue.db with the attempts (up to 64 bytes).
    std::string refusal;
    // What the modem said of each confirmed message, in order: its reference and
    // when. As many as `confirmed` for records sent since references are kept.
    std::vector<store::SegmentSent> sent;
    // The SIM (SimKey, or the port's name when the modem tells no key) its first
    // message went through, once one did: the others go the same way, since the
    // recipient's phone joins parts of one sender only, and the record is noted in
    // outbox.sims with it (store/sim_note_file.h). Kept in queue.sims for a text of
    // several messages; empty until its first message went.
    std::string sim;
    // The modem or SIM it asks to go through (app/routes.h); kept in queue.sims.
    Route route;
    // The SIM whose modem failed to send it at its last attempt. Refused at its first
    // attempt, it is due at once for the other modems of a pool: the fault is most
    // likely that modem's. This run only.
    std::string failed_on;
    // Its first messages went through a SIM that stopped answering, and it is sent
    // again whole through another (kPinnedWait). This run only.
    bool again_whole = false;
    // Resting until `due` because its SIM was at a limit, not because a send
    // failed: a change of the limits wakes it (OutgoingQueue::WakeHeldBySim).
    // Memory only: a restart asks the SIM's limits again anyway.
    bool held_by_sim = false;

    bool AllConfirmed() const { return segments > 0 && confirmed >= segments; }
};

// A bulk send: the records queued since the queue was last empty, and how many of
// them have gone (sent, or moved aside as never sendable). Both are 0 while empty.
struct BulkProgress {
    std::size_t done = 0;
    std::size_t total = 0;
    bool operator==(const BulkProgress&) const = default;
};

class OutgoingQueue {
  public:
    // The outgoing-queue lock. It guards the queue and every write of inbox.db,
    // outbox.db and unsent.db; the box views hold it while they read those files.
    // Hold it briefly: never across a modem exchange.
    Mutex& lock() RETURN_CAPABILITY(lock_) { return lock_; }

    // Appends records at the end and wakes the worker. Takes the lock. Any thread.
    void Add(std::vector<QueuedRecord> records) EXCLUDES(lock_);
    // Says that records were appended to the queue file, and wakes the worker to
    // read them. Takes the lock. Any thread.
    void NoteQueuedOnDisk() EXCLUDES(lock_);

    // With lock() held.
    bool empty() const REQUIRES(lock_) { return records_.empty(); }
    std::size_t size() const REQUIRES(lock_) { return records_.size(); }
    // A record is due for a worker once its pause is over, unless it began on
    // another SIM than the worker's `sim` (QueuedRecord::sim; empty: a worker that
    // knows no SIM yet, for which every record is due, so that it opens its modem
    // and learns) and has waited for it less than the pinned wait since, or its
    // route (app/routes.h) keeps it for another member of the pool.
    bool HasDue(Clock::time_point now, std::string_view sim = {}) const REQUIRES(lock_);
    // Whether NoteQueuedOnDisk was called since the last call; clears the note.
    bool TakeQueuedOnDiskNote() REQUIRES(lock_) { return std::exchange(queued_on_disk_, false); }
    bool QueuedOnDisk() const REQUIRES(lock_) { return queued_on_disk_; }
    // The earliest moment at which a record becomes due for a worker on `sim`;
    // nothing when none will.
    std::optional<Clock::time_point> NextDue(std::string_view sim = {}) const REQUIRES(lock_);
    // Removes and gives the first record that is due for a worker on `sim`.
    std::optional<QueuedRecord> TakeDue(Clock::time_point now, std::string_view sim = {})
        REQUIRES(lock_);
    // Puts a record back at the end, or `ahead` of the records that wait (one
    // another modem of a pool should send at once); it keeps its id. Ends its
    // being sent. Wakes the workers: it may be due for another one sooner than for
    // its own.
    void PutBack(QueuedRecord record, bool ahead = false) REQUIRES(lock_);

    // kPinnedWait; tests shorten it. Before the workers start.
    void SetPinnedWait(Clock::duration wait) { pinned_wait_ = wait; }
    // ---- The pool's members and the routes they serve (app/routes.h) ----
    // A pool of `count` workers starts: until each told its membership or until
    // `until`, a record preferring a SIM no member has yet waits for it. Before
    // the workers start.
    void ExpectMembers(std::size_t count, Clock::time_point until) EXCLUDES(lock_);
    // The worker on SIM `sim` answers to `member.names` and takes records or not.
    // A change wakes the workers: records a route kept for it may be due for
    // others now, or for it. Takes the lock. Any thread.
    void SetMember(const std::string& sim, PoolMember member) EXCLUDES(lock_);
    // The worker on `sim` ended.
    void RemoveMember(const std::string& sim) EXCLUDES(lock_);
    // The SIMs numbers last wrote to or were written from, read from the boxes;
    // then NoteSticky as messages come and go. Takes the lock. Any thread.
    void SetStickyRoutes(StickyRoutes routes) EXCLUDES(lock_);
    void NoteSticky(std::string_view number, std::string_view datetime, std::string_view sim)
        EXCLUDES(lock_);
    // Why the waiting record is kept from the members it could go through: the
    // route it waits for (its `via`), or nothing when none keeps it.
    std::optional<std::string> HeldForRoute(const QueuedRecord& record) const REQUIRES(lock_);

    // ---- Records held by their SIM's limits ----
    // How many times WakeHeldBySim was called: read before the limits are asked,
    // so that PutBackHeldBySim knows whether they changed meanwhile.
    std::uint64_t LimitChanges() const REQUIRES(lock_) { return limit_changes_; }
    // Puts back a record its SIM's limits hold until its `due`, as PutBack does.
    // When the limits changed since `changes_seen` (LimitChanges() before they
    // were asked), it was held by limits that no longer stand and is due at once.
    void PutBackHeldBySim(QueuedRecord record, std::uint64_t changes_seen) REQUIRES(lock_);
    // The SIMs' limits changed: every record they hold is due at once, its reason
    // dropped, and the worker is woken to ask the limits again. A record resting
    // after a failed send keeps its pause. Gives how many it woke. Takes the lock.
    // Any thread.
    std::size_t WakeHeldBySim() EXCLUDES(lock_);

    // ---- Errands, which go before the records that wait ----
    // Appends an errand and wakes the workers. False, with the errand not taken,
    // once the workers have ended (CloseErrands). Takes the lock. Any thread.
    bool AddErrand(ModemErrand errand) EXCLUDES(lock_);
    // The errands for the modem with these names (app/routes.h): those that name
    // it, and with `first` those that name none.
    bool HasErrandFor(const std::vector<std::string>& names, bool first) const REQUIRES(lock_);
    // Removes and gives the first of them.
    std::optional<ModemErrand> TakeErrand(const std::vector<std::string>& names, bool first)
        REQUIRES(lock_);
    // The worker ends: gives the errands it will never run, and refuses new ones.
    std::deque<ModemErrand> CloseErrands() REQUIRES(lock_);

    // ---- What the user sees of the queue ----
    // The records TakeDue gave, each until PutBack or EndSending: those the workers
    // send now, in the order they were taken.
    const std::vector<QueuedRecord>& Sending() const REQUIRES(lock_) { return sending_; }
    // The record being sent changed in what the queue view shows of it.
    void UpdateSending(const QueuedRecord& record) REQUIRES(lock_);
    // The worker is done with record `id`: `gone` when it left the queue for good
    // (sent or never sendable), which counts it done in the bulk.
    void EndSending(std::uint64_t id, bool gone) REQUIRES(lock_);
    // The records waiting, in queue order (the one being sent not among them).
    const std::deque<QueuedRecord>& Waiting() const REQUIRES(lock_) { return records_; }
    // Waiting and being sent.
    std::size_t Count() const REQUIRES(lock_) { return records_.size() + sending_.size(); }
    BulkProgress Bulk() const REQUIRES(lock_) { return bulk_; }
    // Takes the waiting record `id` out of the queue; nothing when it is not waiting.
    std::optional<QueuedRecord> Remove(std::uint64_t id) REQUIRES(lock_);

    // Sleeps, holding lock() between looks, until `deadline`, or until `done()`
    // (evaluated with the lock held, so declared `[...]() REQUIRES(queue.lock())`)
    // or a Wake()/Add() makes it true.
    template <typename Predicate>
    void SleepUntil(Clock::time_point deadline, Predicate done) REQUIRES(lock_) {
        wake_.wait_until(lock_, deadline, std::move(done));
    }
    // Wakes every SleepUntil to look again. Takes the lock briefly, so that a
    // sleeper between its look and its sleep does not miss the call.
    void Wake() EXCLUDES(lock_);

    // The signals every Add, NoteQueuedOnDisk, AddErrand and Wake set besides the
    // condition variable: one per worker, which sleeps on its modem's port as well
    // while it listens for announcements, and clears its signal before it looks at
    // the queue. A worker adds its signal before its thread starts and removes it
    // after the thread ended; the signal must outlive its stay here.
    void AddWakeSignal(StopSignal& signal) EXCLUDES(lock_);
    void RemoveWakeSignal(StopSignal& signal) EXCLUDES(lock_);

  private:
    void SetWakeSignals() REQUIRES(lock_);
    void DropSending(std::uint64_t id) REQUIRES(lock_);
    // When the record falls due for a worker on `sim` (empty: one that knows no
    // SIM yet); nothing while a route keeps it for others.
    std::optional<Clock::time_point> DueFor(const QueuedRecord& record, std::string_view sim) const
        REQUIRES(lock_);
    // Whether the route keeps a record not begun from the worker on `sim`: not at
    // all, for good, or while the pool settles.
    enum class RouteHold { Free, Kept, WhileSettling };
    RouteHold HoldByRoute(const QueuedRecord& record, std::string_view sim) const REQUIRES(lock_);
    // Whether a member that takes records answers to `via`.
    bool AvailableFor(std::string_view via) const REQUIRES(lock_);
    void WakeAll() REQUIRES(lock_);

    Mutex lock_;
    ConditionVariable wake_;
    Clock::duration pinned_wait_ = kPinnedWait;  // set before the workers start
    std::deque<QueuedRecord> records_ GUARDED_BY(lock_);
    bool queued_on_disk_ GUARDED_BY(lock_) = false;
    std::vector<QueuedRecord> sending_ GUARDED_BY(lock_);
    BulkProgress bulk_ GUARDED_BY(lock_);
    std::deque<ModemErrand> errands_ GUARDED_BY(lock_);
    bool errands_closed_ GUARDED_BY(lock_) = false;
    // Set under lock_, so that a signal is never set after its worker removed it.
    std::vector<StopSignal*> wake_signals_ GUARDED_BY(lock_);
    std::uint64_t limit_changes_ GUARDED_BY(lock_) = 0;
    std::unordered_map<std::string, PoolMember> members_ GUARDED_BY(lock_);  // by SIM
    std::size_t expected_members_ GUARDED_BY(lock_) = 0;
    Clock::time_point settled_at_ GUARDED_BY(lock_){};  // the epoch once all told
    StickyRoutes sticky_ GUARDED_BY(lock_);
};

}  // namespace velka::app
