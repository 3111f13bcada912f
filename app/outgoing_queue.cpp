#include "app/outgoing_queue.h"

#include <algorithm>

namespace velka::app {
namespace {

constexpr auto kFirstPause = std::chrono::seconds(2);
constexpr auto kLongestPause = std::chrono::minutes(5);

}  // namespace

Clock::duration RetryPause(int attempts) {
    Clock::duration pause = kFirstPause;
    for (int i = 1; i < attempts && pause < kLongestPause; ++i) pause *= 2;
    return std::min<Clock::duration>(pause, kLongestPause);
}

void OutgoingQueue::Add(std::vector<QueuedRecord> records) {
    {
        MutexLock guard(lock_);
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
    return taken;
}

void OutgoingQueue::PutBack(QueuedRecord record) {
    records_.push_back(std::move(record));
}

void OutgoingQueue::Wake() {
    { MutexLock guard(lock_); }
    wake_.notify_all();
    wake_signal_.Set();
}

}  // namespace velka::app
