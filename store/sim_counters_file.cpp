#include "store/sim_counters_file.h"

#include <algorithm>

#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/fnv.h"
#include "platform/number_key.h"
#include "store/little_endian.h"

namespace velka::store {
namespace {

// Entry layout, little-endian (docs/sim-counters-file.md): moment (8), recipient
// (8), messages (1), seven zero bytes, the SIM's key (24, zero-filled), twelve zero
// bytes, CRC-32 of bytes 0-59 (4).
constexpr std::size_t kMomentAt = 0;
constexpr std::size_t kRecipientAt = 8;
constexpr std::size_t kMessagesAt = 16;
constexpr std::size_t kSimAt = 24;
constexpr std::size_t kCrcAt = kSimSendEntrySize - 4;

}  // namespace

bool IsSimKey(std::string_view key) {
    return !key.empty() && key.size() <= kSimKeySize &&
           std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

std::uint64_t RecipientKey(std::string_view number) {
    return Fnv1a(NumberKey(number));
}

std::string EncodeSimSend(const SimSend& send) {
    std::string bytes(kSimSendEntrySize, '\0');
    PutLittleEndian64(bytes, kMomentAt, static_cast<std::uint64_t>(send.moment));
    PutLittleEndian64(bytes, kRecipientAt, send.recipient);
    PutLittleEndian(bytes, kMessagesAt, std::min<std::uint32_t>(send.messages, 255), 1);
    const std::size_t length = std::min(send.sim.size(), kSimKeySize);
    bytes.replace(kSimAt, length, send.sim, 0, length);
    PutLittleEndian(bytes, kCrcAt, Crc32(std::string_view(bytes).substr(0, kCrcAt)), 4);
    return bytes;
}

bool DecodeSimSend(const char* bytes, SimSend& send) {
    const std::string_view entry(bytes, kSimSendEntrySize);
    if (GetLittleEndian(bytes, kCrcAt, 4) != Crc32(std::string_view(bytes, kCrcAt))) return false;
    const std::string_view field(bytes + kSimAt, kSimKeySize);
    const std::string_view sim = field.substr(0, field.find('\0'));
    const std::uint32_t messages = GetLittleEndian(bytes, kMessagesAt, 1);
    if (!IsSimKey(sim) || messages == 0) return false;
    send.sim = std::string(sim);
    send.moment = static_cast<std::int64_t>(ReadLittleEndian(entry, kMomentAt, 8));
    send.recipient = ReadLittleEndian(entry, kRecipientAt, 8);
    send.messages = messages;
    return true;
}

Result<SimSendReading> LoadSimSends(const std::string& path) {
    return LoadEntries<SimSend>(path, kSimSendEntrySize, DecodeSimSend);
}

Status AppendSimSend(const std::string& path, const SimSend& send) {
    if (!IsSimKey(send.sim)) return Error{"not a SIM key: '" + send.sim + "'"};
    return files::AppendDurably(path, EncodeSimSend(send), kSimSendEntrySize);
}

Status SaveSimSends(const std::string& path, std::span<const SimSend> sends) {
    std::string bytes;
    bytes.reserve(sends.size() * kSimSendEntrySize);
    for (const SimSend& send : sends) bytes += EncodeSimSend(send);
    return files::SaveDurably(path, bytes);
}

}  // namespace velka::store
