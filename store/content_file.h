// The content file beside a store file ("inbox.db" -> "inbox.content"): for each
// received record whose 1076 bytes cannot carry the whole message, what they miss:
// the text whole where Windows-1251 lacks some of its characters (the record holds
// "?" there), the payload of a binary message, and the protocol identifier, coding
// scheme and user data header the message came with, which say whether it is a
// flash message, replaces an earlier one or sets a message-waiting indication.
// Format: docs/content-file.md.
//
// Entries differ in length, so each starts with a mark and carries its own length
// and CRC: a reader passes over a damaged or torn entry and finds the next one by
// its mark. The file is appended to together with its store file and after it,
// and rewritten only as records are removed, always under the box lock. An entry
// whose record no longer carries the checksum it names is not believed, and the
// record shows as its bytes say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/result.h"
#include "store/box_lock.h"
#include "store/entry_file.h"
#include "store/packet.h"
#include "store/parts_file.h"

namespace velka::store {

// What a record's text stands for.
enum class ContentBody : std::uint8_t {
    AsRecorded = 0,  // the record's text is the whole text
    WholeText = 1,   // `text` holds the whole text
    Data = 2,        // `data` holds an 8-bit message's payload
};

struct RecordContent {
    std::uint8_t protocol_id = 0;    // TP-PID as it came
    std::uint8_t coding_scheme = 0;  // TP-DCS as it came
    std::string header;  // the user data header's octets, its length octet first; empty without one
    ContentBody body = ContentBody::AsRecorded;
    std::u16string text;  // with WholeText: the part's text whole, line breaks as CR LF
    std::string data;     // with Data: the payload's bytes
    bool operator==(const RecordContent&) const = default;
};

// The protocol identifiers "Replace Short Message Type 1" to "7": a message with one
// of them takes the place of the earlier one from the same sender with the same one.
bool ReplacesEarlier(std::uint8_t protocol_id);

struct ContentEntry {
    std::uint32_t record = 0;    // position in the store file, from 0
    std::uint32_t checksum = 0;  // that record's checksum field
    RecordContent content;
    bool operator==(const ContentEntry&) const = default;
};

// A received record as the reception kept it, with what its side files say of it.
struct ReceivedRecord {
    packet record;
    std::optional<PartFacts> part;         // where it stands in a long message
    std::optional<RecordContent> content;  // what its record cannot say
};

// The text of a record as the sender wrote it: the content's whole text where the
// record lost characters, else the record's own text.
std::u16string WholeTextOf(const packet& record, const RecordContent* content);

// The entries of a content file, looked up by record.
class ContentIndex {
  public:
    ContentIndex() = default;
    explicit ContentIndex(std::vector<ContentEntry> entries);
    // What the entries say of the record at `position` that carries `checksum`: the
    // last entry written for it (a message kept again after a crash wrote its entry
    // again); nothing when no entry names that record with that checksum.
    const RecordContent* Find(std::size_t position, std::uint32_t checksum) const;
    bool empty() const { return entries_.empty(); }
    // The records an entry gives a protocol identifier that replaces an earlier
    // message (ReplacesEarlier), so that a box looks at those alone.
    std::unordered_set<std::uint32_t> ReplacingRecords() const;

  private:
    std::vector<ContentEntry> entries_;  // by record
};

// The index of the content file beside the store file at `box_path`. Damaged
// stretches cost only what they held.
Result<ContentIndex> LoadContentIndex(const std::string& box_path);

// "inbox.db" -> "inbox.content".
std::string ContentPathFor(const std::string& box_path);

// The entries that are whole, in file order, and how many stretches were damaged.
// A missing file has none.
Result<EntryReading<ContentEntry>> LoadContent(const std::string& content_path);

std::string EncodeContentEntry(const ContentEntry& entry);

// Appends `entries`, flushed, to the content file of the store file at `box_path`.
Status AppendContent(const BoxLock& held, const std::string& box_path,
                     const std::vector<ContentEntry>& entries);

// Rewrites the content file after a removal: `moved_to[i]` is the new position of
// record i, SIZE_MAX for a removed one. No file, nothing to do.
Status RenumberContent(const BoxLock& held, const std::string& box_path,
                       const std::vector<std::size_t>& moved_to);

}  // namespace velka::store
