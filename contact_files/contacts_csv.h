// CSV files of contacts for spreadsheets and other programs: a header line naming
// the columns "name", "number" and "group" (in any order; other columns are
// ignored, "group" may be missing), then one contact per record, RFC 4180 quoting.
//
// Reading takes UTF-8, with or without a byte order mark, and also Windows-1251,
// told apart by not being valid UTF-8; records are named by the line they begin
// on. Writing gives UTF-8 without a mark, the header "name,number,group", CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "contact_files/contact_file.h"

namespace velka::contact_files {

ParsedFile ParseContactsCsv(std::string_view bytes);
std::string ContactsCsvText(const std::vector<contacts::Contact>& contacts);

}  // namespace velka::contact_files
