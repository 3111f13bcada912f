// contacts/: the contact book kept in the machine registry, and the rules for a
// contact typed in by hand. Standard C++ over platform/ only; the contact dialog
// (edit_form.*) and the main window's handlers sit on top of it.
//
// Layout in the registry: the contact key holds one subkey per group; a group key
// holds one string value per contact, named after the number, holding the name.
// The book keeps nothing in memory: every listing reads the registry afresh.
//
// Every operation runs to its end without processing user-interface events, so a
// listing can never start inside another one. A key that cannot be opened for a
// listing contributes nothing, silently. A change the registry refuses is reported
// with the registry's reason: the caller must tell the user, or the list would show
// a contact that is not stored.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace velka::contacts {

inline constexpr char kContactKey[] = "\\SOFTWARE\\Velka\\ZEDOzadev\\Contacts";

// A contact, and also one row of a contact list view: the name is the row's
// caption, the number and the group its two sub-items. Windows-1251 text.
struct Contact {
    std::string name;
    std::string number;
    std::string group;
    bool operator==(const Contact&) const = default;
};

// What a listing produced. A value whose data is not a string stops the listing
// at that value: `error` then holds the message for the user, and `rows` the
// contacts listed before it.
struct Listing {
    std::vector<Contact> rows;
    std::optional<std::string> error;
};

// True when the first characters of `name` equal `prefix`, ignoring letter case
// for Latin and Cyrillic. A name shorter than the prefix never matches.
bool NameMatches(std::string_view name, std::string_view prefix);

// Group names become registry key names, so a backslash would make nested keys.
bool IsValidGroupName(std::string_view group);

// True when the two contacts are one registry value: the same group and number,
// ignoring letter case as key and value names do. The names are not compared.
bool IsSameStoredContact(const Contact& a, const Contact& b);

// What an edit left in the registry, with the registry's reason for each refusal.
struct ContactMove {
    RegistryStatus written;      // refused: nothing changed, the old contact is stored as it was
    RegistryStatus old_deleted;  // refused: the new contact and the old one are both stored
};

class ContactBook {
  public:
    // The registry must outlive the book. UI thread only.
    explicit ContactBook(Registry& registry) : registry_(registry) {}

    // The names of all group keys, in the registry's order.
    std::vector<std::string> GroupNames() const;

    // Every contact of every group. Deletes the keys of groups that hold no
    // contacts any more.
    Listing FullListing() const;

    // The contacts whose name begins with `name` (any name when empty) in the
    // group `group` (every group when empty; then empty groups are deleted as in
    // the full listing). With a group given, rows show the group as typed.
    Listing FilteredListing(std::string_view name, std::string_view group) const;

    // Stores the contact, replacing the name of the same number in the same
    // group. On failure nothing is stored: the registry refused, or the group
    // name is not valid (InvalidName).
    [[nodiscard]] RegistryStatus WriteContact(const Contact& contact) const;

    // Stores many contacts of one group (each contact's own group is not read) as
    // one registry call, replacing the names of numbers already there. The registry's
    // batch write says how many are stored when it refuses; none, when the group
    // name is not valid (InvalidName). Each contact is one value, so none is ever
    // stored in part.
    [[nodiscard]] Registry::BatchWrite WriteGroup(std::string_view group,
                                                  const std::vector<Contact>& contacts) const;

    // Deletes the contact's value; the group key stays even when now empty. A
    // contact that is not stored counts as deleted.
    [[nodiscard]] RegistryStatus DeleteContact(std::string_view group,
                                               std::string_view number) const;

    // Changes the stored contact `old` into `updated`. The new value is written
    // first and the old one deleted only after it, so a refusal at either step
    // loses neither; when both are one value, the write alone replaces it.
    [[nodiscard]] ContactMove MoveContact(const Contact& old, const Contact& updated) const;

  private:
    enum class DropEmptyGroup { No, Yes };

    // Appends the contacts of one group key whose names match `prefix` to
    // `listing`, each shown with `shown_group`. False when the listing must stop.
    bool ListGroup(const std::string& group, std::string_view shown_group, std::string_view prefix,
                   DropEmptyGroup drop, Listing& listing) const;
    Listing ListEveryGroup(std::string_view prefix) const;

    Registry& registry_;
};

}  // namespace velka::contacts
