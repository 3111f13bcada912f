#include "contact_files/contact_import.h"

#include <algorithm>
#include <map>

#include "contacts/contact_entry.h"
#include "platform/codepage.h"

namespace velka::contact_files {
namespace {

using Kind = ImportPlan::Kind;

// A stored value's identity: the group and the number, letter case ignored as the
// registry ignores it in key and value names.
std::string StoredKey(const contacts::Contact& contact) {
    return codepage::Upper(contact.group) + '\\' + codepage::Upper(contact.number);
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
                                  Quoted(entry.contact.group) + Text(" под именем ") +
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
        ++(entries[i]->kind == Kind::New ? report.imported : report.updated);
    }
}

}  // namespace

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
    std::map<std::string, std::string> names;  // by StoredKey: the name stored, or to be
    for (const contacts::Contact& stored : listing.rows) names[StoredKey(stored)] = stored.name;
    const std::string default_group =
        contacts::GroupOrDefault(chosen_group, contacts::EntryMode::Add);
    for (const FileRow& row : file.rows) {
        ImportPlan::Entry entry{row.where, row.contact, Kind::New, {}};
        if (entry.contact.group.empty()) entry.contact.group = default_group;
        if (const auto reason = RuleBroken(entry.contact)) {
            plan.bad.push_back({row.where, *reason});
            continue;
        }
        auto [stored, added] = names.try_emplace(StoredKey(entry.contact), entry.contact.name);
        if (!added) {
            entry.stored_name = stored->second;
            entry.kind = stored->second == entry.contact.name ? Kind::SameName : Kind::OtherName;
            stored->second = entry.contact.name;
        }
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
