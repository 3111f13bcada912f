#include "store/queue_id_file.h"

#include <limits>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Entry layout, little-endian (docs/queue-id-file.md): record index (4), record
// checksum (4), queue id (8), four zero bytes, CRC-32 of bytes 0-19 (4).
constexpr std::size_t kRecordAt = 0;
constexpr std::size_t kChecksumAt = 4;
constexpr std::size_t kIdAt = 8;
constexpr std::size_t kCrcAt = kQueueIdEntrySize - 4;

}  // namespace

std::string QueueIdPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "queue-ids");
}

std::string EncodeQueueIdEntry(const QueueIdEntry& entry) {
    std::string bytes(kQueueIdEntrySize, '\0');
    PutLittleEndian(bytes, kRecordAt, entry.record, 4);
    PutLittleEndian(bytes, kChecksumAt, entry.checksum, 4);
    PutLittleEndian(bytes, kIdAt, static_cast<std::uint32_t>(entry.queue_id), 4);
    PutLittleEndian(bytes, kIdAt + 4, static_cast<std::uint32_t>(entry.queue_id >> 32), 4);
    PutLittleEndian(bytes, kCrcAt, Crc32(std::string_view(bytes).substr(0, kCrcAt)), 4);
    return bytes;
}

bool DecodeQueueIdEntry(const char* bytes, QueueIdEntry& entry) {
    if (Crc32(std::string_view(bytes, kCrcAt)) != GetLittleEndian(bytes, kCrcAt, 4)) return false;
    entry.record = GetLittleEndian(bytes, kRecordAt, 4);
    entry.checksum = GetLittleEndian(bytes, kChecksumAt, 4);
    entry.queue_id = static_cast<std::uint64_t>(GetLittleEndian(bytes, kIdAt + 4, 4)) << 32 |
                     GetLittleEndian(bytes, kIdAt, 4);
    return true;
}

Result<QueueIdReading> LoadQueueIds(const std::string& ids_path) {
    return LoadEntries<QueueIdEntry>(ids_path, kQueueIdEntrySize, DecodeQueueIdEntry);
}

Status AppendQueueIds(const BoxLock&, const std::string& box_path,
                      std::span<const std::uint64_t> ids, std::span<const packet> records) {
    if (records.empty()) return {};
    const auto count = RecordCount(box_path);
    if (!count) return count.error();
    std::string entries;
    for (std::size_t i = 0; i < records.size(); ++i) {
        // Beyond 2^32 records (4.6 TB of store file) a record is not found by its id.
        if (*count + i > std::numeric_limits<std::uint32_t>::max()) break;
        entries += EncodeQueueIdEntry(
            {static_cast<std::uint32_t>(*count + i), records[i].checksum, ids[i]});
    }
    return files::AppendDurably(QueueIdPathFor(box_path), entries, kQueueIdEntrySize);
}

Status RenumberQueueIds(const BoxLock&, const std::string& box_path,
                        const std::vector<std::size_t>& moved_to) {
    return RenumberEntries(QueueIdPathFor(box_path), moved_to, LoadQueueIds, EncodeQueueIdEntry);
}

}  // namespace velka::store
