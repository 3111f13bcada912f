// The queue-id file beside a store file ("outbox.db" -> "outbox.queue-ids",
// "unsent.db" -> "unsent.queue-ids"): which record of the store file each record
// of the outgoing queue became, so that a program that queued a record (the HTTP
// API, any process that queued it) finds it again by its queue id after the
// queue has dropped it and after a restart. Format: docs/queue-id-file.md.
//
// Written by the worker under the box lock, flushed before the records it names
// are appended to the store file; rewritten only as records are removed
// (RemoveRecords), under the same lock. Every entry carries a CRC and the
// checksum of its record: an entry that is damaged, or that names a record which
// no longer carries that checksum, is not believed, and the record is simply not
// found by its id. Blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"
#include "store/box_lock.h"
#include "store/entry_file.h"
#include "store/packet.h"

namespace velka::store {

struct QueueIdEntry {
    std::uint32_t record = 0;    // position in the store file, from 0
    std::uint32_t checksum = 0;  // that record's checksum field
    std::uint64_t queue_id = 0;  // the record's id in queue.db
    bool operator==(const QueueIdEntry&) const = default;
};

inline constexpr std::size_t kQueueIdEntrySize = 24;

// "outbox.db" -> "outbox.queue-ids".
std::string QueueIdPathFor(const std::string& box_path);

using QueueIdReading = EntryReading<QueueIdEntry>;

// Every entry of a queue-id file. A missing file has none and is no damage.
Result<QueueIdReading> LoadQueueIds(const std::string& ids_path);

// Appends, flushed, the entries of records about to be appended to the store file
// at `box_path`: ids[i] is the queue id of records[i], which will stand at the
// store file's present record count + i. A kill before the records' append leaves
// entries no record carries yet; the records appended at the next start get
// entries of their own. REQUIRES: ids.size() == records.size().
Status AppendQueueIds(const BoxLock& held, const std::string& box_path,
                      std::span<const std::uint64_t> ids, std::span<const packet> records);

// Where the record queued as `queue_id` stands in the store file whose records'
// checksums `checksum_at(position)` gives (nullopt past its end): the latest entry
// for the id whose record still carries its checksum. Nothing when none does.
template <typename ChecksumAt>
std::optional<std::size_t> FindQueueId(const std::vector<QueueIdEntry>& entries,
                                       std::uint64_t queue_id, ChecksumAt checksum_at) {
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->queue_id != queue_id) continue;
        if (checksum_at(entry->record) == std::optional<std::uint32_t>(entry->checksum))
            return entry->record;
    }
    return std::nullopt;
}

// Rewrites the file after records were removed from its store file:
// `moved_to[i]` is record i's new position, or SIZE_MAX for a removed record.
Status RenumberQueueIds(const BoxLock& held, const std::string& box_path,
                        const std::vector<std::size_t>& moved_to);

// The encoded form of one entry, and back. REQUIRES: `bytes` holds
// kQueueIdEntrySize. Decoding is false when the entry's CRC is wrong.
std::string EncodeQueueIdEntry(const QueueIdEntry& entry);
bool DecodeQueueIdEntry(const char* bytes, QueueIdEntry& entry);

}  // namespace velka::store
