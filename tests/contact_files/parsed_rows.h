// What the contact file tests read a parsed file by: its contacts in file order,
// and texts written in UTF-8 in the test as the program's Windows-1251.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "contact_files/contact_file.h"
#include "platform/codepage.h"

namespace velka::contact_files::parsed_rows {

inline std::string Cp(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

inline std::vector<contacts::Contact> Contacts(const ParsedFile& parsed) {
    std::vector<contacts::Contact> contacts;
    for (const FileRow& row : parsed.rows) contacts.push_back(row.contact);
    return contacts;
}

}  // namespace velka::contact_files::parsed_rows
