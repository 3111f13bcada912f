#include "store/parts_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>

#include "platform/files.h"
#include "store/content_file.h"
#include "store/identity_file.h"
#include "store/little_endian.h"
#include "store/queue_id_file.h"
#include "store/sent_file.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Entry layout, little-endian: record index (4), record checksum (4), reference (2),
// reference width in bits (1), total (1), part number (1), three zero bytes.
constexpr std::size_t kRecordAt = 0;
constexpr std::size_t kChecksumAt = 4;
constexpr std::size_t kReferenceAt = 8;
constexpr std::size_t kBitsAt = 10;
constexpr std::size_t kTotalAt = 11;
constexpr std::size_t kNumberAt = 12;

}  // namespace

std::string PartsPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "parts");
}

std::string EncodePartEntry(const PartEntry& entry) {
    std::string bytes(kPartEntrySize, '\0');
    PutLittleEndian(bytes, kRecordAt, entry.record, 4);
    PutLittleEndian(bytes, kChecksumAt, entry.checksum, 4);
    PutLittleEndian(bytes, kReferenceAt, entry.facts.reference, 2);
    PutLittleEndian(bytes, kBitsAt, entry.facts.reference_bits, 1);
    PutLittleEndian(bytes, kTotalAt, entry.facts.total, 1);
    PutLittleEndian(bytes, kNumberAt, entry.facts.number, 1);
    return bytes;
}

PartEntry DecodePartEntry(const char* bytes) {
    PartEntry entry;
    entry.record = GetLittleEndian(bytes, kRecordAt, 4);
    entry.checksum = GetLittleEndian(bytes, kChecksumAt, 4);
    entry.facts.reference = static_cast<std::uint16_t>(GetLittleEndian(bytes, kReferenceAt, 2));
    entry.facts.reference_bits = static_cast<std::uint8_t>(GetLittleEndian(bytes, kBitsAt, 1));
    entry.facts.total = static_cast<std::uint8_t>(GetLittleEndian(bytes, kTotalAt, 1));
    entry.facts.number = static_cast<std::uint8_t>(GetLittleEndian(bytes, kNumberAt, 1));
    return entry;
}

Result<std::vector<PartEntry>> LoadParts(const std::string& parts_path) {
    auto bytes = files::ReadAll(parts_path);
    if (!bytes) {
        if (bytes.error().system_code == ENOENT) return std::vector<PartEntry>{};
        return bytes.error();
    }
    std::vector<PartEntry> entries;
    entries.reserve(bytes->size() / kPartEntrySize);
    for (std::size_t at = 0; at + kPartEntrySize <= bytes->size(); at += kPartEntrySize) {
        entries.push_back(DecodePartEntry(bytes->data() + at));
    }
    return entries;
}

Status AppendReceived(const BoxLock& held, const std::string& box_path,
                      std::span<const packet> records,
                      std::span<const std::optional<PartFacts>> facts) {
    const auto first = RecordCount(box_path);
    if (!first) return first.error();
    std::string entries;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!facts[i]) continue;
        const std::uint64_t position = *first + i;
        // Beyond 2^32 records (4.6 TB of store file) a part shows as a message of its own.
        if (position > std::numeric_limits<std::uint32_t>::max()) continue;
        entries +=
            EncodePartEntry({static_cast<std::uint32_t>(position), records[i].checksum, *facts[i]});
    }
    if (auto kept = Append(held, box_path, records); !kept) return kept;
    if (entries.empty()) return {};
    return files::AppendDurably(PartsPathFor(box_path), entries, kPartEntrySize);
}

namespace {

// Where each record to remove stands in `box` now, each place taken once: at its
// position when that holds its bytes, else at the nearest place before it (appends
// only add after it; removals move it towards the start), else after it.
std::vector<std::size_t> FindAgain(const std::vector<PacketBytes>& box,
                                   std::span<const RecordToRemove> wanted) {
    std::vector<bool> taken(box.size(), false);
    std::vector<std::size_t> found;
    for (const RecordToRemove& record : wanted) {
        const PacketBytes bytes = EncodePacket(record.record);
        const auto matches = [&](std::size_t at) { return !taken[at] && box[at] == bytes; };
        const std::size_t start = std::min(record.position, box.size());
        std::optional<std::size_t> at;
        for (std::size_t i = start + 1; i-- > 0 && !at;) {
            if (i < box.size() && matches(i)) at = i;
        }
        for (std::size_t i = start + 1; i < box.size() && !at; ++i) {
            if (matches(i)) at = i;
        }
        if (!at) continue;
        taken[*at] = true;
        found.push_back(*at);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

Status RemoveRecords(const BoxLock& held, const std::string& box_path,
                     std::span<const RecordToRemove> records) {
    auto all = Load(box_path);
    if (!all) return all.error();
    auto entries = LoadParts(PartsPathFor(box_path));
    if (!entries) return entries.error();
    std::vector<PacketBytes> bytes;
    bytes.reserve(all->size());
    for (const packet& record : *all) bytes.push_back(EncodePacket(record));
    const std::vector<std::size_t> removed_at = FindAgain(bytes, records);
    if (removed_at.empty()) return {};
    // The new position of every record that stays; removed ones get none.
    constexpr std::size_t kRemoved = SIZE_MAX;
    std::vector<std::size_t> moved_to(all->size());
    std::vector<packet> kept;
    kept.reserve(all->size());
    for (std::size_t i = 0; i < all->size(); ++i) {
        const bool removed = std::binary_search(removed_at.begin(), removed_at.end(), i);
        moved_to[i] = removed ? kRemoved : kept.size();
        if (!removed) kept.push_back((*all)[i]);
    }
    std::string kept_entries;
    for (PartEntry entry : *entries) {
        if (entry.record >= moved_to.size() || moved_to[entry.record] == kRemoved) continue;
        entry.record = static_cast<std::uint32_t>(moved_to[entry.record]);
        kept_entries += EncodePartEntry(entry);
    }
    // First, so that a notes file that cannot be read stops the removal before any
    // file has changed.
    auto sims = SetSimNotesAside(held, box_path, removed_at.front());
    if (!sims) return sims.error();
    if (auto renumbered = RenumberIdentities(held, box_path, bytes, moved_to); !renumbered) {
        return renumbered;
    }
    if (auto saved = Save(held, box_path, kept); !saved) return saved;
    if (auto renumbered = RenumberSimNotes(held, box_path, std::move(*sims), moved_to);
        !renumbered) {
        return renumbered;
    }
    if (auto renumbered = RenumberSent(held, box_path, moved_to); !renumbered) return renumbered;
    if (auto renumbered = RenumberContent(held, box_path, moved_to); !renumbered) {
        return renumbered;
    }
    if (auto renumbered = RenumberQueueIds(held, box_path, moved_to); !renumbered) {
        return renumbered;
    }
    const std::string parts_path = PartsPathFor(box_path);
    if (entries->empty() && !files::Exists(parts_path)) return {};
    return files::SaveDurably(parts_path, kept_entries);
}

}  // namespace velka::store
