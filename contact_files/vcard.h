// vCard files, as phones and address books exchange contacts.
//
// Reading takes vCard 3.0 and 4.0 (UTF-8, lines folded at any point and unfolded
// here, "\," "\;" "\\" "\n" escapes) and the vCard 2.1 that many phones still
// export (QUOTED-PRINTABLE values with soft line breaks, CHARSET= parameters). The
// name is FN, else the parts of N; each TEL gives one contact, so a card with
// three numbers gives three; the group is the first of CATEGORIES. A card with no
// number, or that never ends, is a bad row named by its card number.
//
// Writing gives vCard 3.0: one card per contact with FN, N, TEL and CATEGORIES
// (the group), lines folded at 75 octets without splitting a character.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "contact_files/contact_file.h"

namespace velka::contact_files {

ParsedFile ParseVCards(std::string_view bytes);
std::string VCardsText(const std::vector<contacts::Contact>& contacts);

}  // namespace velka::contact_files
