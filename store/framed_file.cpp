#include "store/framed_file.h"

#include <cstdio>

#include "platform/crc32.h"
#include "platform/datetime.h"
#include "platform/files.h"

namespace velka::store {
namespace {

std::string DamagedName(const std::string& path) {
    const DateTime now = NowLocal();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    return path + ".damaged-" + stamp;
}

// The entry at `at`, when a whole one with a right checksum starts there.
std::optional<FramedEntry> FramedEntryAt(const FramedFormat& format, std::string_view bytes,
                                         std::size_t at) {
    if (bytes.size() - at < kFramedHeaderSize) return std::nullopt;
    if (bytes[at] != format.magic[0] || bytes[at + 1] != format.magic[1] || bytes[at + 3] != '\0')
        return std::nullopt;
    const auto kind = static_cast<std::uint8_t>(bytes[at + 2]);
    const std::uint64_t length = ReadLittleEndian(bytes, at + 4, 4);
    if (length == 0 || bytes.size() - at - kFramedHeaderSize < length) return std::nullopt;
    const std::string_view payload = bytes.substr(at + kFramedHeaderSize, length);
    if (!format.valid(kind, payload)) return std::nullopt;
    const std::string checked = std::string(bytes.substr(at, 8)) + std::string(payload);
    if (Crc32(checked) != ReadLittleEndian(bytes, at + 8, 4)) return std::nullopt;
    return FramedEntry{kind, payload};
}

}  // namespace

void AppendFramedEntry(std::string& out, const FramedFormat& format, std::uint8_t kind,
                       std::string_view payload) {
    std::string header(format.magic, 2);
    header += static_cast<char>(kind);
    header += '\0';
    AppendLittleEndian(header, payload.size(), 4);
    const std::uint32_t crc = Crc32(header + std::string(payload));
    AppendLittleEndian(header, crc, 4);
    out += header;
    out += payload;
}

std::string ReadFramedEntries(const FramedFormat& format, std::string_view bytes,
                              const std::function<void(const FramedEntry&)>& on_entry) {
    std::string unreadable;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (const auto entry = FramedEntryAt(format, bytes, at)) {
            on_entry(*entry);
            at += kFramedHeaderSize + entry->payload.size();
        } else {
            unreadable += bytes[at++];
        }
    }
    return unreadable;
}

Result<std::optional<KeptAside>> KeepAside(const std::string& path, std::string_view unreadable) {
    if (unreadable.empty()) return std::optional<KeptAside>();
    KeptAside kept{DamagedName(path), unreadable.size()};
    if (Status written = files::AppendDurably(kept.kept_in, unreadable); !written)
        return written.error();
    return std::optional<KeptAside>(std::move(kept));
}

}  // namespace velka::store
