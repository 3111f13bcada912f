#include "contact_files/contacts_csv.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <optional>

#include "messages/box_export.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::contact_files {
namespace {

struct CsvRecord {
    int line = 0;  // the line the record begins on, from 1
    std::vector<std::string> fields;
    bool unterminated = false;  // a quoted field ran to the end of the file
};

// Reads one field at `pos` (at its first character), leaving `pos` on the
// separator or line end after it; counts the line breaks inside quotes into `line`.
std::string NextField(std::string_view text, char separator, std::size_t& pos, int& line,
                      CsvRecord& record) {
    std::string field;
    if (pos < text.size() && text[pos] == '"') {
        ++pos;
        bool closed = false;
        while (pos < text.size() && !closed) {
            const char c = text[pos++];
            if (c == '"' && pos < text.size() && text[pos] == '"') {
                field += '"';
                ++pos;
            } else if (c == '"') {
                closed = true;
            } else {
                if (c == '\n') ++line;
                field += c;
            }
        }
        record.unterminated = !closed;
    }
    // Unquoted text, or what stands after a closing quote, is kept as written.
    while (pos < text.size() && text[pos] != separator && text[pos] != '\n') field += text[pos++];
    if (!field.empty() && field.back() == '\r' && (pos == text.size() || text[pos] == '\n')) {
        field.pop_back();
    }
    return field;
}

std::vector<CsvRecord> CsvRecords(std::string_view text, char separator) {
    std::vector<CsvRecord> records;
    std::size_t pos = 0;
    int line = 1;
    while (pos < text.size()) {
        CsvRecord record;
        record.line = line;
        while (true) {
            record.fields.push_back(NextField(text, separator, pos, line, record));
            if (pos >= text.size()) break;
            if (text[pos++] == '\n') {
                ++line;
                break;
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

// Spreadsheets of the Russian regional settings write ';' between fields, as the
// comma is their decimal sign; everything else writes ','. The header line tells,
// as titles rarely hold either.
char SeparatorOf(std::string_view text) {
    std::size_t commas = 0;
    std::size_t semicolons = 0;
    bool quoted = false;
    bool content = false;  // the line holds more than blanks: it is the header
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' && content) break;
        commas += c == ',';
        semicolons += c == ';';
        content = content || std::string_view(" \t\r\n").find(c) == std::string_view::npos;
    }
    return semicolons > commas ? ';' : ',';
}

bool IsBlank(const CsvRecord& record) {
    return record.fields.size() == 1 && TrimBlanks(record.fields[0]).empty();
}

// What a column of a known header holds.
enum class Role { FullName, GivenName, MiddleName, FamilyName, Phone, Group, Labels };

struct KnownTitle {
    std::string_view title;  // UTF-8; compared ignoring letter case
    Role role;
};

// The titles of the exports people bring: Google Contacts (both its older and
// newer headers), Outlook in English and in its Russian edition, phones' and
// other address books' plain lists. Faxes and pagers are left out: no SMS reaches them.
constexpr KnownTitle kKnownTitles[] = {
    {"Name", Role::FullName},          {"Full Name", Role::FullName},
    {"Display Name", Role::FullName},  {"ФИО", Role::FullName},
    {"Given Name", Role::GivenName},   {"First Name", Role::GivenName},
    {"Имя", Role::GivenName},          {"Additional Name", Role::MiddleName},
    {"Middle Name", Role::MiddleName}, {"Отчество", Role::MiddleName},
    {"Family Name", Role::FamilyName}, {"Last Name", Role::FamilyName},
    {"Фамилия", Role::FamilyName},     {"Phone", Role::Phone},
    {"Mobile", Role::Phone},           {"Number", Role::Phone},
    {"Mobile Number", Role::Phone},    {"Mobile Phone", Role::Phone},
    {"Primary Phone", Role::Phone},    {"Business Phone", Role::Phone},
    {"Business Phone 2", Role::Phone}, {"Home Phone", Role::Phone},
    {"Home Phone 2", Role::Phone},     {"Work Phone", Role::Phone},
    {"Other Phone", Role::Phone},      {"Car Phone", Role::Phone},
    {"Телефон", Role::Phone},          {"Номер", Role::Phone},
    {"Мобильный", Role::Phone},        {"Мобильный телефон", Role::Phone},
    {"Основной телефон", Role::Phone}, {"Рабочий телефон", Role::Phone},
    {"Телефон раб. 2", Role::Phone},   {"Домашний телефон", Role::Phone},
    {"Телефон дом. 2", Role::Phone},   {"Другой телефон", Role::Phone},
    {"Телефон в машине", Role::Phone}, {"Group", Role::Group},
    {"Группа", Role::Group},           {"Group Membership", Role::Labels},
    {"Labels", Role::Labels},          {"Categories", Role::Labels},
    {"Категории", Role::Labels},
};

// Google numbers its phone columns: "Phone 1 - Value", "Phone 2 - Value", ...
// beside "Phone 1 - Type" or "- Label", which name the kind of number.
bool IsNumberedPhoneValue(std::string_view title) {
    constexpr std::string_view kStart = "PHONE ";
    constexpr std::string_view kEnd = " - VALUE";
    const std::string upper = codepage::Upper(title);
    if (upper.size() <= kStart.size() + kEnd.size()) return false;
    if (!upper.starts_with(kStart) || !upper.ends_with(kEnd)) return false;
    const std::string_view digits =
        std::string_view(upper).substr(kStart.size(), upper.size() - kStart.size() - kEnd.size());
    return digits.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<Role> RoleOf(std::string_view title) {
    if (IsNumberedPhoneValue(title)) return Role::Phone;
    for (const KnownTitle& known : kKnownTitles) {
        if (codepage::EqualIgnoreCase(title, Text(known.title))) return known.role;
    }
    return std::nullopt;
}

// Where a record's contacts stand, by column from 0.
struct ColumnMap {
    std::optional<std::size_t> full_name;
    std::vector<std::size_t> name_parts;  // given, middle and family, in that order
    std::vector<std::size_t> phones;
    std::optional<std::size_t> group;
    bool group_lists_labels = false;  // the group column lists labels, not one group
    bool phones_list_items = false;   // a phone column may list several numbers
};

std::optional<std::size_t> FirstTitled(const std::vector<std::string>& titles,
                                       std::string_view title) {
    const auto found = std::find_if(titles.begin(), titles.end(), [&](const std::string& t) {
        return codepage::EqualIgnoreCase(t, title);
    });
    if (found == titles.end()) return std::nullopt;
    return static_cast<std::size_t>(found - titles.begin());
}

// This program's own header: only its three columns count, whatever else stands
// beside them, as they always have.
std::optional<ColumnMap> OwnColumns(const std::vector<std::string>& titles) {
    const auto name = FirstTitled(titles, "name");
    const auto number = FirstTitled(titles, "number");
    if (!name || !number) return std::nullopt;
    return ColumnMap{name, {}, {*number}, FirstTitled(titles, "group")};
}

std::optional<ColumnMap> ExportColumns(const std::vector<std::string>& titles) {
    ColumnMap map;
    map.phones_list_items = true;
    std::optional<std::size_t> given;
    std::optional<std::size_t> middle;
    std::optional<std::size_t> family;
    const auto first = [](std::optional<std::size_t>& column, std::size_t i) {
        if (!column) column = i;
    };
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::optional<Role> role = RoleOf(titles[i]);
        if (!role) continue;
        switch (*role) {
            case Role::FullName:
                first(map.full_name, i);
                break;
            case Role::GivenName:
                first(given, i);
                break;
            case Role::MiddleName:
                first(middle, i);
                break;
            case Role::FamilyName:
                first(family, i);
                break;
            case Role::Phone:
                map.phones.push_back(i);
                break;
            case Role::Group:
            case Role::Labels:
                if (!map.group) {
                    map.group = i;
                    map.group_lists_labels = *role == Role::Labels;
                }
                break;
        }
    }
    for (const auto& part : {given, middle, family}) {
        if (part) map.name_parts.push_back(*part);
    }
    if (map.phones.empty() || (!map.full_name && map.name_parts.empty())) return std::nullopt;
    return map;
}

std::optional<ColumnMap> HeaderColumns(const std::vector<std::string>& titles,
                                       const ColumnChoices& choices) {
    if (const std::optional<ColumnChoice> chosen = choices.Find(titles))
        return ColumnMap{chosen->name, {}, {chosen->number}, std::nullopt};
    if (auto own = OwnColumns(titles)) return own;
    return ExportColumns(titles);
}

std::string Field(const CsvRecord& record, std::optional<std::size_t> column, bool utf8) {
    if (!column || *column >= record.fields.size()) return {};
    const std::string_view field = TrimBlanks(record.fields[*column]);
    return utf8 ? codepage::FromUtf8(field) : std::string(field);
}

// Google separates the labels of a contact, and its numbers of one kind, by
// " ::: "; Outlook separates categories by ';'.
constexpr std::string_view kGoogleItems = ":::";
constexpr std::string_view kOutlookItems = ";";

// The items of a field that lists several, split at any of `separators`.
std::vector<std::string> Items(std::string_view field,
                               std::initializer_list<std::string_view> separators) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= field.size()) {
        std::size_t end = field.size();
        std::size_t separator_size = 1;
        for (const std::string_view separator : separators) {
            const std::size_t found = field.find(separator, start);
            if (found < end) {
                end = found;
                separator_size = separator.size();
            }
        }
        const std::string_view item = TrimBlanks(field.substr(start, end - start));
        if (!item.empty()) items.emplace_back(item);
        start = end + separator_size;
    }
    return items;
}

std::string NameOf(const CsvRecord& record, const ColumnMap& map, bool utf8) {
    std::string name = Field(record, map.full_name, utf8);
    if (!name.empty()) return name;
    for (const std::size_t part : map.name_parts) {
        const std::string text = Field(record, part, utf8);
        if (text.empty()) continue;
        if (!name.empty()) name += ' ';
        name += text;
    }
    return name;
}

// The record's numbers; one empty number when it has none, so that the contact
// rules refuse the record with their own reason.
std::vector<std::string> NumbersOf(const CsvRecord& record, const ColumnMap& map, bool utf8) {
    std::vector<std::string> numbers;
    for (const std::size_t column : map.phones) {
        const std::string field = Field(record, column, utf8);
        if (!map.phones_list_items) {
            if (!field.empty()) numbers.push_back(NumberFromFile(field));
            continue;
        }
        for (const std::string& item : Items(field, {kGoogleItems}))
            numbers.push_back(NumberFromFile(item));
    }
    if (numbers.empty()) numbers.emplace_back();
    return numbers;
}

// Labels starting with "* " are Google's own ("* myContacts", "* starred"), not
// groups the user made.
std::string GroupOf(const CsvRecord& record, const ColumnMap& map, bool utf8) {
    std::string field = Field(record, map.group, utf8);
    if (!map.group_lists_labels) return field;
    for (std::string& label : Items(field, {kGoogleItems, kOutlookItems})) {
        if (!label.starts_with("* ")) return label;
    }
    return {};
}

std::vector<std::string> Titles(const CsvRecord& header, bool utf8) {
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < header.fields.size(); ++i) titles.push_back(Field(header, i, utf8));
    return titles;
}

void RefuseHeader(const std::vector<std::string>& titles, ParsedFile& parsed) {
    if (titles.size() < 2) {
        parsed.error = Text("Первая строка файла должна быть заголовком name,number,group.");
        return;
    }
    parsed.error = Text(
        "Столбцы файла не знакомы программе: нужно указать, в каком из них имя, "
        "а в каком номер телефона.");
    parsed.unknown_header = titles;
}

void ReadRecord(const CsvRecord& record, const ColumnMap& map, bool utf8, ParsedFile& parsed) {
    const std::string where = Text("Строка ") + std::to_string(record.line);
    if (record.unterminated) {
        parsed.bad.push_back({where, Text("кавычка не закрыта до конца файла")});
        return;
    }
    const std::string name = NameOf(record, map, utf8);
    const std::string group = GroupOf(record, map, utf8);
    for (std::string& number : NumbersOf(record, map, utf8))
        parsed.rows.push_back({where, {name, std::move(number), group}});
}

}  // namespace

namespace {

// A file's records as text of the core, with where its header stands.
struct CsvText {
    bool utf8 = false;
    std::vector<CsvRecord> records;
    std::vector<CsvRecord>::const_iterator header;  // records.end() when there is none
};

CsvText ReadCsvText(std::string_view bytes) {
    const bool marked = bytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (marked) bytes.remove_prefix(3);
    CsvText text;
    text.utf8 = marked || codepage::IsValidUtf8(bytes);
    text.records = CsvRecords(bytes, SeparatorOf(bytes));
    text.header = std::find_if_not(text.records.begin(), text.records.end(), IsBlank);
    return text;
}

std::vector<std::string> HeaderTitles(const CsvText& text) {
    if (text.header == text.records.end()) return {};
    return Titles(*text.header, text.utf8);
}

}  // namespace

std::vector<std::string> CsvHeaderTitles(std::string_view bytes) {
    return HeaderTitles(ReadCsvText(bytes));
}

ParsedFile ParseContactsCsv(std::string_view bytes, const ColumnChoices& choices) {
    const CsvText text = ReadCsvText(bytes);
    const std::vector<std::string> titles = HeaderTitles(text);
    ParsedFile parsed;
    const std::optional<ColumnMap> columns = HeaderColumns(titles, choices);
    if (!columns) {
        RefuseHeader(titles, parsed);
        return parsed;
    }
    for (auto record = std::next(text.header); record != text.records.end(); ++record) {
        if (!IsBlank(*record)) ReadRecord(*record, *columns, text.utf8, parsed);
    }
    return parsed;
}

std::string ContactsCsvText(const std::vector<contacts::Contact>& contacts) {
    std::string csv = "name,number,group\r\n";
    for (const contacts::Contact& contact : contacts) {
        csv += messages::CsvField(codepage::ToUtf8(contact.name)) + ',' +
               messages::CsvField(codepage::ToUtf8(contact.number)) + ',' +
               messages::CsvField(codepage::ToUtf8(contact.group)) + "\r\n";
    }
    return csv;
}

}  // namespace velka::contact_files
