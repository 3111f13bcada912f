// Names for numbers: which contact of the book a telephone number belongs to, as
// the message views show it. A number matches a contact when their NumberKeys
// (platform/number_key.h) match. Pure; built on the UI thread from
// a listing, read on it afterwards.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "contacts/contact_book.h"
#include "platform/number_key.h"

namespace velka::contacts {

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
