#include "platform/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace velka {
namespace {

// The check values of CRC-32/ISO-HDLC (zlib's crc32), so that files written by one
// build read in another, whatever way the sum is computed.
TEST(Crc32, GivesTheCheckValuesOfZlibsCrc32) {
    EXPECT_EQ(Crc32(""), 0x00000000u);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(Crc32(std::string(64, '\0')), 0x758D6336u);
    EXPECT_EQ(Crc32(std::string(1, '\xFF')), 0xFF000000u);
}

// Bit by bit, as the polynomial defines it: the sum computed eight bytes a step
// must agree with it at every length and every byte value.
std::uint32_t BitByBit(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(Crc32, AgreesWithTheBitwiseSumAtEveryLengthAndByte) {
    std::string bytes;
    for (int i = 0; i < 600; ++i) bytes += static_cast<char>(i * 37 + i / 256);
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        const std::string_view prefix(bytes.data(), length);
        ASSERT_EQ(Crc32(prefix), BitByBit(prefix)) << "length " << length;
    }
}

}  // namespace
}  // namespace velka
