#include "platform/crc32.h"

#include <array>

namespace velka {

namespace {

// Eight bytes a step from eight tables ("slicing by 8"): the side files and the
// caches beside the boxes are checked whole on each load, 24 MB for the delivery
// states of a million records, where a byte a step from one table cost 60 ms and
// bit by bit ten times that.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables kTables = [] {
    Tables tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        tables[0][byte] = crc;
    }
    for (std::size_t slice = 1; slice < 8; ++slice) {
        for (std::size_t byte = 0; byte < 256; ++byte) {
            const std::uint32_t before = tables[slice - 1][byte];
            tables[slice][byte] = (before >> 8) ^ tables[0][before & 0xFFu];
        }
    }
    return tables;
}();

std::uint32_t Byte(const char* at, std::size_t i) {
    return static_cast<unsigned char>(at[i]);
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 8; left -= 8, at += 8) {
        const std::uint32_t low =
            crc ^ (Byte(at, 0) | Byte(at, 1) << 8 | Byte(at, 2) << 16 | Byte(at, 3) << 24);
        crc = kTables[7][low & 0xFFu] ^ kTables[6][(low >> 8) & 0xFFu] ^
              kTables[5][(low >> 16) & 0xFFu] ^ kTables[4][low >> 24] ^ kTables[3][Byte(at, 4)] ^
              kTables[2][Byte(at, 5)] ^ kTables[1][Byte(at, 6)] ^ kTables[0][Byte(at, 7)];
    }
    for (; left > 0; --left, ++at) crc = (crc >> 8) ^ kTables[0][(crc ^ Byte(at, 0)) & 0xFFu];
    return ~crc;
}

}  // namespace velka
