// The parts file beside a store file ("inbox.db" -> "inbox.parts"): for each record
// that is one part of a long message, the concatenation facts its 1076-byte record
// has no room for. The format is described in docs/parts-file.md.
//
// A parts file is only ever appended to, together with its store file and after
// it, under the same lock (the outgoing-queue lock). A record without an entry is a
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
// the disk before this returns. REQUIRES: facts.size() == records.size(); the
// caller holds the lock of the store file. A failure of either write is the
// result: the caller must not take the records as kept (a record whose entry was
// not written would show as a loose part), and may write them again later.
Status AppendReceived(const std::string& box_path, std::span<const packet> records,
                      std::span<const std::optional<PartFacts>> facts);

// Removes records from the store file and their entries from its parts file and
// its sent file (store/sent_file.h), renumbering the entries of the records that
// stay. Each file is replaced whole
// through the durable save (a crash leaves its old contents or its new, never a
// mix); the store file goes first. Should a crash fall between the two, the
// entries of records after the first removed one name the wrong records, and
// their checksums make the view disbelieve them. `records` are positions from 0,
// in any order; positions beyond the file are ignored. REQUIRES: the caller holds
// the lock of the store file for the whole call.
Status RemoveRecords(const std::string& box_path, std::vector<std::size_t> records);

// The encoded form of one entry, and back. REQUIRES: `bytes` holds kPartEntrySize.
std::string EncodePartEntry(const PartEntry& entry);
PartEntry DecodePartEntry(const char* bytes);

}  // namespace velka::store
