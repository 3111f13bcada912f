#include "store/content_file.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/codepage.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Entry layout, little-endian (docs/content-file.md): mark "VCE1" (4), entry size
// (4), record (4), record checksum (4), protocol identifier (1), coding scheme (1),
// body kind (1), header length (1), the header, the body, CRC-32 of all before (4).
constexpr std::string_view kMark = "VCE1";
constexpr std::size_t kSizeAt = 4;
constexpr std::size_t kRecordAt = 8;
constexpr std::size_t kChecksumAt = 12;
constexpr std::size_t kProtocolAt = 16;
constexpr std::size_t kCodingAt = 17;
constexpr std::size_t kBodyKindAt = 18;
constexpr std::size_t kHeaderLengthAt = 19;
constexpr std::size_t kHeaderAt = 20;
constexpr std::size_t kCrcSize = 4;
constexpr std::size_t kSmallestEntry = kHeaderAt + kCrcSize;
// One SMS carries at most 140 octets of user data (320 bytes as UTF-16 text):
// anything much larger is a damaged size field, not an entry.
constexpr std::size_t kLargestEntry = 4096;

std::string BodyBytes(const RecordContent& content) {
    switch (content.body) {
        case ContentBody::WholeText: {
            std::string bytes(2 * content.text.size(), '\0');
            for (std::size_t i = 0; i < content.text.size(); ++i)
                PutLittleEndian(bytes, 2 * i, content.text[i], 2);
            return bytes;
        }
        case ContentBody::Data:
            return content.data;
        case ContentBody::AsRecorded:
            break;
    }
    return {};
}

bool ReadBody(std::uint8_t kind, std::string_view bytes, RecordContent& content) {
    switch (static_cast<ContentBody>(kind)) {
        case ContentBody::WholeText:
            if (bytes.size() % 2 != 0) return false;
            content.text.resize(bytes.size() / 2);
            for (std::size_t i = 0; i < content.text.size(); ++i)
                content.text[i] = static_cast<char16_t>(GetLittleEndian(bytes.data(), 2 * i, 2));
            break;
        case ContentBody::Data:
            content.data = bytes;
            break;
        case ContentBody::AsRecorded:
            if (!bytes.empty()) return false;
            break;
        default:
            return false;
    }
    content.body = static_cast<ContentBody>(kind);
    return true;
}

// The entry at the start of `bytes`, and its size; nothing when none is whole there.
std::optional<std::pair<ContentEntry, std::size_t>> EntryAt(std::string_view bytes) {
    if (bytes.size() < kSmallestEntry || bytes.substr(0, kMark.size()) != kMark) return {};
    const std::size_t size = GetLittleEndian(bytes.data(), kSizeAt, 4);
    if (size < kSmallestEntry || size > kLargestEntry || size > bytes.size()) return {};
    const std::string_view entry = bytes.substr(0, size);
    if (Crc32(entry.substr(0, size - kCrcSize)) !=
        GetLittleEndian(entry.data(), size - kCrcSize, 4)) {
        return {};
    }
    const std::size_t header_length = static_cast<std::uint8_t>(entry[kHeaderLengthAt]);
    if (kHeaderAt + header_length + kCrcSize > size) return {};
    ContentEntry read;
    read.record = GetLittleEndian(entry.data(), kRecordAt, 4);
    read.checksum = GetLittleEndian(entry.data(), kChecksumAt, 4);
    read.content.protocol_id = static_cast<std::uint8_t>(entry[kProtocolAt]);
    read.content.coding_scheme = static_cast<std::uint8_t>(entry[kCodingAt]);
    read.content.header = entry.substr(kHeaderAt, header_length);
    const std::size_t body_at = kHeaderAt + header_length;
    if (!ReadBody(static_cast<std::uint8_t>(entry[kBodyKindAt]),
                  entry.substr(body_at, size - kCrcSize - body_at), read.content)) {
        return {};
    }
    return std::pair{std::move(read), size};
}

}  // namespace

std::u16string WholeTextOf(const packet& record, const RecordContent* content) {
    if (content != nullptr && content->body == ContentBody::WholeText) return content->text;
    return codepage::ToUtf16(record.text_text());
}

ContentIndex::ContentIndex(std::vector<ContentEntry> entries) : entries_(std::move(entries)) {
    std::stable_sort(
        entries_.begin(), entries_.end(),
        [](const ContentEntry& a, const ContentEntry& b) { return a.record < b.record; });
}

const RecordContent* ContentIndex::Find(std::size_t position, std::uint32_t checksum) const {
    auto end = std::upper_bound(
        entries_.begin(), entries_.end(), position,
        [](std::size_t wanted, const ContentEntry& entry) { return wanted < entry.record; });
    while (end != entries_.begin()) {
        --end;
        if (end->record != position) break;
        if (end->checksum == checksum) return &end->content;
    }
    return nullptr;
}

std::unordered_set<std::uint32_t> ContentIndex::ReplacingRecords() const {
    std::unordered_set<std::uint32_t> records;
    for (const ContentEntry& entry : entries_) {
        if (ReplacesEarlier(entry.content.protocol_id)) records.insert(entry.record);
    }
    return records;
}

Result<ContentIndex> LoadContentIndex(const std::string& box_path) {
    auto reading = LoadContent(ContentPathFor(box_path));
    if (!reading) return reading.error();
    return ContentIndex(std::move(reading->entries));
}

bool ReplacesEarlier(std::uint8_t protocol_id) {
    return protocol_id >= 0x41 && protocol_id <= 0x47;
}

std::string ContentPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "content");
}

std::string EncodeContentEntry(const ContentEntry& entry) {
    const RecordContent& content = entry.content;
    const std::string body = BodyBytes(content);
    // A header longer than its length octet can say is not one the network sent.
    const std::size_t header_length = std::min<std::size_t>(content.header.size(), 255);
    const std::size_t size = kHeaderAt + header_length + body.size() + kCrcSize;
    std::string bytes(kHeaderAt, '\0');
    bytes.replace(0, kMark.size(), kMark);
    PutLittleEndian(bytes, kSizeAt, static_cast<std::uint32_t>(size), 4);
    PutLittleEndian(bytes, kRecordAt, entry.record, 4);
    PutLittleEndian(bytes, kChecksumAt, entry.checksum, 4);
    bytes[kProtocolAt] = static_cast<char>(content.protocol_id);
    bytes[kCodingAt] = static_cast<char>(content.coding_scheme);
    bytes[kBodyKindAt] = static_cast<char>(content.body);
    bytes[kHeaderLengthAt] = static_cast<char>(header_length);
    bytes.append(content.header, 0, header_length);
    bytes += body;
    const std::uint32_t crc = Crc32(bytes);
    bytes.resize(size);
    PutLittleEndian(bytes, size - kCrcSize, crc, 4);
    return bytes;
}

Result<EntryReading<ContentEntry>> LoadContent(const std::string& content_path) {
    auto bytes = files::ReadAll(content_path);
    if (!bytes) {
        if (bytes.error().system_code == ENOENT) return EntryReading<ContentEntry>{};
        return bytes.error();
    }
    EntryReading<ContentEntry> reading;
    const std::string_view all = *bytes;
    std::size_t at = 0;
    while (at < all.size()) {
        if (auto entry = EntryAt(all.substr(at))) {
            reading.entries.push_back(std::move(entry->first));
            at += entry->second;
            continue;
        }
        // A damaged stretch: the next entry starts at the next mark.
        ++reading.damaged;
        const std::size_t next = all.find(kMark, at + 1);
        at = next == std::string_view::npos ? all.size() : next;
    }
    return reading;
}

Status AppendContent(const BoxLock&, const std::string& box_path,
                     const std::vector<ContentEntry>& entries) {
    if (entries.empty()) return {};
    std::string bytes;
    for (const ContentEntry& entry : entries) bytes += EncodeContentEntry(entry);
    return files::AppendDurably(ContentPathFor(box_path), bytes);
}

Status RenumberContent(const BoxLock&, const std::string& box_path,
                       const std::vector<std::size_t>& moved_to) {
    return RenumberEntries(ContentPathFor(box_path), moved_to, LoadContent, EncodeContentEntry);
}

}  // namespace velka::store
