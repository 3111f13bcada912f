// The counters file ("sim-counters.db" in the program directory): every text a
// SIM sent this month, so that the limits an operator puts on a SIM (messages an
// hour and a day, distinct recipients a day and a month, a pause between sends)
// are counted across restarts and kills. Format: docs/sim-counters-file.md.
//
// One entry per record the modem took, appended and flushed once its messages
// were confirmed. A kill between the confirmation and the append leaves one send
// uncounted: the file can undercount by the records that were being sent at a
// kill, never overcount. Entries before the current month are dropped when the
// file is opened in a new month.
//
// One writer per file: the owner of the counters (app/sim_limits.h) holds its
// lock around every call. Blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/result.h"
#include "store/entry_file.h"

namespace velka::store {

struct SimSend {
    // The SIM's key (its ICCID, or what stands for it when the modem gives none):
    // printable ASCII, at most kSimKeySize bytes.
    std::string sim;
    std::int64_t moment = 0;      // seconds since 1970 UTC, when the modem confirmed it
    std::uint64_t recipient = 0;  // RecipientKey() of the number it went to
    std::uint32_t messages = 1;   // messages (parts of a long text) the modem took, 1..255
    bool operator==(const SimSend&) const = default;
};

inline constexpr std::size_t kSimSendEntrySize = 64;
inline constexpr std::size_t kSimKeySize = 24;
inline constexpr const char* kSimCountersFile = "sim-counters.db";

// Whether `key` can be a SIM's key as the side files keep it: not empty, at most
// kSimKeySize bytes, printable ASCII.
bool IsSimKey(std::string_view key);

// The recipient as the counters know it: a hash of its NumberKey, so that
// "+7 916..." and "8916..." are one recipient and no number is kept in clear.
std::uint64_t RecipientKey(std::string_view number);

using SimSendReading = EntryReading<SimSend>;

// Every entry; a missing file has none and is no damage.
Result<SimSendReading> LoadSimSends(const std::string& path);
// Appends one entry, flushed before this returns. Fails without writing for a SIM
// key that is empty, too long or not printable ASCII.
Status AppendSimSend(const std::string& path, const SimSend& send);
// Replaces the file with `sends`, atomically.
Status SaveSimSends(const std::string& path, std::span<const SimSend> sends);

// The encoded form of one entry, and back. REQUIRES: `bytes` holds kSimSendEntrySize.
std::string EncodeSimSend(const SimSend& send);
// False when the entry's CRC is wrong or its fields cannot be.
bool DecodeSimSend(const char* bytes, SimSend& send);

}  // namespace velka::store
