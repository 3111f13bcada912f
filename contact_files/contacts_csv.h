// CSV files of contacts: the one this program writes, whose header names the
// columns "name", "number" and "group" (in any order; other columns are ignored,
// "group" may be missing), and the exports of address books and phones, known by
// the titles of their header: Google Contacts, Outlook (English and Russian
// editions) and a phone's plain "Name,Phone" list. One contact per record, RFC 4180
// quoting, ',' or ';' between fields (whichever the header line uses more of,
// outside quotes).
//
// From an export, the name is its full-name column, else the given, middle and
// family names joined; every phone column with a value gives a contact of its own,
// so a record with three numbers gives three; the group is the first label of its
// group or category column that is not a system one ("* myContacts"). A record with
// no number at all gives one contact without a number, for the contact rules to
// refuse with their reason.
//
// A header none of this knows is read through the columns the user chose for it
// (ColumnChoices); without such a choice the file is refused with its titles in
// ParsedFile::unknown_header, so that a front end can ask and read it again.
//
// Reading takes UTF-8, with or without a byte order mark, and also Windows-1251,
// told apart by not being valid UTF-8; records are named by the line they begin
// on. Writing gives UTF-8 without a mark, the header "name,number,group", CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "contact_files/column_choices.h"
#include "contact_files/contact_file.h"

namespace velka::contact_files {

ParsedFile ParseContactsCsv(std::string_view bytes, const ColumnChoices& choices = {});
// The titles of the file's header as ParseContactsCsv reads them (Windows-1251);
// none for a file of blank lines only.
std::vector<std::string> CsvHeaderTitles(std::string_view bytes);
std::string ContactsCsvText(const std::vector<contacts::Contact>& contacts);

}  // namespace velka::contact_files
