#include "store/chksum.h"

namespace velka {
namespace {

// The key with its terminating zero: the zero takes part as every eleventh key byte.
constexpr char kChecksumKey[] = "qotmu724k8";
constexpr std::size_t kKeyBytes = sizeof kChecksumKey;  // 11

// A byte as the signed 8-bit value the format takes: text bytes from 0x80 up (every
// Cyrillic letter) enter the XOR as negative numbers.
std::int32_t SignedByte(char byte) {
    const std::int32_t value = static_cast<unsigned char>(byte);
    return value < 0x80 ? value : value - 0x100;
}

}  // namespace

std::uint32_t chksum(const char* bytes, std::size_t length) {
    std::uint32_t sum = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::int32_t key = SignedByte(kChecksumKey[k]);
        const std::int32_t data = SignedByte(bytes[i]);
        const std::uint32_t term =
            static_cast<std::uint32_t>(key) + 2u * static_cast<std::uint32_t>(i);
        sum += term ^ static_cast<std::uint32_t>(data);
        if (++k >= kKeyBytes) k = 0;
    }
    return sum;
}

}  // namespace velka
