// The contact file readers: an imported file is whatever a phone, a spreadsheet or
// a stranger wrote. Both readers must take any bytes, and what they give must come
// back unchanged through the writers and the readers again, which is what makes an
// export from the client import into the same book.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "contact_files/contacts_csv.h"
#include "contact_files/vcard.h"
#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"

namespace velka::contact_files {
namespace {

std::vector<contacts::Contact> Contacts(const ParsedFile& parsed) {
    std::vector<contacts::Contact> contacts;
    for (const FileRow& row : parsed.rows) contacts.push_back(row.contact);
    return contacts;
}

// A vCard writes a line break as "\n", so a CR inside a field reads back as LF;
// a number that begins with "tel:" reads back as a URI. Both are left out of the
// round trip.
bool VCardKeepsAsWritten(const contacts::Contact& contact) {
    const auto has_cr = [](const std::string& text) {
        return text.find('\r') != std::string::npos;
    };
    return !has_cr(contact.name) && !has_cr(contact.number) && !has_cr(contact.group) &&
           !codepage::StartsWithIgnoreCase(contact.number, "tel:");
}

void CheckRoundTrip(const std::vector<contacts::Contact>& contacts) {
    const ParsedFile csv = ParseContactsCsv(ContactsCsvText(contacts));
    FUZZ_CHECK(!csv.error && csv.bad.empty());
    FUZZ_CHECK(Contacts(csv) == contacts);
    if (!std::all_of(contacts.begin(), contacts.end(), VCardKeepsAsWritten)) return;
    const ParsedFile vcard = ParseVCards(VCardsText(contacts));
    FUZZ_CHECK(vcard.bad.empty());
    FUZZ_CHECK(Contacts(vcard) == contacts);
}

}  // namespace
}  // namespace velka::contact_files

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velka::contact_files;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const ParsedFile& parsed : {ParseVCards(bytes), ParseContactsCsv(bytes)}) {
        FUZZ_CHECK(!parsed.error || parsed.rows.empty());
        CheckRoundTrip(Contacts(parsed));
    }
    return 0;
}
