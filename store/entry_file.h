// What the side files share: the reading of those whose fixed-size entries carry
// a CRC of their own (outbox.states, inbox.ids): every entry whose CRC is right, in
// file order, and how many were not; and the renumbering of a side file's entries
// after a removal (outbox.states, inbox.content, inbox.sims). Blocks on the disk; any thread.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/result.h"

namespace velka::store {

template <typename Entry>
struct EntryReading {
    std::vector<Entry> entries;  // the entries whose CRC is right, in file order
    std::size_t damaged = 0;     // entries whose CRC is wrong; a torn tail counts too
};

// The entries in `bytes`, each `entry_size` bytes, read by
// `decode(const char* bytes, Entry& entry)`, which is false for a wrong CRC.
template <typename Entry, typename Decode>
EntryReading<Entry> DecodeEntries(std::string_view bytes, std::size_t entry_size, Decode decode) {
    EntryReading<Entry> reading;
    reading.entries.reserve(bytes.size() / entry_size);
    std::size_t at = 0;
    for (; at + entry_size <= bytes.size(); at += entry_size) {
        Entry entry;
        if (decode(bytes.data() + at, entry)) {
            reading.entries.push_back(std::move(entry));
        } else {
            ++reading.damaged;
        }
    }
    if (at < bytes.size()) ++reading.damaged;
    return reading;
}

// The entries of the file at `path`, as DecodeEntries reads them. A missing file
// has none and is no damage.
template <typename Entry, typename Decode>
Result<EntryReading<Entry>> LoadEntries(const std::string& path, std::size_t entry_size,
                                        Decode decode) {
    auto bytes = files::ReadAll(path);
    if (!bytes) {
        if (bytes.error().system_code == ENOENT) return EntryReading<Entry>{};
        return bytes.error();
    }
    return DecodeEntries<Entry>(*bytes, entry_size, decode);
}

// The encoded `entries` as they stand after records were removed from their store
// file: `moved_to[i]` is the new position of record i, SIZE_MAX for a removed one.
// The entries of removed records go; the others name their records' new
// positions. `encode` writes one entry.
template <typename Entry, typename Encode>
std::string RenumberedEntries(std::vector<Entry> entries, const std::vector<std::size_t>& moved_to,
                              Encode encode) {
    std::string kept;
    for (auto& entry : entries) {
        if (entry.record >= moved_to.size() || moved_to[entry.record] == SIZE_MAX) continue;
        entry.record = static_cast<std::uint32_t>(moved_to[entry.record]);
        kept += encode(entry);
    }
    return kept;
}

// Rewrites the side file at `path` after records were removed from its store file,
// as RenumberedEntries says. `load(path)` reads the file (a Result of a reading
// with `entries`). No file, nothing to do.
template <typename Load, typename Encode>
Status RenumberEntries(const std::string& path, const std::vector<std::size_t>& moved_to, Load load,
                       Encode encode) {
    if (!files::Exists(path)) return {};
    auto reading = load(path);
    if (!reading) return reading.error();
    return files::SaveDurably(path,
                              RenumberedEntries(std::move(reading->entries), moved_to, encode));
}

}  // namespace velka::store
