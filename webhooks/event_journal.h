// The event journal events.db: what happened that other programs are told of by
// webhooks (a message received, sent, delivered or failed, the modem's state), kept
// on disk before the message it reports leaves the modem or is recorded as sent,
// so that a kill loses no event. Like queue.db it is only appended to, each entry
// flushed before it counts and carrying its own checksum; damage is kept aside and
// passed over; it is rewritten whole (a new file renamed over the old) only at
// Open, to drop what every hook is done with. The format: docs/events-file.md.
//
// Who writes: only the process that drives the modem (it holds worker.lock), so no
// file lock is taken. In it, the worker appends events and the delivery thread
// appends the hooks' marks; the journal's own lock serialises the two.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/mutex.h"
#include "platform/result.h"
#include "store/framed_file.h"

namespace velka::webhooks {

// One event as the journal keeps it.
struct Event {
    // Given by whoever reports it, the same each time the same fact is reported
    // again (after a kill, a message the modem lists a second time), so that the
    // journal keeps it once.
    std::uint64_t id = 0;
    std::int64_t time_ms = 0;  // when it was recorded, milliseconds since 1970 UTC
    std::string name;          // "sms:received", "sms:sent", ...
    std::string body;          // the JSON sent to the hooks, UTF-8
    bool operator==(const Event&) const = default;
};

// What became of an event for one hook.
enum class HookOutcome : std::uint8_t {
    Acknowledged = 1,  // the hook answered 2xx
    GivenUp = 2,       // retried for a day without success
};

struct StoredEvent {
    Event event;
    // The hooks (HookKey) done with it, and how.
    std::unordered_map<std::uint64_t, HookOutcome> done;
};

// Milliseconds since 1970 UTC now: the events' time. Any thread.
std::int64_t NowMs();

// A hook is known in the journal by its URL, so that reordering or renaming the
// hooks in Config.ini leaves each one's progress with it.
std::uint64_t HookKey(const std::string& url);

// What a reading could not make sense of, kept aside.
using JournalDamage = store::KeptAside;

class EventJournal {
  public:
    // The journal's body is JSON of a message: a few KiB at most. A longer length
    // in a header is damage.
    static constexpr std::size_t kMaxBody = 64 * 1024;

    // `path`: events.db in the program directory. Touches no file yet.
    explicit EventJournal(std::string path);

    // Before any other call, on the owner's thread: reads the file, keeps unreadable
    // bytes aside, and rewrites it without the events `settled` says every hook is
    // done with (their ids stay known for a week, so that the same fact reported
    // again is not told twice). A missing file is an empty journal. Blocks on the disk.
    Result<std::vector<JournalDamage>> Open(const std::function<bool(const StoredEvent&)>& settled)
        EXCLUDES(lock_);

    // Appends the events whose ids it does not know yet, in one write, flushed
    // before it returns: on success they survive a kill. Any thread.
    Status Append(const std::vector<Event>& events) EXCLUDES(lock_);

    // Notes, flushed, that `hook` is done with event `id`. Any thread.
    Status Mark(std::uint64_t id, std::uint64_t hook, HookOutcome outcome) EXCLUDES(lock_);

    // The events `hook` is not done with, oldest first. Any thread.
    std::vector<Event> Pending(std::uint64_t hook) const EXCLUDES(lock_);
    // Every event kept, with what each hook made of it. Any thread.
    std::vector<StoredEvent> Events() const EXCLUDES(lock_);
    // How many events were appended since the journal was opened: a cheap way to
    // see whether anything is new. Any thread.
    std::uint64_t appended() const EXCLUDES(lock_);

  private:
    // Folds one entry read by Open into the events kept.
    void ApplyEntry(const store::FramedEntry& entry) REQUIRES(lock_);

    const std::string path_;
    mutable Mutex lock_;
    std::vector<StoredEvent> events_ GUARDED_BY(lock_);  // in the order appended
    std::unordered_map<std::uint64_t, std::size_t> index_ GUARDED_BY(lock_);
    // Ids of events dropped by a rewrite, with when they happened.
    std::unordered_map<std::uint64_t, std::int64_t> seen_ GUARDED_BY(lock_);
    std::uint64_t appended_ GUARDED_BY(lock_) = 0;
};

}  // namespace velka::webhooks
