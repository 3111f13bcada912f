#include "store/identity_file.h"

#include <cstdint>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Entry layout, little-endian (docs/identities-file.md): identity (8), record (4),
// record CRC (4), file (1), flags (1; bit 0 removed), ten zero bytes, CRC-32 of
// bytes 0-27 (4).
constexpr std::size_t kIdentityAt = 0;
constexpr std::size_t kRecordAt = 8;
constexpr std::size_t kRecordCrcAt = 12;
constexpr std::size_t kFileAt = 16;
constexpr std::size_t kFlagsAt = 17;
constexpr std::size_t kCrcAt = kIdentityEntrySize - 4;
constexpr std::uint32_t kRemovedFlag = 1;

std::string Encoded(std::span<const IdentityEntry> entries) {
    std::string bytes;
    bytes.reserve(entries.size() * kIdentityEntrySize);
    for (const IdentityEntry& entry : entries) bytes += EncodeIdentityEntry(entry);
    return bytes;
}

// The record's bytes at `position` of a mapped file, or nothing beyond its end.
std::optional<std::string_view> RecordAt(const MappedFile& file, std::uint32_t position,
                                         std::size_t size) {
    const std::string_view bytes = file.bytes();
    if (size == 0 || bytes.size() / size <= position) return std::nullopt;
    return bytes.substr(static_cast<std::size_t>(position) * size, size);
}

// The file mapped once, on the first need; a file that cannot be mapped (missing,
// unreadable) holds no record, so nothing is believed stored in it.
const MappedFile& Mapped(std::optional<MappedFile>& mapped, const std::string& path) {
    if (!mapped) {
        auto opened = MappedFile::Open(path);
        mapped.emplace(opened ? std::move(*opened) : MappedFile());
    }
    return *mapped;
}

}  // namespace

std::uint32_t RecordCrc(const packet& record) {
    const PacketBytes bytes = EncodePacket(record);
    return Crc32(std::string_view(bytes.data(), bytes.size()));
}

std::string IdentitiesPathFor(const std::string& inbox_path) {
    return SideFilePath(inbox_path, "ids");
}

std::string EncodeIdentityEntry(const IdentityEntry& entry) {
    std::string bytes(kIdentityEntrySize, '\0');
    PutLittleEndian64(bytes, kIdentityAt, entry.identity);
    PutLittleEndian(bytes, kRecordAt, entry.record, 4);
    PutLittleEndian(bytes, kRecordCrcAt, entry.record_crc, 4);
    PutLittleEndian(bytes, kFileAt, static_cast<std::uint32_t>(entry.file), 1);
    PutLittleEndian(bytes, kFlagsAt, entry.removed ? kRemovedFlag : 0, 1);
    PutLittleEndian(bytes, kCrcAt, Crc32(std::string_view(bytes).substr(0, kCrcAt)), 4);
    return bytes;
}

bool DecodeIdentityEntry(const char* bytes, IdentityEntry& entry) {
    if (GetLittleEndian(bytes, kCrcAt, 4) != Crc32(std::string_view(bytes, kCrcAt))) return false;
    const std::uint32_t file = GetLittleEndian(bytes, kFileAt, 1);
    if (file > static_cast<std::uint32_t>(IdentifiedFile::Reports)) return false;
    entry.identity = ReadLittleEndian(std::string_view(bytes, kIdentityEntrySize), kIdentityAt, 8);
    entry.record = GetLittleEndian(bytes, kRecordAt, 4);
    entry.record_crc = GetLittleEndian(bytes, kRecordCrcAt, 4);
    entry.file = static_cast<IdentifiedFile>(file);
    entry.removed = (GetLittleEndian(bytes, kFlagsAt, 1) & kRemovedFlag) != 0;
    return true;
}

Result<IdentityReading> LoadIdentities(const std::string& path) {
    return LoadEntries<IdentityEntry>(path, kIdentityEntrySize, DecodeIdentityEntry);
}

Result<StoredIdentities> StoredIdentities::Load(const BoxLock&, IdentifiedFiles files) {
    auto reading = LoadIdentities(IdentitiesPathFor(files.inbox));
    if (!reading) return reading.error();
    std::multimap<std::uint64_t, IdentityEntry> entries;
    for (const IdentityEntry& entry : reading->entries) entries.emplace(entry.identity, entry);
    return StoredIdentities(std::move(files), std::move(entries));
}

bool StoredIdentities::Holds(std::uint64_t identity) {
    const auto [first, last] = entries_.equal_range(identity);
    for (auto it = first; it != last; ++it) {
        if (Believed(it->second)) return true;
    }
    return false;
}

bool StoredIdentities::Believed(const IdentityEntry& entry) {
    if (entry.removed) return true;
    const bool inbox = entry.file == IdentifiedFile::Inbox;
    const MappedFile& file =
        inbox ? Mapped(inbox_, files_.inbox) : Mapped(reports_, files_.reports);
    const auto record = RecordAt(file, entry.record, inbox ? kPacketSize : files_.report_size);
    return record && Crc32(*record) == entry.record_crc;
}

Status AppendIdentities(const BoxLock&, const std::string& inbox_path,
                        std::span<const IdentityEntry> entries) {
    if (entries.empty()) return {};
    const std::string path = IdentitiesPathFor(inbox_path);
    if (auto appended = files::AppendDurably(path, Encoded(entries), kIdentityEntrySize);
        !appended) {
        return appended;
    }
    auto size = files::Size(path);
    if (!size || *size < 2 * kIdentitiesKept * kIdentityEntrySize) return {};
    // The entries were kept above; a compaction that fails leaves a longer file.
    auto reading = LoadIdentities(path);
    if (!reading || reading->entries.size() <= kIdentitiesKept) return {};
    const std::span<const IdentityEntry> all(reading->entries);
    IgnoreFailure(files::SaveDurably(path, Encoded(all.last(kIdentitiesKept))));
    return {};
}

Status RenumberIdentities(const BoxLock&, const std::string& inbox_path,
                          std::span<const PacketBytes> records,
                          const std::vector<std::size_t>& moved_to) {
    const std::string path = IdentitiesPathFor(inbox_path);
    if (!files::Exists(path)) return {};
    auto reading = LoadIdentities(path);
    if (!reading) return reading.error();
    std::vector<IdentityEntry> kept;
    kept.reserve(reading->entries.size());
    for (IdentityEntry entry : reading->entries) {
        if (entry.file == IdentifiedFile::Inbox && !entry.removed) {
            if (entry.record >= records.size() || entry.record >= moved_to.size()) continue;
            const PacketBytes& bytes = records[entry.record];
            if (Crc32(std::string_view(bytes.data(), bytes.size())) != entry.record_crc) continue;
            if (moved_to[entry.record] == SIZE_MAX) {
                entry.removed = true;
            } else {
                entry.record = static_cast<std::uint32_t>(moved_to[entry.record]);
            }
        }
        kept.push_back(entry);
    }
    return files::SaveDurably(path, Encoded(kept));
}

}  // namespace velka::store
