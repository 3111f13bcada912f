// Which section and key names and values a profile file could not give back as
// written; shared by both implementations of the profile functions.
#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::profile {

// The first step of every write: trims blanks off both ends of `section` and `key`
// (as reading does), then refuses names and values that could not be read back as
// written, with a message that names the file, the key and the reason.
Status PrepareWrite(const std::string& file, std::string_view& section, std::string_view& key,
                    std::string_view value);

// The same for the removal of a section: trims `section`, then refuses a name no
// section line could hold.
Status PrepareDelete(const std::string& file, std::string_view& section);

}  // namespace velka::profile
