// The reading shared by the side files whose fixed-size entries carry a CRC of
// their own (outbox.states, inbox.ids): every entry whose CRC is right, in file
// order, and how many were not. Blocks on the disk; any thread.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
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

// The entries of the file at `path`, each `entry_size` bytes, read by
// `decode(const char* bytes, Entry& entry)`, which is false for a wrong CRC. A
// missing file has none and is no damage.
template <typename Entry, typename Decode>
Result<EntryReading<Entry>> LoadEntries(const std::string& path, std::size_t entry_size,
                                        Decode decode) {
    auto bytes = files::ReadAll(path);
    if (!bytes) {
        if (bytes.error().system_code == ENOENT) return EntryReading<Entry>{};
        return bytes.error();
    }
    EntryReading<Entry> reading;
    reading.entries.reserve(bytes->size() / entry_size);
    std::size_t at = 0;
    for (; at + entry_size <= bytes->size(); at += entry_size) {
        Entry entry;
        if (decode(bytes->data() + at, entry)) {
            reading.entries.push_back(std::move(entry));
        } else {
            ++reading.damaged;
        }
    }
    if (at < bytes->size()) ++reading.damaged;
    return reading;
}

}  // namespace velka::store
