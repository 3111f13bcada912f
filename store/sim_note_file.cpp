#include "store/sim_note_file.h"

#include <algorithm>
#include <unordered_map>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/sim_counters_file.h"

namespace velka::store {
namespace {

// Entry layout, little-endian (docs/sim-note-file.md): record index (4), record
// checksum (4), the SIM's key (24, zero-filled), CRC-32 of bytes 0-31 (4).
constexpr std::size_t kRecordAt = 0;
constexpr std::size_t kChecksumAt = 4;
constexpr std::size_t kSimAt = 8;
constexpr std::size_t kCrcAt = kSimNoteEntrySize - 4;
static_assert(kSimAt + kSimKeySize == kCrcAt);

std::string Encoded(std::span<const SimNote> notes) {
    std::string bytes;
    bytes.reserve(notes.size() * kSimNoteEntrySize);
    for (const SimNote& note : notes) bytes += EncodeSimNote(note);
    return bytes;
}

}  // namespace

std::string SimNotesPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "sims");
}

std::string EncodeSimNote(const SimNote& note) {
    std::string bytes(kSimNoteEntrySize, '\0');
    PutLittleEndian(bytes, kRecordAt, note.record, 4);
    PutLittleEndian(bytes, kChecksumAt, note.checksum, 4);
    const std::size_t length = std::min(note.sim.size(), kSimKeySize);
    bytes.replace(kSimAt, length, note.sim, 0, length);
    PutLittleEndian(bytes, kCrcAt, Crc32(std::string_view(bytes).substr(0, kCrcAt)), 4);
    return bytes;
}

bool DecodeSimNote(const char* bytes, SimNote& note) {
    if (Crc32(std::string_view(bytes, kCrcAt)) != GetLittleEndian(bytes, kCrcAt, 4)) return false;
    const std::string_view field(bytes + kSimAt, kSimKeySize);
    const std::string_view sim = field.substr(0, field.find('\0'));
    if (!IsSimKey(sim)) return false;
    note.record = GetLittleEndian(bytes, kRecordAt, 4);
    note.checksum = GetLittleEndian(bytes, kChecksumAt, 4);
    note.sim = std::string(sim);
    return true;
}

Result<SimNoteReading> LoadSimNotes(const std::string& notes_path) {
    return LoadEntries<SimNote>(notes_path, kSimNoteEntrySize, DecodeSimNote);
}

Status AppendSimNotes(const BoxLock&, const std::string& box_path, std::span<const SimNote> notes) {
    if (notes.empty()) return {};
    for (const SimNote& note : notes) {
        if (!IsSimKey(note.sim)) return Error{"not a SIM key: '" + note.sim + "'"};
    }
    return files::AppendDurably(SimNotesPathFor(box_path), Encoded(notes), kSimNoteEntrySize);
}

Result<std::vector<SimNote>> SetSimNotesAside(const BoxLock&, const std::string& box_path,
                                              std::size_t first_moved) {
    const std::string path = SimNotesPathFor(box_path);
    auto reading = LoadSimNotes(path);
    if (!reading) return reading.error();
    std::vector<SimNote> staying;
    for (const SimNote& note : reading->entries) {
        if (note.record < first_moved) staying.push_back(note);
    }
    if (staying.size() < reading->entries.size() || reading->damaged > 0) {
        if (Status saved = files::SaveDurably(path, Encoded(staying)); !saved) return saved.error();
    }
    return std::move(reading->entries);
}

Status RenumberSimNotes(const BoxLock&, const std::string& box_path, std::vector<SimNote> notes,
                        const std::vector<std::size_t>& moved_to) {
    const std::string path = SimNotesPathFor(box_path);
    if (notes.empty() && !files::Exists(path)) return {};
    return files::SaveDurably(path, RenumberedEntries(std::move(notes), moved_to, EncodeSimNote));
}

RecordSims::RecordSims(const BoxFile& box, std::span<const SimNote> notes) {
    // A box without notes (one modem that gives no ICCID) costs nothing per record.
    if (notes.empty()) return;
    by_record_.assign(box.size(), 0);
    std::unordered_map<std::string_view, std::uint32_t> index_of;
    for (const SimNote& note : notes) {
        if (note.record >= box.size() || box.ChecksumAt(note.record) != note.checksum) {
            ++unbelieved_;
            continue;
        }
        auto [at, fresh] =
            index_of.try_emplace(note.sim, static_cast<std::uint32_t>(keys_.size() + 1));
        if (fresh) keys_.push_back(note.sim);
        by_record_[note.record] = at->second;
    }
}

std::string_view RecordSims::At(std::size_t record) const {
    if (record >= by_record_.size() || by_record_[record] == 0) return {};
    return keys_[by_record_[record] - 1];
}

}  // namespace velka::store
