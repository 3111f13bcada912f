// Little-endian numbers at fixed offsets of the side files' entries (the parts
// file, the sent file), whatever the host's byte order. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

}  // namespace velka::store
