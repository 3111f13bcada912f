// CRC-32 of IEEE 802.3 (the zlib and PNG one), for the side files whose entries
// carry their own checksum (queue.db, outbox.states). Pure; any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace velka {

std::uint32_t Crc32(std::string_view bytes);

}  // namespace velka
