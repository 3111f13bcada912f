#include "webhooks/event_journal.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/crc32.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/fnv.h"

namespace velka::webhooks {
namespace {

// ---- The entry layout (docs/events-file.md) ----

constexpr char kMagic[2] = {'V', 'E'};
constexpr std::size_t kHeaderSize = 12;  // magic, kind, zero, length, checksum

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

bool LengthFits(Kind kind, std::uint64_t length) {
    switch (kind) {
        case Kind::Recorded:
            return length > 8 + 8 + 1 && length <= 8 + 8 + 1 + kNameMax + EventJournal::kMaxBody;
        case Kind::Done:
            return length == kDoneSize;
        case Kind::Seen:
            return length == kSeenSize;
    }
    return false;
}

void Put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t Get(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

std::string EntryOf(Kind kind, std::string_view payload) {
    std::string entry(kMagic, 2);
    entry += static_cast<char>(kind);
    entry += '\0';
    Put(entry, payload.size(), 4);
    const std::uint32_t crc = Crc32(entry + std::string(payload));
    Put(entry, crc, 4);
    return entry + std::string(payload);
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

struct Entry {
    Kind kind;
    std::string_view payload;
};

// The entry at `at`, when a whole one with a right checksum starts there.
std::optional<Entry> EntryAt(std::string_view bytes, std::size_t at) {
    if (bytes.size() - at < kHeaderSize) return std::nullopt;
    if (bytes[at] != kMagic[0] || bytes[at + 1] != kMagic[1] || bytes[at + 3] != '\0')
        return std::nullopt;
    const auto kind = static_cast<Kind>(bytes[at + 2]);
    const std::uint64_t length = Get(bytes, at + 4, 4);
    if (!LengthFits(kind, length) || bytes.size() - at - kHeaderSize < length) return std::nullopt;
    const std::string_view payload = bytes.substr(at + kHeaderSize, length);
    if (Crc32(std::string(bytes.substr(at, 8)) + std::string(payload)) != Get(bytes, at + 8, 4))
        return std::nullopt;
    if (kind == Kind::Recorded) {
        const std::size_t name_size = Get(payload, 16, 1);
        if (name_size == 0 || name_size > kNameMax || 17 + name_size >= payload.size())
            return std::nullopt;
    }
    return Entry{kind, payload};
}

Event EventOf(std::string_view payload) {
    const std::size_t name_size = Get(payload, 16, 1);
    return {Get(payload, 0, 8), static_cast<std::int64_t>(Get(payload, 8, 8)),
            std::string(payload.substr(17, name_size)),
            std::string(payload.substr(17 + name_size))};
}

std::string DamagedName(const std::string& path) {
    const DateTime now = NowLocal();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    return path + ".damaged-" + stamp;
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
    std::string unreadable;
    for (std::size_t at = 0; at < all.size();) {
        const auto entry = EntryAt(all, at);
        if (!entry) {
            unreadable += all[at++];
            continue;
        }
        at += kHeaderSize + entry->payload.size();
        const std::uint64_t id = Get(entry->payload, 0, 8);
        if (entry->kind == Kind::Recorded) {
            if (index_.contains(id) || seen_.contains(id)) continue;
            index_[id] = events_.size();
            events_.push_back({EventOf(entry->payload), {}});
        } else if (entry->kind == Kind::Seen) {
            seen_[id] = static_cast<std::int64_t>(Get(entry->payload, 8, 8));
        } else if (const auto found = index_.find(id); found != index_.end()) {
            events_[found->second].done[Get(entry->payload, 8, 8)] =
                static_cast<HookOutcome>(Get(entry->payload, 16, 1));
        }
    }

    std::vector<JournalDamage> damage;
    if (!unreadable.empty()) {
        const std::string aside = DamagedName(path_);
        if (Status kept = files::AppendDurably(aside, unreadable); !kept) return kept.error();
        damage.push_back({aside, unreadable.size()});
    }

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
