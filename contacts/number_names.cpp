#include "contacts/number_names.h"

namespace velka::contacts {

NumberNames::NumberNames(const std::vector<Contact>& contacts) {
    for (const Contact& contact : contacts) {
        std::string key = NumberKey(contact.number);
        if (!key.empty()) names_.try_emplace(std::move(key), contact.name);
    }
}

std::string_view NumberNames::NameOf(std::string_view number) const {
    const auto found = names_.find(NumberKey(number));
    return found == names_.end() ? std::string_view() : std::string_view(found->second);
}

std::string NumberNames::Shown(std::string_view number) const {
    const std::string_view name = NameOf(number);
    if (name.empty()) return std::string(number);
    return std::string(name) + " (" + std::string(number) + ")";
}

}  // namespace velka::contacts
