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

// Whether `errand` is for the modem with these names; `first`: the first modem,
// which runs the errands that name none.
bool ErrandFor(const ModemErrand& errand, const std::vector<std::string>& names, bool first) {
    return errand.via.empty() ? first : AnswersTo(names, errand.via);
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
        SetWakeSignals();
    }
    wake_.notify_all();
}

void OutgoingQueue::NoteQueuedOnDisk() {
    {
        MutexLock guard(lock_);
        queued_on_disk_ = true;
        SetWakeSignals();
    }
    wake_.notify_all();
}

std::optional<Clock::time_point> OutgoingQueue::DueFor(const QueuedRecord& record,
                                                       std::string_view sim) const {
    if (record.sim.empty()) {
        switch (HoldByRoute(record, sim)) {
            case RouteHold::Kept:
                return std::nullopt;
            case RouteHold::WhileSettling:
                return std::max(record.due, settled_at_);
            case RouteHold::Free:
                break;
        }
    }
    if (sim.empty()) return record.due;
    if (!record.sim.empty() && record.sim != sim) return record.due + pinned_wait_;
    const bool first_failure_elsewhere =
        record.attempts == 1 && !record.failed_on.empty() && record.failed_on != sim;
    return first_failure_elsewhere ? Clock::time_point{} : record.due;
}

OutgoingQueue::RouteHold OutgoingQueue::HoldByRoute(const QueuedRecord& record,
                                                    std::string_view sim) const {
    // A worker that knows no SIM yet may be the one a route wants: it opens its
    // modem to learn, and takes the record only if the route lets it then.
    if (sim.empty()) return RouteHold::Free;
    // A route is a preference until the record failed once: then whichever modem
    // is free tries it, as its own may be the fault.
    const bool preferring = record.attempts == 0;
    std::string_view wanted = record.route.via;
    if (wanted.empty()) {
        if (!preferring || sticky_.empty()) return RouteHold::Free;
        wanted = sticky_.SimFor(record.record.number_text());
        if (wanted.empty() || wanted == sim) return RouteHold::Free;
    } else {
        const auto me = members_.find(std::string(sim));
        if (me != members_.end() && AnswersTo(me->second.names, wanted)) return RouteHold::Free;
        if (record.route.strict) return RouteHold::Kept;
        if (!preferring) return RouteHold::Free;
    }
    if (AvailableFor(wanted)) return RouteHold::Kept;
    const bool unseen = std::none_of(members_.begin(), members_.end(), [wanted](const auto& m) {
        return AnswersTo(m.second.names, wanted);
    });
    return unseen && settled_at_ != Clock::time_point{} ? RouteHold::WhileSettling
                                                        : RouteHold::Free;
}

bool OutgoingQueue::AvailableFor(std::string_view via) const {
    return std::any_of(members_.begin(), members_.end(), [via](const auto& member) {
        return member.second.available && AnswersTo(member.second.names, via);
    });
}

std::optional<std::string> OutgoingQueue::HeldForRoute(const QueuedRecord& record) const {
    if (!record.route.strict || !record.sim.empty() || AvailableFor(record.route.via))
        return std::nullopt;
    return record.route.via;
}

// Loops rather than algorithms: the thread-safety analysis does not carry the
// lock into a lambda.
bool OutgoingQueue::HasDue(Clock::time_point now, std::string_view sim) const {
    for (const QueuedRecord& r : records_) {
        if (const auto due = DueFor(r, sim); due && *due <= now) return true;
    }
    return false;
}

std::optional<Clock::time_point> OutgoingQueue::NextDue(std::string_view sim) const {
    std::optional<Clock::time_point> earliest;
    for (const QueuedRecord& r : records_) {
        const auto due = DueFor(r, sim);
        if (due && (!earliest || *due < *earliest)) earliest = due;
    }
    return earliest;
}

std::optional<QueuedRecord> OutgoingQueue::TakeDue(Clock::time_point now, std::string_view sim) {
    auto first_due = records_.begin();
    for (; first_due != records_.end(); ++first_due) {
        if (const auto due = DueFor(*first_due, sim); due && *due <= now) break;
    }
    if (first_due == records_.end()) return std::nullopt;
    QueuedRecord taken = std::move(*first_due);
    records_.erase(first_due);
    // Whatever held it is over; whoever puts it back says why it rests then.
    taken.held_by_sim = false;
    sending_.push_back(taken);
    return taken;
}

void OutgoingQueue::DropSending(std::uint64_t id) {
    std::erase_if(sending_, [id](const QueuedRecord& r) { return r.id == id; });
}

void OutgoingQueue::UpdateSending(const QueuedRecord& record) {
    for (QueuedRecord& sending : sending_) {
        if (sending.id == record.id) sending = record;
    }
}

void OutgoingQueue::PutBack(QueuedRecord record, bool ahead) {
    DropSending(record.id);
    if (ahead) {
        records_.push_front(std::move(record));
    } else {
        records_.push_back(std::move(record));
    }
    WakeAll();
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
        SetWakeSignals();
    }
    wake_.notify_all();
    return woken;
}

void OutgoingQueue::ExpectMembers(std::size_t count, Clock::time_point until) {
    MutexLock guard(lock_);
    expected_members_ = count;
    settled_at_ = until;
}

void OutgoingQueue::SetMember(const std::string& sim, PoolMember member) {
    MutexLock guard(lock_);
    PoolMember& known = members_[sim];
    if (known == member) return;
    known = std::move(member);
    if (members_.size() >= expected_members_) settled_at_ = {};
    WakeAll();
}

void OutgoingQueue::RemoveMember(const std::string& sim) {
    MutexLock guard(lock_);
    if (members_.erase(sim) > 0) WakeAll();
}

void OutgoingQueue::SetStickyRoutes(StickyRoutes routes) {
    MutexLock guard(lock_);
    sticky_ = std::move(routes);
    WakeAll();
}

void OutgoingQueue::NoteSticky(std::string_view number, std::string_view datetime,
                               std::string_view sim) {
    MutexLock guard(lock_);
    sticky_.Note(number, datetime, sim);
}

void OutgoingQueue::EndSending(std::uint64_t id, bool gone) {
    DropSending(id);
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
        SetWakeSignals();
    }
    wake_.notify_all();
    return true;
}

bool OutgoingQueue::HasErrandFor(const std::vector<std::string>& names, bool first) const {
    for (const ModemErrand& errand : errands_) {
        if (ErrandFor(errand, names, first)) return true;
    }
    return false;
}

std::optional<ModemErrand> OutgoingQueue::TakeErrand(const std::vector<std::string>& names,
                                                     bool first) {
    for (auto it = errands_.begin(); it != errands_.end(); ++it) {
        if (!ErrandFor(*it, names, first)) continue;
        ModemErrand taken = std::move(*it);
        errands_.erase(it);
        return taken;
    }
    return std::nullopt;
}

std::deque<ModemErrand> OutgoingQueue::CloseErrands() {
    errands_closed_ = true;
    return std::exchange(errands_, {});
}

void OutgoingQueue::Wake() {
    {
        MutexLock guard(lock_);
        SetWakeSignals();
    }
    wake_.notify_all();
}

void OutgoingQueue::AddWakeSignal(StopSignal& signal) {
    MutexLock guard(lock_);
    wake_signals_.push_back(&signal);
}

void OutgoingQueue::RemoveWakeSignal(StopSignal& signal) {
    MutexLock guard(lock_);
    std::erase(wake_signals_, &signal);
}

void OutgoingQueue::WakeAll() {
    SetWakeSignals();
    wake_.notify_all();
}

// The queue lock comes above a signal's own lock and the port waits it wakes.
void OutgoingQueue::SetWakeSignals() {
    for (StopSignal* signal : wake_signals_) signal->Set();
}

}  // namespace velka::app
