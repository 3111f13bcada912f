// JSON output of velka-sms-cli for scripts: one value per run, UTF-8, built and
// escaped by nlohmann-json. Pure functions, any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace velka::cli {

// Objects keep their members in the order they were added, so that a listing's
// messages read "number", "datetime", "text" (and "state") as scripts have seen.
using Json = nlohmann::ordered_json;

// `value` as velka-sms-cli prints it, without a final line break: indented by two
// spaces, characters beyond ASCII (Cyrillic) as they are, the quote, the backslash
// and every control character, the zero byte included, escaped. A string that is
// not well-formed UTF-8 gets U+FFFD for each bad sequence rather than an exception,
// so that one odd record cannot cost a script the whole listing.
std::string JsonText(const Json& value);

}  // namespace velka::cli
