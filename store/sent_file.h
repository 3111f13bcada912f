// The sent file beside a store file ("outbox.db" -> "outbox.states"): for each
// message of each sent record, the facts its 1076-byte record has no room for: the
// message reference the modem gave it ("+CMGS: <mr>"), the recipient and when it
// went. Status reports name a sent message by reference and recipient; these
// entries let a view find the record they speak of. Format: docs/sent-file.md.
//
// The sent file is appended to together with its store file and after it, and
// rewritten only as records are removed, always under the box lock. Every entry carries a CRC of
// its own and the checksum of its record: an entry that is damaged, or that names a record which no
// longer carries that checksum, is not believed, and the record it spoke of still shows, only
// without its delivery state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/mapped_file.h"
#include "platform/result.h"
#include "store/box_lock.h"
#include "store/entry_file.h"
#include "store/packet.h"

namespace velka::store {

// One message of a sent text, as the modem confirmed it.
struct SegmentSent {
    int reference = -1;  // TP-MR, 0..255; -1 when the confirmation named none
    std::string when;    // local date-time text ("08.12.2026 14:40:01") of the confirmation
    bool operator==(const SegmentSent&) const = default;
};

// One entry: message `segment` (from 1) of `total` of the record at `record`.
struct SentEntry {
    std::uint32_t record = 0;    // position in the store file, from 0
    std::uint32_t checksum = 0;  // that record's checksum field
    std::uint8_t segment = 1;
    std::uint8_t total = 1;
    SegmentSent sent;
    std::string recipient;  // the record's number, Windows-1251
    bool operator==(const SentEntry&) const = default;
};

inline constexpr std::size_t kSentEntrySize = 64;

// "outbox.db" -> "outbox.states".
std::string SentPathFor(const std::string& box_path);

using SentReading = EntryReading<SentEntry>;

// Every entry of a sent file. A missing file has none and is no damage.
Result<SentReading> LoadSent(const std::string& sent_path);

// A sent file read where it lies, for a load that goes on from an earlier one and
// needs a few of a million entries: they are picked by a look at two fields
// before any CRC is computed or text copied. The view shows the file as it was
// when opened (platform/mapped_file.h).
class SentFileView {
  public:
    // A missing file is an empty view.
    static Result<SentFileView> Open(const std::string& sent_path);

    // Whole entries.
    std::size_t size() const { return file_.bytes().size() / kSentEntrySize; }

    // The entries from the `first` on, read as LoadSent reads them.
    SentReading From(std::size_t first) const;

    // The entries before the `end`-th whose reference (-1 for none) and record
    // `wanted(reference, record)` asks for, damaged ones left out, in file order.
    std::vector<SentEntry> Picked(std::size_t end,
                                  const std::function<bool(int, std::uint32_t)>& wanted) const;

    // One more than the highest record the entries before the `end`-th name,
    // damaged ones included; 0 for none.
    std::uint64_t RecordsNamed(std::size_t end) const;

  private:
    explicit SentFileView(MappedFile file) : file_(std::move(file)) {}
    MappedFile file_;
};

// Appends sent records to the store file and their messages' entries to its sent
// file, each flushed to the disk before this returns. `sent[i]` are the messages
// of records[i], in order (may be empty: a record sent before references were
// kept). REQUIRES: sent.size() == records.size(). A failure of the store file's write is the result
// and nothing is written; a failure of the sent file's write is the result too, with the records
// kept: the caller must not append them again (see AppendSentEntries).
Status AppendSent(const BoxLock& held, const std::string& box_path, std::span<const packet> records,
                  std::span<const std::vector<SegmentSent>> sent);

// Appends the entries of records already in the store file at `positions`. For a
// record whose entries a crash or a refused write kept out.
Status AppendSentEntries(const BoxLock& held, const std::string& box_path,
                         std::span<const std::size_t> positions, std::span<const packet> records,
                         std::span<const std::vector<SegmentSent>> sent);

// Rewrites the sent file after records were removed from its store file:
// `moved_to[i]` is record i's new position, or SIZE_MAX for a removed record.
Status RenumberSent(const BoxLock& held, const std::string& box_path,
                    const std::vector<std::size_t>& moved_to);

// The encoded form of one entry, and back. REQUIRES: `bytes` holds kSentEntrySize.
std::string EncodeSentEntry(const SentEntry& entry);
// False when the entry's CRC is wrong.
bool DecodeSentEntry(const char* bytes, SentEntry& entry);

}  // namespace velka::store
