// The identities file beside inbox.db ("inbox.ids"): what the reception stored,
// so that a message the modem lists again (a delete it did not confirm, a kill
// between the store and the delete, a direct delivery it kept all the same) is
// deleted without being stored a second time, and a message the user deleted is
// not brought back by a late listing. Format: docs/identities-file.md.
//
// An entry is written before its record and names the record's position and a
// CRC of its bytes: a kill between the two leaves an entry whose record is not
// there, which is not believed, so the message is stored again rather than lost.
// The file keeps the newest entries only (kIdentitiesKept): a modem holds a few
// hundred messages at most, so older identities can come again only from a
// network that delivers the same message anew, days later.
//
// Every write takes a BoxLock (store/box_lock.h) as proof that the caller holds
// the lock of the store files. Blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapped_file.h"
#include "platform/result.h"
#include "store/box_lock.h"
#include "store/entry_file.h"
#include "store/packet.h"

namespace velka::store {

// The file an identity's record went to.
enum class IdentifiedFile : std::uint8_t { Inbox = 0, Reports = 1 };

struct IdentityEntry {
    std::uint64_t identity = 0;
    IdentifiedFile file = IdentifiedFile::Inbox;
    // The user deleted the record: the identity counts, though its record is gone.
    bool removed = false;
    std::uint32_t record = 0;      // the record's position in its file, from 0
    std::uint32_t record_crc = 0;  // CRC-32 of the record's bytes as written
    bool operator==(const IdentityEntry&) const = default;
};

inline constexpr std::size_t kIdentityEntrySize = 32;
// Entries kept after a compaction; the file is compacted when it holds twice as many.
inline constexpr std::size_t kIdentitiesKept = 4096;

// The CRC an entry names for an inbox record: of the record's bytes as written.
std::uint32_t RecordCrc(const packet& record);

// "inbox.db" -> "inbox.ids".
std::string IdentitiesPathFor(const std::string& inbox_path);

// The files whose records the entries name, and the size of a record in each.
struct IdentifiedFiles {
    std::string inbox;
    std::string reports;
    std::size_t report_size = 0;
};

using IdentityReading = EntryReading<IdentityEntry>;

// Every entry of an identities file; a missing file has none and is no damage.
Result<IdentityReading> LoadIdentities(const std::string& path);

// The identities stored, as read under the lock, to ask of listed messages. The
// files are opened only when an identity is asked that has entries, so a cycle
// that lists nothing already stored reads no record.
class StoredIdentities {
  public:
    static Result<StoredIdentities> Load(const BoxLock& held, IdentifiedFiles files);

    // Whether `identity` was stored: an entry of the user's deletion, or one
    // whose record stands where it says with the bytes it names.
    bool Holds(std::uint64_t identity);

  private:
    StoredIdentities(IdentifiedFiles files, std::multimap<std::uint64_t, IdentityEntry> entries)
        : files_(std::move(files)), entries_(std::move(entries)) {}
    bool Believed(const IdentityEntry& entry);

    IdentifiedFiles files_;
    std::multimap<std::uint64_t, IdentityEntry> entries_;
    std::optional<MappedFile> inbox_;
    std::optional<MappedFile> reports_;
};

// Appends the entries, flushed before this returns, and compacts the file to the
// newest kIdentitiesKept entries when it has grown to twice that.
Status AppendIdentities(const BoxLock& held, const std::string& inbox_path,
                        std::span<const IdentityEntry> entries);

// Rewrites the identities as records are removed from inbox.db: `moved_to[i]` is
// inbox record i's new position, or SIZE_MAX for a removed record, whose entries
// are kept as the user's deletions; `records` are inbox.db's records before the
// removal. An entry its record does not bear out (a kill kept the record out) is
// dropped, so that it never turns into a deletion. A missing file stays missing.
Status RenumberIdentities(const BoxLock& held, const std::string& inbox_path,
                          std::span<const PacketBytes> records,
                          const std::vector<std::size_t>& moved_to);

// The encoded form of one entry, and back. REQUIRES: `bytes` holds kIdentityEntrySize.
std::string EncodeIdentityEntry(const IdentityEntry& entry);
// False when the entry's CRC is wrong.
bool DecodeIdentityEntry(const char* bytes, IdentityEntry& entry);

}  // namespace velka::store
