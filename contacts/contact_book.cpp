#include "contacts/contact_book.h"

#include "platform/codepage.h"

namespace velka::contacts {
namespace {

std::string GroupKey(std::string_view group) {
    std::string key = kContactKey;
    key += '\\';
    key += group;
    return key;
}

std::string InvalidDataType(const std::string& value_name) {
    return "Invalid data type for '" + value_name + "'";
}

RegistryError InvalidGroupName(std::string_view group) {
    return {RegistryFailure::InvalidName,
            "The group name \"" + codepage::ToUtf8(group) +
                "\" is empty or holds a backslash, and cannot be a registry key.",
            0};
}

bool HasSubKeys(Registry& registry, const std::string& key) {
    auto subkeys = registry.SubKeys(key);
    return !subkeys || !subkeys->empty();  // unknown counts as "has": never delete blindly
}

}  // namespace

bool NameMatches(std::string_view name, std::string_view prefix) {
    return codepage::StartsWithIgnoreCase(name, prefix);
}

bool IsValidGroupName(std::string_view group) {
    return !group.empty() && group.find('\\') == std::string_view::npos;
}

bool IsSameStoredContact(const Contact& a, const Contact& b) {
    return codepage::EqualIgnoreCase(a.group, b.group) &&
           codepage::EqualIgnoreCase(a.number, b.number);
}

std::vector<std::string> ContactBook::GroupNames() const {
    auto names = registry_.SubKeys(kContactKey);
    if (!names) return {};
    return std::move(*names);
}

Listing ContactBook::FullListing() const {
    return ListEveryGroup({});
}

Listing ContactBook::FilteredListing(std::string_view name, std::string_view group) const {
    if (group.empty()) return ListEveryGroup(name);
    Listing listing;
    if (IsValidGroupName(group))
        ListGroup(std::string(group), group, name, DropEmptyGroup::No, listing);
    return listing;
}

Listing ContactBook::ListEveryGroup(std::string_view prefix) const {
    Listing listing;
    for (const std::string& group : GroupNames()) {
        if (!ListGroup(group, group, prefix, DropEmptyGroup::Yes, listing)) break;
    }
    return listing;
}

bool ContactBook::ListGroup(const std::string& group, std::string_view shown_group,
                            std::string_view prefix, DropEmptyGroup drop, Listing& listing) const {
    const std::string key = GroupKey(group);
    auto values = registry_.Values(key);
    if (!values) return true;
    // A key that still has keys below it (written by an older version that took
    // a backslash in a group name as a path) is kept: deleting it would delete
    // contacts this listing cannot show.
    if (values->empty()) {
        // An empty group key the registry would not delete is only offered in the
        // group lists until a later listing deletes it.
        if (drop == DropEmptyGroup::Yes && !HasSubKeys(registry_, key))
            IgnoreFailure(registry_.DeleteKey(key));
        return true;
    }
    for (RegistryValueInfo& value : *values) {
        if (value.type != RegistryValueType::String) {
            listing.error = InvalidDataType(value.name);
            return false;
        }
        if (!NameMatches(value.text, prefix)) continue;
        listing.rows.push_back({std::move(value.text), value.name, std::string(shown_group)});
    }
    return true;
}

RegistryStatus ContactBook::WriteContact(const Contact& contact) const {
    if (!IsValidGroupName(contact.group)) return InvalidGroupName(contact.group);
    return registry_.WriteString(GroupKey(contact.group), contact.number, contact.name);
}

Registry::BatchWrite ContactBook::WriteGroup(std::string_view group,
                                             const std::vector<Contact>& contacts) const {
    if (!IsValidGroupName(group)) return {0, InvalidGroupName(group)};
    std::vector<std::pair<std::string, std::string>> values;
    values.reserve(contacts.size());
    for (const Contact& contact : contacts) values.emplace_back(contact.number, contact.name);
    return registry_.WriteStrings(GroupKey(group), values);
}

RegistryStatus ContactBook::DeleteContact(std::string_view group, std::string_view number) const {
    if (!IsValidGroupName(group)) return InvalidGroupName(group);
    const std::string key = GroupKey(group);
    if (RegistryStatus created = registry_.CreateKey(key); !created) return created;
    RegistryStatus deleted = registry_.DeleteValue(key, std::string(number));
    if (!deleted && deleted.error().failure == RegistryFailure::ValueNotFound) return {};
    return deleted;
}

ContactMove ContactBook::MoveContact(const Contact& old, const Contact& updated) const {
    ContactMove move{WriteContact(updated), {}};
    if (move.written && !IsSameStoredContact(old, updated))
        move.old_deleted = DeleteContact(old.group, old.number);
    return move;
}

}  // namespace velka::contacts
