// Little-endian numbers at fixed offsets of the side files' entries (the parts
// file, the sent file), whatever the host's byte order. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velka::store {

// REQUIRES: out holds at + bytes bytes.
inline void PutLittleEndian(std::string& out, std::size_t at, std::uint32_t value,
                            std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
        out[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// REQUIRES: `bytes` holds at + count bytes.
inline std::uint32_t GetLittleEndian(const char* bytes, std::size_t at, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// REQUIRES: out holds at + 8 bytes.
inline void PutLittleEndian64(std::string& out, std::size_t at, std::uint64_t value) {
    PutLittleEndian(out, at, static_cast<std::uint32_t>(value), 4);
    PutLittleEndian(out, at + 4, static_cast<std::uint32_t>(value >> 32), 4);
}

// Appends `bytes` bytes of `value` to `out`, lowest first.
inline void AppendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The `bytes`-byte number at `at` of `in`, lowest byte first.
// REQUIRES: `in` holds at + bytes bytes.
inline std::uint64_t ReadLittleEndian(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

}  // namespace velka::store
