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

}  // namespace
}  // namespace velka
