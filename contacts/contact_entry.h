// The rules for a contact typed into the contact dialog, and the texts the
// contact handlers show. Windows-1251 text in and out.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "contacts/contact_book.h"

namespace velka::contacts {

enum class EntryProblem {
    InvalidNumber,       // a character of the number is neither '+' nor a digit
    EmptyFields,         // the name or the number is empty
    GroupWithBackslash,  // the group would become nested registry keys
};

// The first problem of an entry, in the order the user is told about them: the
// characters of the number, then empty fields, then the group name.
std::optional<EntryProblem> CheckEntry(const Contact& entry);

// The warning shown for a problem.
std::string ProblemMessage(EntryProblem problem);

// Adding and editing name an empty group differently ("нет" and "Нет"); both land
// in the same group key, since key names ignore letter case.
enum class EntryMode { Add, Edit };
std::string GroupOrDefault(std::string_view group, EntryMode mode);

// The confirmation question before a contact is removed.
std::string RemovalQuestion(std::string_view name);

// A change of the contact book that the registry refused.
enum class RefusedChange {
    Add,      // the new contact was not written
    Edit,     // the edited contact was not written; the old one stays
    OldKept,  // the edited contact was written, but the old one could not be deleted
    Remove,   // the contact could not be deleted
};

// The warning for a refused change, in two parts that frame the registry's own
// reason: what was not done to `contact`, and what the contact list shows now.
struct RefusalText {
    std::string what;
    std::string outcome;
};
RefusalText RefusalWarning(RefusedChange change, const Contact& contact);

}  // namespace velka::contacts
