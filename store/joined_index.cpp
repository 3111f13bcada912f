#include "store/joined_index.h"

#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Header, little-endian (docs/joined-index-file.md): magic (8), records (4), rows
// (4), slots (4), parts entries (4), box identity (8), parts identity (8), first
// checksum (4), last checksum (4), zero (8) = 56 bytes; then the rows (8 bytes
// each: first slot, slot count, zero), their keys (8 each), the slots (4 each) and
// a CRC-32 of everything before it.
constexpr char kMagic[] = "VLKJOIN1";
constexpr std::size_t kHeaderSize = 56;
constexpr std::size_t kRowSize = 8;
constexpr std::size_t kKeySize = 8;
constexpr std::size_t kSlotSize = 4;

}  // namespace

std::string JoinedIndexPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "joined");
}

Status SaveJoinedIndex(const std::string& path, const JoinSources& sources,
                       const JoinState& state) {
    std::string bytes(kMagic, 8);
    bytes.reserve(kHeaderSize + state.rows.size() * (kRowSize + kKeySize) +
                  state.places.size() * kSlotSize + 4);
    AppendLittleEndian(bytes, state.records, 4);
    AppendLittleEndian(bytes, static_cast<std::uint32_t>(state.rows.size()), 4);
    AppendLittleEndian(bytes, static_cast<std::uint32_t>(state.places.size()), 4);
    AppendLittleEndian(bytes, sources.parts_entries, 4);
    AppendLittleEndian(bytes, sources.box_identity, 8);
    AppendLittleEndian(bytes, sources.parts_identity, 8);
    AppendLittleEndian(bytes, sources.first_checksum, 4);
    AppendLittleEndian(bytes, sources.last_checksum, 4);
    AppendLittleEndian(bytes, 0, 8);
    for (const JoinedRow& row : state.rows) {
        AppendLittleEndian(bytes, row.first_slot, 4);
        AppendLittleEndian(bytes, row.slot_count, 4);
    }
    for (const std::uint64_t key : state.keys) AppendLittleEndian(bytes, key, 8);
    for (const std::uint32_t slot : state.places) AppendLittleEndian(bytes, slot, 4);
    AppendLittleEndian(bytes, Crc32(bytes), 4);
    return files::SaveDurably(path, bytes);
}

std::optional<std::pair<JoinSources, JoinState>> LoadJoinedIndex(const std::string& path) {
    auto read = files::ReadAll(path);
    if (!read || read->size() < kHeaderSize + 4) return std::nullopt;
    const std::string& bytes = *read;
    const std::string_view bytes_view = bytes;
    const char* at = bytes.data();
    if (bytes.compare(0, 8, kMagic, 8) != 0) return std::nullopt;
    const std::size_t body = bytes.size() - 4;
    if (GetLittleEndian(at, body, 4) != Crc32(std::string_view(bytes).substr(0, body)))
        return std::nullopt;
    JoinState state;
    state.records = GetLittleEndian(at, 8, 4);
    const std::size_t rows = GetLittleEndian(at, 12, 4);
    const std::size_t slots = GetLittleEndian(at, 16, 4);
    if (kHeaderSize + rows * (kRowSize + kKeySize) + slots * kSlotSize != body) return std::nullopt;
    JoinSources sources;
    sources.parts_entries = GetLittleEndian(at, 20, 4);
    sources.box_identity = ReadLittleEndian(bytes_view, 24, 8);
    sources.parts_identity = ReadLittleEndian(bytes_view, 32, 8);
    sources.first_checksum = GetLittleEndian(at, 40, 4);
    sources.last_checksum = GetLittleEndian(at, 44, 4);

    std::size_t offset = kHeaderSize;
    state.rows.resize(rows);
    for (JoinedRow& row : state.rows) {
        row.first_slot = GetLittleEndian(at, offset, 4);
        row.slot_count = static_cast<std::uint16_t>(GetLittleEndian(at, offset + 4, 2));
        if (row.slot_count == 0 || slots < row.slot_count ||
            row.first_slot > slots - row.slot_count)
            return std::nullopt;
        offset += kRowSize;
    }
    state.keys.resize(rows);
    for (std::uint64_t& key : state.keys) {
        key = ReadLittleEndian(bytes_view, offset, 8);
        offset += kKeySize;
    }
    state.places.resize(slots);
    for (std::uint32_t& slot : state.places) {
        slot = GetLittleEndian(at, offset, 4);
        if (slot != kMissingPart && slot >= state.records) return std::nullopt;
        offset += kSlotSize;
    }
    return std::pair{sources, std::move(state)};
}

}  // namespace velka::store
