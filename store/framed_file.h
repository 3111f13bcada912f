// What queue.db and events.db share: files of framed entries, each a 12-byte
// header (two magic bytes, a kind, a zero, the payload's length, a CRC-32 of the
// header's first 8 bytes and the payload) and its payload, only ever appended. The
// reading steps over bytes where no whole, checked entry starts, one at a time, so
// that a torn tail or one damaged entry costs that entry alone; those bytes are
// kept aside in a file beside, named after the moment. The formats of the two
// files: docs/queue-format.md, docs/events-file.md. Pure but for KeepAside, which
// blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "store/little_endian.h"

namespace velka::store {

// One file's framing: its magic and which payloads each kind may have.
struct FramedFormat {
    char magic[2];
    // Whether `payload` (its length checked against the bytes at hand, its CRC
    // not yet) is one the kind may carry; false for an unknown kind.
    bool (*valid)(std::uint8_t kind, std::string_view payload);
};

inline constexpr std::size_t kFramedHeaderSize = 12;

struct FramedEntry {
    std::uint8_t kind;
    std::string_view payload;  // into the bytes read
};

// Appends one entry, header and payload, to `out`.
void AppendFramedEntry(std::string& out, const FramedFormat& format, std::uint8_t kind,
                       std::string_view payload);

// Calls `on_entry` for every whole entry of `bytes` with a right checksum, in
// order, and returns the bytes no such entry covers, in order.
std::string ReadFramedEntries(const FramedFormat& format, std::string_view bytes,
                              const std::function<void(const FramedEntry&)>& on_entry);

// Where unreadable bytes of one reading went.
struct KeptAside {
    std::string kept_in;      // the file that now holds them
    std::uint64_t bytes = 0;  // how many
};

// Appends `unreadable`, flushed, to "<path>.damaged-YYYYMMDD-HHMMSS" (local time)
// beside the file: nothing to keep, no file and no answer. Blocks on the disk.
Result<std::optional<KeptAside>> KeepAside(const std::string& path, std::string_view unreadable);

}  // namespace velka::store
