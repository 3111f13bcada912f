// 64-bit FNV-1a, for keys that are kept in files (unread marks, received message
// identities) and so must come out the same on every system and build, which
// std::hash does not promise. Not a cryptographic hash. Pure; any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace velka {

inline constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;

// Continues `hash` over `bytes`; start from kFnvOffset.
constexpr std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = kFnvOffset) {
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

}  // namespace velka
