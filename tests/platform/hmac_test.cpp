#include "platform/hmac.h"

#include <gtest/gtest.h>

#include <string>

namespace velka {
namespace {

std::string Hmac(const std::string& key, const std::string& message) {
    const auto digest = HmacSha256(key, message);
    EXPECT_TRUE(digest.ok()) << (digest.ok() ? "" : digest.error().message);
    return digest.ok() ? LowerHex(*digest) : std::string();
}

std::string Counting(int from, int to) {
    std::string bytes;
    for (int b = from; b <= to; ++b) bytes += static_cast<char>(b);
    return bytes;
}

// RFC 4231, section 4: short and long keys, keys longer than SHA-256's 64-byte
// block (hashed first), data longer than a block, non-text bytes.
TEST(HmacSha256, GivesTheTestVectorsOfRfc4231) {
    EXPECT_EQ(Hmac(std::string(20, '\x0b'), "Hi There"),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(Hmac("Jefe", "what do ya want for nothing?"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(Hmac(std::string(20, '\xaa'), std::string(50, '\xdd')),
              "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    EXPECT_EQ(Hmac(Counting(1, 25), std::string(50, '\xcd')),
              "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
    // Test case 5 gives only the first 128 bits.
    EXPECT_EQ(Hmac(std::string(20, '\x0c'), "Test With Truncation").substr(0, 32),
              "a3b6167473100ee06e0c796c2955552b");
    EXPECT_EQ(
        Hmac(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
        "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(Hmac(std::string(131, '\xaa'),
                   "This is a test using a larger than block-size key and a larger than "
                   "block-size data. The key needs to be hashed before being used by the HMAC "
                   "algorithm."),
              "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

// A hook without a secret still signs, and zero bytes inside key or message count.
TEST(HmacSha256, TakesAnEmptyKeyAndBytesPastAZero) {
    EXPECT_EQ(Hmac("", ""), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
    EXPECT_NE(Hmac(std::string("k\0a", 3), "m"), Hmac("k", "m"));
    EXPECT_NE(Hmac("k", std::string("m\0a", 3)), Hmac("k", "m"));
}

}  // namespace
}  // namespace velka
