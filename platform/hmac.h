// HMAC-SHA256 from the system's own cryptography: OpenSSL's libcrypto on Linux,
// CNG (bcrypt.dll) on Windows. Never a hash of our own: a signature a receiver
// trusts must come from code that has been looked at by many. Pure; blocks on
// nothing; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka {

inline constexpr std::size_t kSha256Size = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256Size>;

// The HMAC-SHA256 of `message` under `key` (any length; an empty key is allowed).
// An Error only when the system's library refuses, which it does not for valid input.
Result<Sha256Digest> HmacSha256(std::string_view key, std::string_view message);

// The digest as 64 lower-case hexadecimal digits, the form signatures are sent in.
std::string LowerHex(const Sha256Digest& digest);

}  // namespace velka
