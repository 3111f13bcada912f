#include "webhooks/event_journal.h"

#include <cerrno>
#include <chrono>
#include <string_view>

#include "platform/files.h"
#include "platform/fnv.h"

namespace velka::webhooks {
namespace {

// ---- The entry layout (docs/events-file.md) ----

enum class Kind : std::uint8_t {
    Recorded = 1,  // an event: id, time, name, body
    Done = 2,      // a hook is done with an event: id, hook, outcome
    Seen = 3,      // an event dropped by a rewrite: id, time
};

constexpr std::size_t kNameMax = 32;
constexpr std::size_t kDoneSize = 8 + 8 + 1;
constexpr std::size_t kSeenSize = 8 + 8;
// The ids of dropped events are kept this long: a message the modem lists again
// after a failed delete comes back within minutes, never a week later.
constexpr std::int64_t kSeenKeptMs = 7LL * 24 * 60 * 60 * 1000;

constexpr auto Put = store::AppendLittleEndian;
constexpr auto Get = store::ReadLittleEndian;

// A Recorded entry names its event with 1 to 32 bytes and has a body after them.
bool RecordedFits(std::string_view payload) {
    if (payload.size() <= 8 + 8 + 1 ||
        payload.size() > 8 + 8 + 1 + kNameMax + EventJournal::kMaxBody)
        return false;
    const std::size_t name_size = Get(payload, 16, 1);
    return name_size != 0 && name_size <= kNameMax && 17 + name_size < payload.size();
}

bool PayloadFits(std::uint8_t kind, std::string_view payload) {
    switch (static_cast<Kind>(kind)) {
        case Kind::Recorded:
            return RecordedFits(payload);
        case Kind::Done:
            return payload.size() == kDoneSize;
        case Kind::Seen:
            return payload.size() == kSeenSize;
    }
    return false;
}

constexpr store::FramedFormat kFormat{{'V', 'E'}, PayloadFits};

std::string EntryOf(Kind kind, std::string_view payload) {
    std::string entry;
    store::AppendFramedEntry(entry, kFormat, static_cast<std::uint8_t>(kind), payload);
    return entry;
}

std::string RecordedEntry(const Event& event) {
    std::string payload;
    Put(payload, event.id, 8);
    Put(payload, static_cast<std::uint64_t>(event.time_ms), 8);
    Put(payload, event.name.size(), 1);
    payload += event.name + event.body;
    return EntryOf(Kind::Recorded, payload);
}

std::string DoneEntry(std::uint64_t id, std::uint64_t hook, HookOutcome outcome) {
    std::string payload;
    Put(payload, id, 8);
    Put(payload, hook, 8);
    Put(payload, static_cast<std::uint8_t>(outcome), 1);
    return EntryOf(Kind::Done, payload);
}

std::string SeenEntry(std::uint64_t id, std::int64_t time_ms) {
    std::string payload;
    Put(payload, id, 8);
    Put(payload, static_cast<std::uint64_t>(time_ms), 8);
    return EntryOf(Kind::Seen, payload);
}

// ---- Reading ----

Event EventOf(std::string_view payload) {
    const std::size_t name_size = Get(payload, 16, 1);
    return {Get(payload, 0, 8), static_cast<std::int64_t>(Get(payload, 8, 8)),
            std::string(payload.substr(17, name_size)),
            std::string(payload.substr(17 + name_size))};
}

}  // namespace

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t HookKey(const std::string& url) {
    return Fnv1a(url);
}

EventJournal::EventJournal(std::string path) : path_(std::move(path)) {}

Result<std::vector<JournalDamage>> EventJournal::Open(
    const std::function<bool(const StoredEvent&)>& settled) {
    auto bytes = files::ReadAll(path_);
    if (!bytes && bytes.error().system_code != ENOENT) return bytes.error();
    const std::string_view all = bytes ? std::string_view(*bytes) : std::string_view();

    MutexLock guard(lock_);
    std::vector<store::FramedEntry> entries;
    const std::string unreadable = store::ReadFramedEntries(
        kFormat, all, [&entries](const store::FramedEntry& entry) { entries.push_back(entry); });
    for (const store::FramedEntry& entry : entries) ApplyEntry(entry);
    const auto aside = store::KeepAside(path_, unreadable);
    if (!aside) return aside.error();
    std::vector<JournalDamage> damage;
    if (*aside) damage.push_back(**aside);

    // The rewrite: what some hook still wants, whole; the rest as ids alone.
    const std::int64_t now = NowMs();
    std::vector<StoredEvent> live;
    std::string kept;
    for (StoredEvent& stored : events_) {
        if (settled(stored)) {
            seen_[stored.event.id] = stored.event.time_ms;
            continue;
        }
        kept += RecordedEntry(stored.event);
        for (const auto& [hook, outcome] : stored.done)
            kept += DoneEntry(stored.event.id, hook, outcome);
        live.push_back(std::move(stored));
    }
    for (auto seen = seen_.begin(); seen != seen_.end();) {
        if (now - seen->second > kSeenKeptMs) {
            seen = seen_.erase(seen);
        } else {
            kept += SeenEntry(seen->first, seen->second);
            ++seen;
        }
    }
    events_ = std::move(live);
    index_.clear();
    for (std::size_t i = 0; i < events_.size(); ++i) index_[events_[i].event.id] = i;
    if (bytes || !kept.empty()) {
        if (Status saved = files::SaveDurably(path_, kept); !saved) return saved.error();
    }
    return damage;
}

void EventJournal::ApplyEntry(const store::FramedEntry& entry) {
    const std::uint64_t id = Get(entry.payload, 0, 8);
    switch (static_cast<Kind>(entry.kind)) {
        case Kind::Recorded:
            if (index_.contains(id) || seen_.contains(id)) return;
            index_[id] = events_.size();
            events_.push_back({EventOf(entry.payload), {}});
            return;
        case Kind::Seen:
            seen_[id] = static_cast<std::int64_t>(Get(entry.payload, 8, 8));
            return;
        case Kind::Done:
            if (const auto found = index_.find(id); found != index_.end())
                events_[found->second].done[Get(entry.payload, 8, 8)] =
                    static_cast<HookOutcome>(Get(entry.payload, 16, 1));
            return;
    }
}

Status EventJournal::Append(const std::vector<Event>& events) {
    MutexLock guard(lock_);
    std::string entries;
    std::vector<const Event*> fresh;
    std::unordered_set<std::uint64_t> in_this_write;
    for (const Event& event : events) {
        if (index_.contains(event.id) || seen_.contains(event.id)) continue;
        if (!in_this_write.insert(event.id).second) continue;
        if (event.name.empty() || event.name.size() > kNameMax || event.body.empty() ||
            event.body.size() > kMaxBody)
            return Error{"The event \"" + event.name + "\" cannot be kept: its body is " +
                         std::to_string(event.body.size()) + " bytes."};
        entries += RecordedEntry(event);
        fresh.push_back(&event);
    }
    if (fresh.empty()) return {};
    if (Status written = files::AppendDurably(path_, entries); !written) return written;
    for (const Event* event : fresh) {
        index_[event->id] = events_.size();
        events_.push_back({*event, {}});
    }
    appended_ += fresh.size();
    return {};
}

Status EventJournal::Mark(std::uint64_t id, std::uint64_t hook, HookOutcome outcome) {
    MutexLock guard(lock_);
    const auto found = index_.find(id);
    if (found == index_.end()) return Error{"No event " + std::to_string(id) + " is kept."};
    if (Status written = files::AppendDurably(path_, DoneEntry(id, hook, outcome)); !written)
        return written;
    events_[found->second].done[hook] = outcome;
    return {};
}

std::vector<Event> EventJournal::Pending(std::uint64_t hook) const {
    MutexLock guard(lock_);
    std::vector<Event> pending;
    for (const StoredEvent& stored : events_)
        if (!stored.done.contains(hook)) pending.push_back(stored.event);
    return pending;
}

std::vector<StoredEvent> EventJournal::Events() const {
    MutexLock guard(lock_);
    return events_;
}

std::uint64_t EventJournal::appended() const {
    MutexLock guard(lock_);
    return appended_;
}

}  // namespace velka::webhooks
