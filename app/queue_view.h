// The outgoing queue as the user sees it: each record waiting to be sent with its
// state, and the records that can never be sent (unsent.db); and the removal of a
// waiting record, which lasts: the next start does not send it.
//
// Threads: the front end's. Each call takes the queue lock briefly; a removal then
// appends to queue.db under queue.db.lock, never holding both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/outgoing_queue.h"
#include "app/queue_file.h"
#include "platform/result.h"

namespace velka::app {

enum class QueueRowState {
    Sending,     // the worker is sending it now
    Waiting,     // due, or queued and never tried
    Resting,     // refused or unanswered; tried again at next_attempt
    Unsendable,  // in unsent.db: no PDU can be built for it
};

struct QueueRow {
    std::uint64_t id = 0;  // 0 for a record of unsent.db, which cannot be removed here
    packet record;
    std::u16string whole;  // the text whole where the record's lost characters; else empty
    QueueRowState state = QueueRowState::Waiting;
    std::string refusal;  // the modem's error answer at the last attempt, if any
    Clock::time_point next_attempt{};
    std::size_t confirmed = 0;  // messages of the text the modem confirmed already
    std::size_t segments = 0;   // messages in all; 0 until a send was tried
    bool again_whole = false;   // QueuedRecord::again_whole
    // Waiting: the modem the user named for it, which takes no records now
    // (OutgoingQueue::HeldForRoute); empty otherwise. Windows-1251.
    std::string held_for_via;

    // A long text of which some messages went out: removing it cuts it short.
    bool PartlySent() const { return confirmed > 0; }
};

struct QueueSnapshot {
    std::vector<QueueRow> rows;  // being sent, waiting in queue order, then never sendable
    std::string unsent_error;    // unsent.db could not be read (its rows are then missing)
};

// The rows at `now`. Reads unsent.db (`unsent_path`) under the queue lock, as the
// box views read their files.
QueueSnapshot SnapshotQueue(OutgoingQueue& queue, const std::string& unsent_path,
                            Clock::time_point now) EXCLUDES(queue.lock());

enum class Removal {
    Removed,    // out of the queue, and queue.db says so
    BeingSent,  // the worker is sending it now: not removed
    NotQueued,  // no longer waiting (sent meanwhile, or removed already)
};

// Takes the waiting record `id` out of the queue and appends its Finished entry to
// queue.db, flushed, so that no later start sends it. When the disk refuses the
// entry, the record goes back to the queue (at its end) and the error is given.
Result<Removal> RemoveQueued(OutgoingQueue& queue, const QueueFile& file, std::uint64_t id)
    EXCLUDES(queue.lock());

}  // namespace velka::app
