#include "app/outgoing_queue.h"

#include <algorithm>

namespace velka::app {
namespace {

constexpr auto kFirstPause = std::chrono::seconds(2);
constexpr auto kLongestPause = std::chrono::minutes(5);

// A record its SIM's limits held, due at once: the limits are asked again before
// it goes, and give it a reason anew if it still may not.
void Release(QueuedRecord& item) {
    item.held_by_sim = false;
    item.due = {};
    item.refusal.clear();
}

}  // namespace

Clock::duration RetryPause(int attempts) {
    Clock::duration pause = kFirstPause;
    for (int i = 1; i < attempts && pause < kLongestPause; ++i) pause *= 2;
    return std::min<Clock::duration>(pause, kLongestPause);
}

void OutgoingQueue::Add(std::vector<QueuedRecord> records) {
    {
        MutexLock guard(lock_);
        bulk_.total += records.size();
        for (QueuedRecord& item : records) records_.push_back(std::move(item));
    }
    wake_.notify_all();
    wake_signal_.Set();
}

void OutgoingQueue::NoteQueuedOnDisk() {
    {
        MutexLock guard(lock_);
        queued_on_disk_ = true;
    }
    wake_.notify_all();
    wake_signal_.Set();
}

bool OutgoingQueue::HasDue(Clock::time_point now) const {
    return std::any_of(records_.begin(), records_.end(),
                       [now](const QueuedRecord& r) { return r.due <= now; });
}

std::optional<Clock::time_point> OutgoingQueue::NextDue() const {
    const auto earliest = std::min_element(
        records_.begin(), records_.end(),
        [](const QueuedRecord& a, const QueuedRecord& b) { return a.due < b.due; });
    if (earliest == records_.end()) return std::nullopt;
    return earliest->due;
}

std::optional<QueuedRecord> OutgoingQueue::TakeDue(Clock::time_point now) {
    const auto first_due = std::find_if(records_.begin(), records_.end(),
                                        [now](const QueuedRecord& r) { return r.due <= now; });
    if (first_due == records_.end()) return std::nullopt;
    QueuedRecord taken = std::move(*first_due);
    records_.erase(first_due);
    // Whatever held it is over; whoever puts it back says why it rests then.
    taken.held_by_sim = false;
    sending_ = taken;
    return taken;
}

void OutgoingQueue::PutBack(QueuedRecord record) {
    if (sending_ && sending_->id == record.id) sending_.reset();
    records_.push_back(std::move(record));
}

void OutgoingQueue::PutBackHeldBySim(QueuedRecord record, std::uint64_t changes_seen) {
    record.held_by_sim = true;
    if (changes_seen != limit_changes_) Release(record);
    PutBack(std::move(record));
}

std::size_t OutgoingQueue::WakeHeldBySim() {
    std::size_t woken = 0;
    {
        MutexLock guard(lock_);
        ++limit_changes_;
        for (QueuedRecord& item : records_) {
            if (!item.held_by_sim) continue;
            Release(item);
            ++woken;
        }
    }
    wake_.notify_all();
    wake_signal_.Set();
    return woken;
}

void OutgoingQueue::EndSending(std::uint64_t id, bool gone) {
    if (sending_ && sending_->id == id) sending_.reset();
    if (gone) ++bulk_.done;
    if (Count() == 0) bulk_ = {};
}

std::optional<QueuedRecord> OutgoingQueue::Remove(std::uint64_t id) {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [id](const QueuedRecord& r) { return r.id == id; });
    if (found == records_.end()) return std::nullopt;
    QueuedRecord removed = std::move(*found);
    records_.erase(found);
    if (bulk_.total > 0) --bulk_.total;
    if (Count() == 0) bulk_ = {};
    return removed;
}

bool OutgoingQueue::AddErrand(ModemErrand errand) {
    {
        MutexLock guard(lock_);
        if (errands_closed_) return false;
        errands_.push_back(std::move(errand));
    }
    wake_.notify_all();
    wake_signal_.Set();
    return true;
}

std::optional<ModemErrand> OutgoingQueue::TakeErrand() {
    if (errands_.empty()) return std::nullopt;
    ModemErrand first = std::move(errands_.front());
    errands_.pop_front();
    return first;
}

std::deque<ModemErrand> OutgoingQueue::CloseErrands() {
    errands_closed_ = true;
    return std::exchange(errands_, {});
}

void OutgoingQueue::Wake() {
    { MutexLock guard(lock_); }
    wake_.notify_all();
    wake_signal_.Set();
}

}  // namespace velka::app
