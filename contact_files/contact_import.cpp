#include "contact_files/contact_import.h"

#include <algorithm>
#include <map>

#include "contacts/contact_entry.h"
#include "platform/codepage.h"

namespace velka::contact_files {
namespace {

using Kind = ImportPlan::Kind;

// Who holds a number: the group and the name stored there, or to be stored.
struct Holder {
    std::string group;
    std::string name;
};

// The holders of each number, by the number as the registry compares value names
// (letter case ignored).
using Holders = std::map<std::string, std::vector<Holder>>;

Holders StoredHolders(const std::vector<contacts::Contact>& stored) {
    Holders holders;
    for (const contacts::Contact& contact : stored)
        holders[codepage::Upper(contact.number)].push_back({contact.group, contact.name});
    return holders;
}

// Sorts `entry` against the holders of its number, then makes its name the one
// its group holds, so that a later row of the file counts against it.
void SortAgainst(std::vector<Holder>& holders, ImportPlan::Entry& entry) {
    const contacts::Contact& contact = entry.contact;
    const auto own = std::find_if(holders.begin(), holders.end(), [&](const Holder& holder) {
        return codepage::EqualIgnoreCase(holder.group, contact.group);
    });
    const auto other_name =
        own != holders.end()
            ? own
            : std::find_if(holders.begin(), holders.end(),
                           [&](const Holder& holder) { return holder.name != contact.name; });
    if (other_name != holders.end()) {
        entry.stored_name = other_name->name;
        entry.stored_group = other_name->group;
        entry.kind = other_name->name == contact.name ? Kind::SameName : Kind::OtherName;
    }
    if (own != holders.end()) {
        own->name = contact.name;
    } else {
        holders.push_back({contact.group, contact.name});
    }
}

std::optional<std::string> RuleBroken(const contacts::Contact& contact) {
    const std::optional<contacts::EntryProblem> problem = contacts::CheckEntry(contact);
    if (!problem) return std::nullopt;
    std::string reason = contacts::ProblemMessage(*problem);
    if (*problem == contacts::EntryProblem::InvalidNumber) reason += " (" + contact.number + ")";
    return reason;
}

std::string Quoted(std::string_view text) {
    return '"' + std::string(text) + '"';
}

// The entries to write, in groups of one registry key each, in the order the
// groups first appear in the file; the entries left alone go to the report's
// skipped rows, with why.
std::vector<std::vector<const ImportPlan::Entry*>> WriteGroups(const ImportPlan& plan,
                                                               ExistingNumber existing,
                                                               ImportReport& report) {
    std::vector<std::vector<const ImportPlan::Entry*>> groups;
    std::map<std::string, std::size_t> group_index;
    for (const ImportPlan::Entry& entry : plan.entries) {
        if (entry.kind == Kind::SameName) {
            report.skipped.push_back(
                {entry.where, Text("контакт уже есть в группе ") + Quoted(entry.contact.group)});
            continue;
        }
        if (entry.kind == Kind::OtherName && existing == ExistingNumber::Skip) {
            report.skipped.push_back(
                {entry.where, Text("номер ") + entry.contact.number + Text(" уже есть в группе ") +
                                  Quoted(entry.stored_group) + Text(" под именем ") +
                                  Quoted(entry.stored_name)});
            continue;
        }
        const auto [place, added] =
            group_index.try_emplace(codepage::Upper(entry.contact.group), groups.size());
        if (added) groups.emplace_back();
        groups[place->second].push_back(&entry);
    }
    return groups;
}

void CountWritten(const std::vector<const ImportPlan::Entry*>& entries, std::size_t written,
                  ImportReport& report) {
    for (std::size_t i = 0; i < written; ++i) {
        ++(entries[i]->Replaces() ? report.updated : report.imported);
    }
}

}  // namespace

bool ImportPlan::Entry::Replaces() const {
    return kind == Kind::OtherName && codepage::EqualIgnoreCase(stored_group, contact.group);
}

bool ImportPlan::HasOtherNames() const {
    return std::any_of(entries.begin(), entries.end(),
                       [](const Entry& entry) { return entry.kind == Kind::OtherName; });
}

bool NeedsGroup(const ParsedFile& file) {
    return std::any_of(file.rows.begin(), file.rows.end(),
                       [](const FileRow& row) { return row.contact.group.empty(); });
}

ImportPlan PlanImport(const ParsedFile& file, std::string_view chosen_group,
                      const contacts::ContactBook& book) {
    ImportPlan plan;
    plan.bad = file.bad;
    const contacts::Listing listing = book.FullListing();
    if (listing.error) {
        plan.error = *listing.error;
        return plan;
    }
    Holders holders = StoredHolders(listing.rows);
    const std::string default_group =
        contacts::GroupOrDefault(chosen_group, contacts::EntryMode::Add);
    for (const FileRow& row : file.rows) {
        ImportPlan::Entry entry{row.where, row.contact, Kind::New, {}, {}};
        if (entry.contact.group.empty()) entry.contact.group = default_group;
        if (const auto reason = RuleBroken(entry.contact)) {
            plan.bad.push_back({row.where, *reason});
            continue;
        }
        SortAgainst(holders[codepage::Upper(entry.contact.number)], entry);
        plan.entries.push_back(std::move(entry));
    }
    return plan;
}

ImportReport ApplyImport(const ImportPlan& plan, ExistingNumber existing,
                         const contacts::ContactBook& book) {
    ImportReport report;
    report.bad = plan.bad;
    const auto groups = WriteGroups(plan, existing, report);
    for (const auto& entries : groups) {
        if (report.stopped) {
            report.not_written += entries.size();
            continue;
        }
        std::vector<contacts::Contact> contacts;
        contacts.reserve(entries.size());
        for (const ImportPlan::Entry* entry : entries) contacts.push_back(entry->contact);
        const Registry::BatchWrite batch =
            book.WriteGroup(entries.front()->contact.group, contacts);
        CountWritten(entries, batch.written, report);
        if (!batch.status) {
            report.stopped = batch.status.error().message;
            report.not_written += entries.size() - batch.written;
        }
    }
    return report;
}

std::string OtherNamesList(const ImportPlan& plan, std::size_t shown, ImportSource source) {
    const std::string incoming =
        Text(source == ImportSource::Sim ? ", на SIM-карте " : ", в файле ");
    std::string list;
    std::size_t listed = 0;
    for (const ImportPlan::Entry& entry : plan.entries) {
        if (entry.kind != Kind::OtherName) continue;
        if (listed++ >= shown) continue;
        list += entry.contact.number + Text(": ") + Quoted(entry.stored_name) + Text(" в группе ") +
                Quoted(entry.stored_group) + incoming + Quoted(entry.contact.name) + '\n';
    }
    if (listed > shown) list += Text("и ещё ") + std::to_string(listed - shown) + '\n';
    return list;
}

std::string ReportSummary(const ImportReport& report) {
    std::string summary = Text("Импортировано: ") + std::to_string(report.imported) +
                          Text("\nОбновлено: ") + std::to_string(report.updated) +
                          Text("\nПропущено: ") + std::to_string(report.skipped.size()) +
                          Text("\nС ошибками: ") + std::to_string(report.bad.size());
    if (report.stopped) {
        summary += Text("\n\nИмпорт остановлен: реестр отказал в записи (") +
                   codepage::FromUtf8(*report.stopped) + Text(").\nЗаписано до остановки: ") +
                   std::to_string(report.imported + report.updated) + Text(", не записано: ") +
                   std::to_string(report.not_written) + '.';
    }
    return summary;
}

std::string ReportDetails(const ImportReport& report) {
    std::string details;
    for (const auto* rows : {&report.bad, &report.skipped}) {
        for (const BadRow& row : *rows) details += row.where + ": " + row.reason + '\n';
    }
    return details;
}

}  // namespace velka::contact_files
