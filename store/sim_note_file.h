// The SIM notes beside a store file ("inbox.db" -> "inbox.sims", "outbox.db" ->
// "outbox.sims"): the SIM each received message came to and each sent record went
// through, by the SIM's key (its ICCID, or what stands for it when the modem gives
// none), so that a pool of modems shows and sorts out its boxes per SIM. Format:
// docs/sim-note-file.md.
//
// Written by the worker under the box lock, after the records they name are on
// the disk: a kill in between leaves a record without a note, never a note on
// another record. Rewritten only as records are removed (SetSimNotesAside before
// the store file is saved, RenumberSimNotes after), under the same lock. Every
// entry carries a CRC and the checksum of its record: an entry that is damaged, or
// whose record no longer carries that checksum, is not believed, and its record
// shows no SIM. Blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "store/box_lock.h"
#include "store/entry_file.h"
#include "store/store_file.h"

namespace velka::store {

struct SimNote {
    std::uint32_t record = 0;    // position in the store file, from 0
    std::uint32_t checksum = 0;  // that record's checksum field
    std::string sim;             // the SIM's key: printable ASCII, at most kSimKeySize bytes
    bool operator==(const SimNote&) const = default;
};

inline constexpr std::size_t kSimNoteEntrySize = 36;

// "inbox.db" -> "inbox.sims".
std::string SimNotesPathFor(const std::string& box_path);

using SimNoteReading = EntryReading<SimNote>;

// Every entry of a notes file. A missing file has none and is no damage.
Result<SimNoteReading> LoadSimNotes(const std::string& notes_path);

// Appends `notes`, flushed, for records that stand in the store file at `box_path`
// already. Fails without writing when a note's key cannot be a SIM's
// (store/sim_counters_file.h: IsSimKey).
Status AppendSimNotes(const BoxLock& held, const std::string& box_path,
                      std::span<const SimNote> notes);

// The first half of a removal from the store file: before the store file is saved,
// keeps in the notes file only the entries of records before `first_moved` (the
// first record removed), which the removal does not move; returns every entry it
// read, for RenumberSimNotes. A crash before the renumbering leaves the moved
// records without notes, never with another record's. No file: nothing written.
Result<std::vector<SimNote>> SetSimNotesAside(const BoxLock& held, const std::string& box_path,
                                              std::size_t first_moved);

// The second half, once the store file is saved: writes `notes` (what
// SetSimNotesAside returned) renumbered, `moved_to[i]` being record i's new
// position or SIZE_MAX for a removed record.
Status RenumberSimNotes(const BoxLock& held, const std::string& box_path,
                        std::vector<SimNote> notes, const std::vector<std::size_t>& moved_to);

// The SIM of each record of a box, as its notes say: a note is believed only where
// its record carries the checksum it names; of two for one record, the later.
// Built once per opening of a box; one thread at a time.
class RecordSims {
  public:
    RecordSims() = default;
    RecordSims(const BoxFile& box, std::span<const SimNote> notes);

    // The key of the SIM of the record at `record`; empty when none is known.
    std::string_view At(std::size_t record) const;
    // Every key a believed note names, in the order of their first notes.
    const std::vector<std::string>& keys() const { return keys_; }
    // Notes whose record is gone or no longer carries their checksum.
    std::size_t unbelieved() const { return unbelieved_; }

  private:
    std::vector<std::string> keys_;
    std::vector<std::uint32_t> by_record_;  // 1 + the index in keys_; 0: no note
    std::size_t unbelieved_ = 0;
};

// The encoded form of one entry, and back. REQUIRES: `bytes` holds
// kSimNoteEntrySize. Decoding is false when the entry's CRC is wrong or its key
// cannot be a SIM's.
std::string EncodeSimNote(const SimNote& note);
bool DecodeSimNote(const char* bytes, SimNote& note);

}  // namespace velka::store
