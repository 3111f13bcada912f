// The USSD codes used before, offered again in the window's "USSD-запрос…": kept
// in ussd-codes.txt beside the store files (docs/ussd-codes-file.md). Block on the
// disk; the front end's thread, the file's one writer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/result.h"

namespace velka::app {

inline constexpr const char* kUssdCodesFile = "ussd-codes.txt";
inline constexpr std::size_t kUssdCodesKept = 20;

// The codes, the last used first (UTF-8); none when the file is missing or unreadable.
std::vector<std::string> LoadUssdCodes(const std::string& path);
// Puts `code` first, the others after it without it, at most kUssdCodesKept, and
// saves them durably. Blanks around the code are left out; an empty one changes
// nothing.
Status RememberUssdCode(const std::string& path, const std::string& code);

}  // namespace velka::app
