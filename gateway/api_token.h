// The gateway's access token: a random secret every request must carry as
// "Authorization: Bearer <token>". Kept in api-token.txt beside Config.ini, private
// to its owner as every file the client creates (platform/file_access.h); made at
// the first start and renewed from the settings dialog. Any thread; blocks on the disk.
#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::gateway {

inline constexpr const char* kTokenFile = "api-token.txt";
// 32 bytes of the platform's randomness, written as 64 lowercase hexadecimal digits.
inline constexpr std::size_t kTokenBytes = 32;

// The token of the program directory, made and saved first when there is none (or
// the file holds no token of the right form).
Result<std::string> LoadOrMakeToken(const std::string& program_directory);

// A fresh token saved over the old one: requests with the old one are refused from
// the next check on.
Result<std::string> RenewToken(const std::string& program_directory);

// Whether `given` is `expected`, in a time that depends on the expected token's
// length alone, so that the answer's timing tells nothing of how many leading
// characters were right.
bool TokenMatches(std::string_view expected, std::string_view given);

}  // namespace velka::gateway
