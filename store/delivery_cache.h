// The delivery states cache beside a sent box ("outbox.db" -> "outbox.delivery"):
// the delivery state of each record as the last matching of outbox.states and
// reports.db worked it out, with the sizes and identities of the files it came
// from. While none of them changed, a view takes the states from here instead of
// reading half a gigabyte of reports again; after they grew, it takes the states
// of the records they covered from here and matches only what was appended. It is derived data: any
// reader may write it, one that no longer speaks of the files is not believed, and deleting it
// loses nothing. Format: docs/delivery-cache-file.md. Blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace velka::store {

// The files a cache was worked out from, as they were.
struct DeliverySources {
    std::uint64_t box_identity = 0;  // the store file's inode (file index on Windows)
    std::uint32_t records = 0;       // the records of the store file it covers
    std::uint32_t first_checksum = 0;
    std::uint32_t last_checksum = 0;
    std::uint64_t sent_identity = 0;  // outbox.states; 0 when there was none
    std::uint64_t sent_size = 0;
    std::uint64_t reports_identity = 0;  // reports.db; 0 when there was none
    std::uint64_t reports_size = 0;
    bool operator==(const DeliverySources&) const = default;
};

// One record's state: as messages::DeliveryOutcome numbers it, the TP-ST of a
// failure, and the time of a delivery (at most kCachedTimeSize bytes).
struct CachedState {
    std::uint8_t outcome = 0;
    std::uint8_t status = 0;
    std::string when;
    bool operator==(const CachedState&) const = default;
};

inline constexpr std::size_t kCachedTimeSize = 20;
// The highest outcome a state may have (not delivered): a cache with a higher one
// is not believed.
inline constexpr std::uint8_t kLastOutcome = 2;

struct DeliveryCache {
    DeliverySources sources;
    std::uint32_t unbelieved = 0;  // entries of outbox.states not believed
    // The DateTimeKey of the latest time a report of reports.db came (at most
    // kCachedTimeSize bytes): a record sent later than that no kept report can name.
    std::string latest_report;
    std::vector<CachedState> states;  // one per record covered
    bool operator==(const DeliveryCache&) const = default;
};

// "outbox.db" -> "outbox.delivery".
std::string DeliveryCachePathFor(const std::string& box_path);

// The cache at `path`, or nothing when it is missing, damaged, of another version
// or holds an outcome beyond kLastOutcome.
std::optional<DeliveryCache> LoadDeliveryCache(const std::string& path);
// Replaces the cache at `path` whole. Fails, writing nothing, when a time or the
// latest report's key is longer than kCachedTimeSize bytes or the states are not
// one per record.
Status SaveDeliveryCache(const std::string& path, const DeliveryCache& cache);

}  // namespace velka::store
