#include "tools/velka-sms-cli/contacts_command.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <string>

#include "contact_files/contact_import.h"
#include "contact_files/contacts_csv.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "platform/registry.h"
#include "tools/velka-sms-cli/exit_status.h"
#include "tools/velka-sms-cli/json.h"

namespace velka::cli {
namespace {

using contact_files::ExistingNumber;

// The command line after "contacts import" or "contacts export": one file, flags
// and options with a value, each at most once.
struct Arguments {
    std::string file;
    std::map<std::string, std::string, std::less<>> options;  // "--group" -> "Друзья"; a flag -> ""
};

struct Option {
    std::string_view name;
    bool takes_value;
};

Result<Arguments> ParseArguments(const std::vector<std::string_view>& args,
                                 std::initializer_list<Option> known) {
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto option = std::find_if(known.begin(), known.end(),
                                         [&](const Option& o) { return o.name == args[i]; });
        if (option == known.end()) {
            if (args[i].starts_with("--") || !parsed.file.empty())
                return Error{"лишний аргумент: " + std::string(args[i]) + "."};
            parsed.file = args[i];
            continue;
        }
        if (option->takes_value && i + 1 == args.size())
            return Error{std::string(option->name) + " требует значения."};
        const std::string value = option->takes_value ? std::string(args[++i]) : std::string();
        if (!parsed.options.emplace(option->name, value).second)
            return Error{std::string(option->name) + " указан дважды."};
    }
    if (parsed.file.empty()) return Error{"не указан файл контактов."};
    return parsed;
}

std::optional<std::string> OptionValue(const Arguments& arguments, std::string_view name) {
    const auto found = arguments.options.find(name);
    if (found == arguments.options.end()) return std::nullopt;
    return found->second;
}

// ---- import ----

struct ImportRequest {
    std::string file;
    std::string group;  // Windows-1251; empty: the default group for contacts without one
    std::optional<ExistingNumber> existing;  // not said: skip, and the report says so
    std::optional<contact_files::ColumnChoice> columns;
    bool json = false;
};

Result<std::optional<contact_files::ColumnChoice>> ColumnsOf(const Arguments& arguments) {
    const auto name = OptionValue(arguments, "--name-column");
    const auto number = OptionValue(arguments, "--number-column");
    if (!name && !number) return std::optional<contact_files::ColumnChoice>();
    if (!name || !number) return Error{"--name-column и --number-column указываются вместе."};
    const auto name_column = contact_files::ColumnFromNumber(*name);
    const auto number_column = contact_files::ColumnFromNumber(*number);
    if (!name_column || !number_column || *name_column == *number_column)
        return Error{"--name-column и --number-column: два разных номера столбцов, от 1."};
    return std::optional(contact_files::ColumnChoice{*name_column, *number_column});
}

Result<ImportRequest> ParseImport(const std::vector<std::string_view>& args) {
    const auto arguments = ParseArguments(args, {{"--group", true},
                                                 {"--update", false},
                                                 {"--skip", false},
                                                 {"--json", false},
                                                 {"--name-column", true},
                                                 {"--number-column", true}});
    if (!arguments) return arguments.error();
    ImportRequest request;
    request.file = arguments->file;
    request.group = codepage::FromUtf8(OptionValue(*arguments, "--group").value_or(""));
    const bool update = arguments->options.contains("--update");
    if (update && arguments->options.contains("--skip"))
        return Error{"--update и --skip исключают друг друга."};
    if (update) request.existing = ExistingNumber::Update;
    if (arguments->options.contains("--skip")) request.existing = ExistingNumber::Skip;
    request.json = arguments->options.contains("--json");
    auto columns = ColumnsOf(*arguments);
    if (!columns) return columns.error();
    request.columns = *columns;
    return request;
}

// "1 «Кто», 2 «Куда»": the columns as --name-column and --number-column count them.
std::string NumberedTitles(const std::vector<std::string>& titles) {
    std::string list;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (i > 0) list += ", ";
        list += std::to_string(i + 1);
        list += " «";
        list += codepage::ToUtf8(titles[i]);
        list += "»";
    }
    return list;
}

// The file's contacts, read through the columns of the command line (remembered
// for the header) or remembered earlier. A failure says what to do, with its status.
struct Refusal {
    int status;
    std::string message;
};

Result<contact_files::ParsedFile, Refusal> ReadContacts(const ImportRequest& request,
                                                        const std::string& bytes) {
    const auto format = contact_files::FormatOfPath(request.file);
    const std::string choices_file = ProgramFile(contact_files::kColumnChoicesFile);
    auto choices = contact_files::ColumnChoices::Load(choices_file);
    if (!choices) return Refusal{kFailed, choices.error().message};
    if (request.columns) {
        if (format != contact_files::ContactFormat::Csv)
            return Refusal{kBadInput, "--name-column и --number-column относятся только к CSV."};
        const std::vector<std::string> titles = contact_files::CsvHeaderTitles(bytes);
        if (!contact_files::FitsHeader(*request.columns, titles.size()))
            return Refusal{kBadInput, "в заголовке файла столбцы: " + NumberedTitles(titles) + "."};
        choices->Remember(titles, *request.columns);
        if (const Status saved = choices->Save(choices_file); !saved)
            return Refusal{kFailed, saved.error().message};
    }
    contact_files::ParsedFile parsed = contact_files::ParseContactFile(format, bytes, *choices);
    if (parsed.unknown_header) {
        return Refusal{kBadInput, "столбцы файла программе не знакомы: " +
                                      NumberedTitles(*parsed.unknown_header) +
                                      ". Укажите, в каком имя и в каком номер: --name-column N "
                                      "--number-column M (номера столбцов от 1)."};
    }
    if (parsed.error) return Refusal{kFailed, codepage::ToUtf8(*parsed.error)};
    return parsed;
}

Json RowsJson(const std::vector<contact_files::BadRow>& rows) {
    Json list = Json::array();
    for (const contact_files::BadRow& row : rows)
        list.push_back(
            {{"where", codepage::ToUtf8(row.where)}, {"reason", codepage::ToUtf8(row.reason)}});
    return list;
}

Json OtherNamesJson(const contact_files::ImportPlan& plan) {
    Json list = Json::array();
    for (const contact_files::ImportPlan::Entry& entry : plan.entries) {
        if (entry.kind != contact_files::ImportPlan::Kind::OtherName) continue;
        list.push_back({{"number", codepage::ToUtf8(entry.contact.number)},
                        {"stored_name", codepage::ToUtf8(entry.stored_name)},
                        {"stored_group", codepage::ToUtf8(entry.stored_group)},
                        {"file_name", codepage::ToUtf8(entry.contact.name)}});
    }
    return list;
}

void PrintJson(const contact_files::ImportPlan& plan, ExistingNumber existing,
               const contact_files::ImportReport& report) {
    Json json = {{"imported", report.imported},
                 {"updated", report.updated},
                 {"skipped", RowsJson(report.skipped)},
                 {"bad", RowsJson(report.bad)},
                 {"other_names", OtherNamesJson(plan)},
                 {"other_names_action", existing == ExistingNumber::Update ? "update" : "skip"}};
    json["stopped"] = report.stopped ? Json(*report.stopped) : Json(nullptr);
    json["not_written"] = report.not_written;
    std::printf("%s\n", JsonText(json).c_str());
}

// The window's report, and when numbers stored under other names were left out
// because the command line did not say, which and how to write them.
void PrintText(const contact_files::ImportPlan& plan, bool existing_said,
               const contact_files::ImportReport& report) {
    std::printf("%s\n", codepage::ToUtf8(contact_files::ReportSummary(report)).c_str());
    if (!existing_said && plan.HasOtherNames()) {
        std::printf(
            "\nНомера, уже записанные под другими именами, пропущены (--update запишет "
            "имена из файла):\n%s",
            codepage::ToUtf8(
                contact_files::OtherNamesList(plan, std::numeric_limits<std::size_t>::max()))
                .c_str());
    }
    const std::string details = contact_files::ReportDetails(report);
    if (!details.empty()) std::printf("\n%s", codepage::ToUtf8(details).c_str());
}

int Import(const std::vector<std::string_view>& args) {
    const auto request = ParseImport(args);
    if (!request) return Fail(kBadInput, request.error().message);
    const Result<std::string> bytes = files::ReadAll(request->file);
    if (!bytes) return Fail(kFailed, bytes.error().message);
    const auto parsed = ReadContacts(*request, *bytes);
    if (!parsed) return Fail(parsed.error().status, parsed.error().message);
    const contacts::ContactBook book(Registry::Machine());
    const contact_files::ImportPlan plan = contact_files::PlanImport(*parsed, request->group, book);
    if (plan.error) return Fail(kFailed, codepage::ToUtf8(*plan.error));
    const ExistingNumber existing = request->existing.value_or(ExistingNumber::Skip);
    const contact_files::ImportReport report = contact_files::ApplyImport(plan, existing, book);
    if (request->json) {
        PrintJson(plan, existing, report);
    } else {
        PrintText(plan, request->existing.has_value(), report);
    }
    return report.stopped ? kFailed : 0;
}

// ---- export ----

int Export(const std::vector<std::string_view>& args) {
    const auto arguments = ParseArguments(args, {{"--group", true}});
    if (!arguments) return Fail(kBadInput, arguments.error().message);
    const std::string group = codepage::FromUtf8(OptionValue(*arguments, "--group").value_or(""));
    const contacts::ContactBook book(Registry::Machine());
    const auto saved = contact_files::ExportContacts(
        book, group, contact_files::FormatOfPath(arguments->file), arguments->file);
    if (saved) return 0;
    const contact_files::ExportError& error = saved.error();
    return Fail(kFailed, error.source == contact_files::ExportError::Source::Listing
                             ? codepage::ToUtf8(error.message)
                             : error.message);
}

}  // namespace

int Contacts(const std::vector<std::string_view>& args) {
    const std::vector<std::string_view> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (!args.empty() && args[0] == "import") return Import(rest);
    if (!args.empty() && args[0] == "export") return Export(rest);
    return Fail(kBadInput,
                "contacts import FILE или contacts export FILE; velka-sms-cli без "
                "аргументов покажет все команды.");
}

}  // namespace velka::cli
