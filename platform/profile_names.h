// Which section and key names and values a profile file could not give back as
// written; shared by both implementations of the profile functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velka::profile {

// Why the key cannot be written (a sentence fragment), or nothing when it can.
std::optional<std::string> WhyUnwritable(std::string_view section, std::string_view key,
                                         std::string_view value);

// The message of a refused write: names the file, the key and the reason.
std::string RefusalMessage(const std::string& file, std::string_view section, std::string_view key,
                           const std::string& why);

}  // namespace velka::profile
