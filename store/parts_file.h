// The parts file beside a store file ("inbox.db" -> "inbox.parts"): for each record
// that is one part of a long message, the concatenation facts its 1076-byte record
// has no room for. The format is described in docs/parts-file.md.
//
// A parts file is appended to together with its store file and after it, and
// rewritten only as records are removed, always under the box lock. A record without an entry is a
// message of its own; an entry whose record does not carry the checksum it names
// (a store file replaced or damaged from outside) is not believed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"
#include "store/box_lock.h"
#include "store/packet.h"

namespace velka::store {

// Where one record stands in a long message: the sender's reference (8 or 16 bits
// wide, as its header carried it), the number of parts and its own number, from 1.
struct PartFacts {
    std::uint16_t reference = 0;
    std::uint8_t reference_bits = 8;
    std::uint8_t total = 0;
    std::uint8_t number = 0;
    bool operator==(const PartFacts&) const = default;
};

// One entry: the record it speaks of (its position in the store file, from 0), that
// record's text checksum, and its facts.
struct PartEntry {
    std::uint32_t record = 0;
    std::uint32_t checksum = 0;
    PartFacts facts;
    bool operator==(const PartEntry&) const = default;
};

inline constexpr std::size_t kPartEntrySize = 16;

// "inbox.db" -> "inbox.parts": the store file's name with its extension replaced.
std::string PartsPathFor(const std::string& box_path);

// Every entry of a parts file, in file order. A missing file has none; a trailing
// piece shorter than an entry is not an entry.
Result<std::vector<PartEntry>> LoadParts(const std::string& parts_path);

// Appends received records to the store file and, for those that are parts of a
// long message (`facts[i]` set), their entries to its parts file, each flushed to
// the disk before this returns. REQUIRES: facts.size() == records.size(). A failure of either write
// is the result: the caller must not take the records as kept (a record whose entry was not written
// would show as a loose part), and may write them again later.
Status AppendReceived(const BoxLock& held, const std::string& box_path,
                      std::span<const packet> records,
                      std::span<const std::optional<PartFacts>> facts);

// A record to remove: where the view that showed it found it, and what it was.
struct RecordToRemove {
    std::size_t position = 0;
    packet record;
};

// Removes records from the store file and their entries from its identities file
// (store/identity_file.h; the removed ones stay there as the user's deletions),
// its sent file (store/sent_file.h), its content file (store/content_file.h),
// its SIM notes (store/sim_note_file.h, set aside before the store file is saved)
// and its parts file, renumbering the entries of the records that stay. The records are found again
// in the file as it is now, by their bytes, at their position or, when appends and other removals
// moved them, at the nearest place that holds the same bytes; one that is no
// longer there was removed already and is passed over. Each file is replaced
// whole through the durable save (a crash leaves its old contents or its new,
// never a mix); the identities go first, then the store file. Should a crash fall
// between them, entries of records after the first removed one name the wrong
// records, and their checksums make every reader disbelieve them.
Status RemoveRecords(const BoxLock& held, const std::string& box_path,
                     std::span<const RecordToRemove> records);

// The encoded form of one entry, and back. REQUIRES: `bytes` holds kPartEntrySize.
std::string EncodePartEntry(const PartEntry& entry);
PartEntry DecodePartEntry(const char* bytes);

}  // namespace velka::store
