#include "store/delivery_cache.h"

#include <algorithm>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store/little_endian.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

// Header, little-endian (docs/delivery-cache-file.md): magic (8), records (4),
// unbelieved (4), store identity (8), first checksum (4), last checksum (4), sent
// identity (8), sent size (8), reports identity (8), reports size (8), the latest
// report's key zero-filled to 20, four zero bytes = 88 bytes; then 24 bytes per
// record (outcome, status, two zero bytes, the time zero-filled to 20) and a CRC-32
// of everything before it.
constexpr char kMagic[] = "VLKDLV02";
constexpr std::size_t kLatestReportAt = 64;
constexpr std::size_t kHeaderSize = kLatestReportAt + 4 + kCachedTimeSize;
constexpr std::size_t kStateSize = 4 + kCachedTimeSize;

void AppendTime(std::string& bytes, const std::string& time) {
    bytes += time;
    bytes.append(kCachedTimeSize - time.size(), '\0');
}

std::string TimeAt(const char* at) {
    const std::string_view time(at, kCachedTimeSize);
    return std::string(time.substr(0, time.find('\0')));
}

}  // namespace

std::string DeliveryCachePathFor(const std::string& box_path) {
    return SideFilePath(box_path, "delivery");
}

Status SaveDeliveryCache(const std::string& path, const DeliveryCache& cache) {
    const DeliverySources& sources = cache.sources;
    if (cache.states.size() != sources.records) return Error{"the states are not one per record"};
    const bool fits = std::all_of(cache.states.begin(), cache.states.end(), [](const auto& state) {
        return state.when.size() <= kCachedTimeSize;
    });
    if (!fits || cache.latest_report.size() > kCachedTimeSize)
        return Error{"a delivery time is too long for the cache"};
    std::string bytes(kMagic, 8);
    bytes.reserve(kHeaderSize + cache.states.size() * kStateSize + 4);
    AppendLittleEndian(bytes, sources.records, 4);
    AppendLittleEndian(bytes, cache.unbelieved, 4);
    AppendLittleEndian(bytes, sources.box_identity, 8);
    AppendLittleEndian(bytes, sources.first_checksum, 4);
    AppendLittleEndian(bytes, sources.last_checksum, 4);
    AppendLittleEndian(bytes, sources.sent_identity, 8);
    AppendLittleEndian(bytes, sources.sent_size, 8);
    AppendLittleEndian(bytes, sources.reports_identity, 8);
    AppendLittleEndian(bytes, sources.reports_size, 8);
    AppendTime(bytes, cache.latest_report);
    bytes.append(4, '\0');
    for (const CachedState& state : cache.states) {
        bytes += static_cast<char>(state.outcome);
        bytes += static_cast<char>(state.status);
        bytes.append(2, '\0');
        AppendTime(bytes, state.when);
    }
    AppendLittleEndian(bytes, Crc32(bytes), 4);
    return files::SaveDurably(path, bytes);
}

std::optional<DeliveryCache> LoadDeliveryCache(const std::string& path) {
    auto read = files::ReadAll(path);
    if (!read || read->size() < kHeaderSize + 4 || read->compare(0, 8, kMagic, 8) != 0)
        return std::nullopt;
    const std::string_view bytes_view = *read;
    const char* at = read->data();
    const std::size_t body = read->size() - 4;
    if (GetLittleEndian(at, body, 4) != Crc32(std::string_view(*read).substr(0, body)))
        return std::nullopt;
    DeliveryCache cache;
    DeliverySources& sources = cache.sources;
    sources.records = GetLittleEndian(at, 8, 4);
    cache.unbelieved = GetLittleEndian(at, 12, 4);
    sources.box_identity = ReadLittleEndian(bytes_view, 16, 8);
    sources.first_checksum = GetLittleEndian(at, 24, 4);
    sources.last_checksum = GetLittleEndian(at, 28, 4);
    sources.sent_identity = ReadLittleEndian(bytes_view, 32, 8);
    sources.sent_size = ReadLittleEndian(bytes_view, 40, 8);
    sources.reports_identity = ReadLittleEndian(bytes_view, 48, 8);
    sources.reports_size = ReadLittleEndian(bytes_view, 56, 8);
    cache.latest_report = TimeAt(at + kLatestReportAt);
    if (kHeaderSize + std::size_t{sources.records} * kStateSize != body) return std::nullopt;
    cache.states.resize(sources.records);
    const char* state_at = at + kHeaderSize;
    for (CachedState& state : cache.states) {
        state.outcome = static_cast<std::uint8_t>(state_at[0]);
        if (state.outcome > kLastOutcome) return std::nullopt;
        state.status = static_cast<std::uint8_t>(state_at[1]);
        state.when = TimeAt(state_at + 4);
        state_at += kStateSize;
    }
    return cache;
}

}  // namespace velka::store
