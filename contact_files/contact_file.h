// What the contact file readers give, and the file formats as a whole: which one a
// path names, reading either, writing either, and the export of the book.
//
// Files are UTF-8 (a Windows-1251 CSV and vCard 2.1 charsets are read too); every
// text here is Windows-1251, as in the rest of the core, so a character the code
// page lacks becomes '?' on reading. Pure, apart from ExportContacts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contact_files/column_choices.h"
#include "contacts/contact_book.h"
#include "platform/result.h"

namespace velka::contact_files {

// One contact a file gives, with where it stands for the import report.
struct FileRow {
    std::string where;          // "Строка 4" (CSV) or "Карточка 2" (vCard)
    contacts::Contact contact;  // the group is empty when the file names none
};

// A row or card that gives no contact, and why (a sentence for the user).
struct BadRow {
    std::string where;
    std::string reason;
};

struct ParsedFile {
    std::vector<FileRow> rows;
    std::vector<BadRow> bad;
    // Set when the file as a whole cannot be read as the format: nothing is imported.
    std::optional<std::string> error;
    // Set, with `error`, when a CSV header is not known and no column choice was
    // remembered for it: its titles, for the user to say which column holds the
    // name and which the number.
    std::optional<std::vector<std::string>> unknown_header;
};

enum class ContactFormat { VCard, Csv };

// CSV for a name ending in ".csv" (any letter case), vCard otherwise.
ContactFormat FormatOfPath(std::string_view path);

// `choices` are the columns the user named for CSV headers the reader does not know.
ParsedFile ParseContactFile(ContactFormat format, std::string_view bytes,
                            const ColumnChoices& choices = {});
std::string ContactFileText(ContactFormat format, const std::vector<contacts::Contact>& contacts);

// A number as files write it for people ("+7 (912) 345-67-89") as the book keeps
// it: without the blanks, dashes, dots and brackets between the digits. Anything
// else stays, for the contact rules to judge.
std::string NumberFromFile(std::string_view text);

// Why an export wrote nothing. The two sources speak different encodings.
struct ExportError {
    enum class Source {
        Listing,  // the registry could not list the contacts: Windows-1251, as the book says it
        File,     // the file could not be written: the system's message, in its own encoding
    };
    Source source = Source::File;
    std::string message;
};

// Writes every contact of the book, or of `group` when it is not empty, to `path`
// durably. A listing the registry cannot finish writes nothing: the file would
// silently miss contacts.
BasicStatus<ExportError> ExportContacts(const contacts::ContactBook& book, std::string_view group,
                                        ContactFormat format, const std::string& path);

// The texts of this module are written in UTF-8 and kept as Windows-1251.
std::string Text(std::string_view utf8);

}  // namespace velka::contact_files
