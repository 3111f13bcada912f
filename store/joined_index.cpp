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

void Put32(std::string& out, std::uint32_t value) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    PutLittleEndian(out, at, value, 4);
}

void Put64(std::string& out, std::uint64_t value) {
    Put32(out, static_cast<std::uint32_t>(value));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t Get64(const char* bytes, std::size_t at) {
    return GetLittleEndian(bytes, at, 4) |
           static_cast<std::uint64_t>(GetLittleEndian(bytes, at + 4, 4)) << 32;
}

}  // namespace

std::string JoinedIndexPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "joined");
}

Status SaveJoinedIndex(const std::string& path, const JoinSources& sources,
                       const JoinState& state) {
    std::string bytes(kMagic, 8);
    bytes.reserve(kHeaderSize + state.rows.size() * (kRowSize + kKeySize) +
                  state.places.size() * kSlotSize + 4);
    Put32(bytes, state.records);
    Put32(bytes, static_cast<std::uint32_t>(state.rows.size()));
    Put32(bytes, static_cast<std::uint32_t>(state.places.size()));
    Put32(bytes, sources.parts_entries);
    Put64(bytes, sources.box_identity);
    Put64(bytes, sources.parts_identity);
    Put32(bytes, sources.first_checksum);
    Put32(bytes, sources.last_checksum);
    Put64(bytes, 0);
    for (const JoinedRow& row : state.rows) {
        Put32(bytes, row.first_slot);
        Put32(bytes, row.slot_count);
    }
    for (const std::uint64_t key : state.keys) Put64(bytes, key);
    for (const std::uint32_t slot : state.places) Put32(bytes, slot);
    Put32(bytes, Crc32(bytes));
    return files::SaveDurably(path, bytes);
}

std::optional<std::pair<JoinSources, JoinState>> LoadJoinedIndex(const std::string& path) {
    auto read = files::ReadAll(path);
    if (!read || read->size() < kHeaderSize + 4) return std::nullopt;
    const std::string& bytes = *read;
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
    sources.box_identity = Get64(at, 24);
    sources.parts_identity = Get64(at, 32);
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
        key = Get64(at, offset);
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
