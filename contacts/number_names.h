// Names for numbers: which contact of the book a telephone number belongs to, as
// the message views show it. A number matches a contact when their digits match;
// a Russian number written nationally ("8" and ten digits) is the same number as
// written internationally ("+7" and ten digits). Pure; built on the UI thread from
// a listing, read on it afterwards.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "contacts/contact_book.h"

namespace velka::contacts {

// The digits that identify a number: every digit in order, blanks, dashes,
// brackets and the "+" left out; "8XXXXXXXXXX" becomes "7XXXXXXXXXX". A sender
// name without digits ("MTS") gives an empty key, which matches nothing.
std::string NumberKey(std::string_view number);

class NumberNames {
  public:
    NumberNames() = default;
    // The contacts in listing order; where two contacts share a number (in two
    // groups), the first one listed names it.
    explicit NumberNames(const std::vector<Contact>& contacts);

    // The name of the contact with this number, or empty when the book has none.
    std::string_view NameOf(std::string_view number) const;

    // How a view shows a number: "Name (number)" when the book knows it, else the
    // number as it stands.
    std::string Shown(std::string_view number) const;

  private:
    std::unordered_map<std::string, std::string> names_;  // by NumberKey
};

}  // namespace velka::contacts
