// The import of a contact file into the book, in two steps so that the user is
// asked once, before anything is written, what to do with numbers the book holds
// already under other names: PlanImport reads the book and sorts every row,
// ApplyImport writes.
//
// Rows follow the rules of a contact typed into the contact dialog; a row that
// breaks them is a bad row, named with its reason. The contacts go to the registry
// one group at a time (Registry::WriteStrings), since a registry call of its own
// for each of thousands of contacts takes seconds. A refused write stops the
// import there: what was written stays whole (each contact is one value), and the
// report says how many were written before the stop and why it stopped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contact_files/contact_file.h"
#include "contacts/contact_book.h"

namespace velka::contact_files {

// What becomes of a number the book holds already under another name: left out,
// or written with the file's name (replacing the stored name in its own group;
// beside it, when another group holds it).
enum class ExistingNumber { Skip, Update };

struct ImportPlan {
    enum class Kind {
        New,        // the number is not in its group, nor under another name in any other
        SameName,   // the group holds the number under this name already: nothing to do
        OtherName,  // some group holds the number under another name: skip or update
    };
    struct Entry {
        std::string where;
        contacts::Contact contact;  // with its group as it will be stored
        Kind kind = Kind::New;
        // For SameName and OtherName: the name stored and the group that holds it
        // (the contact's own group when that holds the number).
        std::string stored_name;
        std::string stored_group;

        // True when writing the entry replaces a stored name rather than adding.
        bool Replaces() const;
    };
    std::vector<Entry> entries;  // in file order
    std::vector<BadRow> bad;
    // Set when the book could not be read: nothing may be written, as a number
    // stored there could not be told from a new one.
    std::optional<std::string> error;

    bool HasOtherNames() const;
};

// True when some row names no group, so the user must pick one.
bool NeedsGroup(const ParsedFile& file);

// Sorts the rows of `file` against the book. Rows without a group go to
// `chosen_group`, or, when that is empty too, to the group an added contact
// without one goes to. A number repeated in the file counts against its first
// row as against a stored one. A number stored in another group under the same
// name is a new contact of this group: one person in two groups.
ImportPlan PlanImport(const ParsedFile& file, std::string_view chosen_group,
                      const contacts::ContactBook& book);

struct ImportReport {
    std::size_t imported = 0;
    std::size_t updated = 0;
    std::vector<BadRow> skipped;  // with why
    std::vector<BadRow> bad;
    // Set when the registry refused a write: its reason (UTF-8); the contacts after
    // the refused ones were not written, and `not_written` counts them all.
    std::optional<std::string> stopped;
    std::size_t not_written = 0;
};

ImportReport ApplyImport(const ImportPlan& plan, ExistingNumber existing,
                         const contacts::ContactBook& book);

// Where the contacts of an import come from, for the words that name it.
enum class ImportSource { File, Sim };

// The OtherName entries for the question before the import, one a line: the
// number, the name and group stored, the name in the file (or on the SIM). At most
// `shown` lines, then "и ещё N" for the rest, so that the question fits on the screen.
std::string OtherNamesList(const ImportPlan& plan, std::size_t shown,
                           ImportSource source = ImportSource::File);

// The report for the user: the counts, and whether and why the import stopped.
std::string ReportSummary(const ImportReport& report);
// Each skipped and bad row with its reason, one per line; empty when none.
std::string ReportDetails(const ImportReport& report);

}  // namespace velka::contact_files
