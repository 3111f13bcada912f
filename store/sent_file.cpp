#include "store/sent_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Entry layout, little-endian (docs/sent-file.md): record index (4), record
// checksum (4), segment (1), total (1), reference (2; 0xFFFF none), when sent
// (20, date-time text, zero-filled), recipient (25, zero-filled), three zero
// bytes, CRC-32 of bytes 0-59 (4).
constexpr std::size_t kRecordAt = 0;
constexpr std::size_t kChecksumAt = 4;
constexpr std::size_t kSegmentAt = 8;
constexpr std::size_t kTotalAt = 9;
constexpr std::size_t kReferenceAt = 10;
constexpr std::size_t kWhenAt = 12;
constexpr std::size_t kRecipientAt = kWhenAt + kDateTimeField;
constexpr std::size_t kCrcAt = kSentEntrySize - 4;
static_assert(kRecipientAt + kNumberField <= kCrcAt);
constexpr std::uint32_t kNoReference = 0xFFFF;

void PutText(std::string& out, std::size_t at, std::string_view text, std::size_t field) {
    out.replace(at, std::min(text.size(), field - 1), text.substr(0, field - 1));
}

std::string GetText(const char* bytes, std::size_t at, std::size_t field) {
    return std::string(bytes + at, strnlen(bytes + at, field));
}

std::string EntriesOf(std::size_t position, const packet& record,
                      const std::vector<SegmentSent>& sent) {
    // Beyond 2^32 records (4.6 TB of store file) a record shows without its state.
    if (position > std::numeric_limits<std::uint32_t>::max() || sent.size() > 255) return {};
    std::string entries;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        entries += EncodeSentEntry({static_cast<std::uint32_t>(position), record.checksum,
                                    static_cast<std::uint8_t>(i + 1),
                                    static_cast<std::uint8_t>(sent.size()), sent[i],
                                    std::string(record.number_text())});
    }
    return entries;
}

}  // namespace

std::string SentPathFor(const std::string& box_path) {
    return SideFilePath(box_path, "states");
}

std::string EncodeSentEntry(const SentEntry& entry) {
    std::string bytes(kSentEntrySize, '\0');
    PutLittleEndian(bytes, kRecordAt, entry.record, 4);
    PutLittleEndian(bytes, kChecksumAt, entry.checksum, 4);
    PutLittleEndian(bytes, kSegmentAt, entry.segment, 1);
    PutLittleEndian(bytes, kTotalAt, entry.total, 1);
    const bool known = entry.sent.reference >= 0 && entry.sent.reference <= 255;
    PutLittleEndian(bytes, kReferenceAt,
                    known ? static_cast<std::uint32_t>(entry.sent.reference) : kNoReference, 2);
    PutText(bytes, kWhenAt, entry.sent.when, kDateTimeField);
    PutText(bytes, kRecipientAt, entry.recipient, kNumberField);
    PutLittleEndian(bytes, kCrcAt, Crc32(std::string_view(bytes).substr(0, kCrcAt)), 4);
    return bytes;
}

bool DecodeSentEntry(const char* bytes, SentEntry& entry) {
    if (Crc32(std::string_view(bytes, kCrcAt)) != GetLittleEndian(bytes, kCrcAt, 4)) return false;
    entry.record = GetLittleEndian(bytes, kRecordAt, 4);
    entry.checksum = GetLittleEndian(bytes, kChecksumAt, 4);
    entry.segment = static_cast<std::uint8_t>(GetLittleEndian(bytes, kSegmentAt, 1));
    entry.total = static_cast<std::uint8_t>(GetLittleEndian(bytes, kTotalAt, 1));
    const std::uint32_t reference = GetLittleEndian(bytes, kReferenceAt, 2);
    entry.sent.reference = reference == kNoReference ? -1 : static_cast<int>(reference);
    entry.sent.when = GetText(bytes, kWhenAt, kDateTimeField);
    entry.recipient = GetText(bytes, kRecipientAt, kNumberField);
    return true;
}

Result<SentReading> LoadSent(const std::string& sent_path) {
    return LoadEntries<SentEntry>(sent_path, kSentEntrySize, DecodeSentEntry);
}

Result<SentFileView> SentFileView::Open(const std::string& sent_path) {
    auto file = MappedFile::OpenOrEmpty(sent_path);
    if (!file) return file.error();
    return SentFileView(std::move(*file));
}

SentReading SentFileView::From(std::size_t first) const {
    const std::string_view bytes = file_.bytes();
    return DecodeEntries<SentEntry>(bytes.substr(std::min(bytes.size(), first * kSentEntrySize)),
                                    kSentEntrySize, DecodeSentEntry);
}

std::vector<SentEntry> SentFileView::Picked(
    std::size_t end, const std::function<bool(int, std::uint32_t)>& wanted) const {
    std::vector<SentEntry> picked;
    const char* bytes = file_.bytes().data();
    for (std::size_t i = 0; i < std::min(end, size()); ++i) {
        const char* at = bytes + i * kSentEntrySize;
        const std::uint32_t reference = GetLittleEndian(at, kReferenceAt, 2);
        const int known = reference == kNoReference ? -1 : static_cast<int>(reference);
        SentEntry entry;
        if (wanted(known, GetLittleEndian(at, kRecordAt, 4)) && DecodeSentEntry(at, entry))
            picked.push_back(std::move(entry));
    }
    return picked;
}

std::uint64_t SentFileView::RecordsNamed(std::size_t end) const {
    std::uint64_t named = 0;
    const char* bytes = file_.bytes().data();
    for (std::size_t i = 0; i < std::min(end, size()); ++i) {
        named = std::max<std::uint64_t>(
            named, std::uint64_t{GetLittleEndian(bytes + i * kSentEntrySize, kRecordAt, 4)} + 1);
    }
    return named;
}

Status AppendSent(const BoxLock& held, const std::string& box_path, std::span<const packet> records,
                  std::span<const std::vector<SegmentSent>> sent) {
    const auto first = RecordCount(box_path);
    if (!first) return first.error();
    std::string entries;
    for (std::size_t i = 0; i < records.size(); ++i)
        entries += EntriesOf(*first + i, records[i], sent[i]);
    if (auto kept = Append(held, box_path, records); !kept) return kept;
    if (entries.empty()) return {};
    return files::AppendDurably(SentPathFor(box_path), entries, kSentEntrySize);
}

Status AppendSentEntries(const BoxLock&, const std::string& box_path,
                         std::span<const std::size_t> positions, std::span<const packet> records,
                         std::span<const std::vector<SegmentSent>> sent) {
    std::string entries;
    for (std::size_t i = 0; i < records.size(); ++i)
        entries += EntriesOf(positions[i], records[i], sent[i]);
    if (entries.empty()) return {};
    return files::AppendDurably(SentPathFor(box_path), entries, kSentEntrySize);
}

Status RenumberSent(const BoxLock&, const std::string& box_path,
                    const std::vector<std::size_t>& moved_to) {
    return RenumberEntries(SentPathFor(box_path), moved_to, LoadSent, EncodeSentEntry);
}

}  // namespace velka::store
