#include "app/queue_view.h"

#include <algorithm>

#include "store/content_file.h"
#include "store/store_file.h"

namespace velka::app {
namespace {

QueueRow RowOf(const QueuedRecord& item, QueueRowState state) {
    QueueRow row;
    row.id = item.id;
    row.record = item.record;
    row.whole = item.whole;
    row.state = state;
    row.refusal = item.refusal;
    row.next_attempt = item.due;
    row.confirmed = item.confirmed;
    row.segments = item.segments;
    row.again_whole = item.again_whole;
    return row;
}

// A record that failed rests until it is due again; one never tried, or due now, waits.
QueueRowState WaitingState(const QueuedRecord& item, Clock::time_point now) {
    // A record held by its SIM's limits has never failed, but carries the reason.
    const bool held = item.attempts > 0 || !item.refusal.empty();
    return held && item.due > now ? QueueRowState::Resting : QueueRowState::Waiting;
}

}  // namespace

QueueSnapshot SnapshotQueue(OutgoingQueue& queue, const std::string& unsent_path,
                            Clock::time_point now) {
    QueueSnapshot snapshot;
    MutexLock guard(queue.lock());
    for (const QueuedRecord& item : queue.Sending())
        snapshot.rows.push_back(RowOf(item, QueueRowState::Sending));
    for (const QueuedRecord& item : queue.Waiting()) {
        snapshot.rows.push_back(RowOf(item, WaitingState(item, now)));
        snapshot.rows.back().held_for_via = queue.HeldForRoute(item).value_or(std::string());
    }
    const auto unsent = store::Load(unsent_path);
    if (!unsent) {
        snapshot.unsent_error = unsent.error().message;
        return snapshot;
    }
    // A damaged content file costs only the whole texts: the records show as kept.
    const auto contents = store::LoadContentIndex(unsent_path);
    for (std::size_t i = 0; i < unsent->size(); ++i) {
        QueueRow row;
        row.record = (*unsent)[i];
        row.state = QueueRowState::Unsendable;
        const store::RecordContent* content =
            contents ? contents->Find(i, row.record.checksum) : nullptr;
        if (content && content->body == store::ContentBody::WholeText) row.whole = content->text;
        snapshot.rows.push_back(std::move(row));
    }
    return snapshot;
}

Result<Removal> RemoveQueued(OutgoingQueue& queue, const QueueFile& file, std::uint64_t id) {
    std::optional<QueuedRecord> removed;
    {
        MutexLock guard(queue.lock());
        const auto& sending = queue.Sending();
        if (std::any_of(sending.begin(), sending.end(),
                        [id](const QueuedRecord& item) { return item.id == id; }))
            return Removal::BeingSent;
        removed = queue.Remove(id);
    }
    if (!removed) return Removal::NotQueued;
    const std::uint64_t ids[] = {id};
    if (const Status noted = file.AppendFinished(ids); !noted) {
        std::vector<QueuedRecord> back;
        back.push_back(std::move(*removed));
        queue.Add(std::move(back));
        return noted.error();
    }
    return Removal::Removed;
}

}  // namespace velka::app
