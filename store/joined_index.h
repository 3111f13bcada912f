// The joining index beside a store file ("inbox.db" -> "inbox.joined"): how the
// parts of its first records were joined into messages, so that a box of a
// million parts opens without reading every part's record again. It is derived
// data: any reader may write it, a stale or damaged one is noticed and rebuilt,
// and deleting it loses nothing. Format: docs/joined-index-file.md.
//
// An index speaks of the store file and the parts file it was made from (their
// file identities, which a rewrite changes, and the checksums of the first and
// last records it covers); records appended since are joined on top of it. Pure
// but for the loading and saving, which block on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace velka::store {

// A message as joined: its slots, one per part (a message on its own has one).
struct JoinedRow {
    std::uint32_t first_slot = 0;
    std::uint16_t slot_count = 1;
    bool operator==(const JoinedRow&) const = default;
};

// What joining the first `records` records of a box made.
struct JoinState {
    std::uint32_t records = 0;
    std::vector<JoinedRow> rows;
    // By row: the hash of what makes parts one message (JoinedGroupKey); 0 for a
    // message on its own. The joining of later records finds open messages by it.
    std::vector<std::uint64_t> keys;
    std::vector<std::uint32_t> places;  // the record in each part's place, or kMissingPart
    bool operator==(const JoinState&) const = default;
};

inline constexpr std::uint32_t kMissingPart = UINT32_MAX;

// The files an index was made from, as they were.
struct JoinSources {
    std::uint64_t box_identity = 0;    // the store file's inode (file index on Windows)
    std::uint64_t parts_identity = 0;  // the parts file's; 0 when there was none
    std::uint32_t parts_entries = 0;   // the parts file's entries covered
    std::uint32_t first_checksum = 0;  // the checksum field of record 0
    std::uint32_t last_checksum = 0;   // and of the last record covered
    bool operator==(const JoinSources&) const = default;
};

// "inbox.db" -> "inbox.joined".
std::string JoinedIndexPathFor(const std::string& box_path);

// The index at `path`, or nothing when it is missing, damaged or of another version.
std::optional<std::pair<JoinSources, JoinState>> LoadJoinedIndex(const std::string& path);
// Replaces the index at `path` whole.
Status SaveJoinedIndex(const std::string& path, const JoinSources& sources, const JoinState& state);

}  // namespace velka::store
