#include "contact_files/contact_file.h"

#include "contact_files/contacts_csv.h"
#include "contact_files/vcard.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace velka::contact_files {

std::string Text(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

ContactFormat FormatOfPath(std::string_view path) {
    constexpr std::string_view kCsv = ".CSV";
    if (path.size() >= kCsv.size() &&
        codepage::EqualIgnoreCase(path.substr(path.size() - kCsv.size()), kCsv)) {
        return ContactFormat::Csv;
    }
    return ContactFormat::VCard;
}

ParsedFile ParseContactFile(ContactFormat format, std::string_view bytes,
                            const ColumnChoices& choices) {
    return format == ContactFormat::Csv ? ParseContactsCsv(bytes, choices) : ParseVCards(bytes);
}

std::string ContactFileText(ContactFormat format, const std::vector<contacts::Contact>& contacts) {
    return format == ContactFormat::Csv ? ContactsCsvText(contacts) : VCardsText(contacts);
}

std::string NumberFromFile(std::string_view text) {
    std::string number;
    for (const char c : text) {
        if (std::string_view(" \t-.()").find(c) == std::string_view::npos) number += c;
    }
    return number;
}

BasicStatus<ExportError> ExportContacts(const contacts::ContactBook& book, std::string_view group,
                                        ContactFormat format, const std::string& path) {
    const contacts::Listing listing =
        group.empty() ? book.FullListing() : book.FilteredListing("", group);
    if (listing.error) return ExportError{ExportError::Source::Listing, *listing.error};
    const Status saved = files::SaveDurably(path, ContactFileText(format, listing.rows));
    if (!saved) return ExportError{ExportError::Source::File, saved.error().message};
    return {};
}

}  // namespace velka::contact_files
