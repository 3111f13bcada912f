// JSON output of velka-sms-cli for scripts: one value per run, UTF-8, every string
// escaped as RFC 8259 asks. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velka::cli {

// `text` (UTF-8) as a JSON string with its quotes: the quote, the backslash and
// every control character escaped; other characters, Cyrillic included, as they are.
std::string JsonString(std::string_view text);

// An object whose members are written in this order; each value is JSON already
// (a JsonString, a number, null).
using JsonMembers = std::vector<std::pair<std::string, std::string>>;
std::string JsonObject(const JsonMembers& members);

// An array of values that are JSON already, one per line for readability.
std::string JsonArray(const std::vector<std::string>& values);

}  // namespace velka::cli
