#include "contact_files/contacts_csv.h"

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

// Reads one field at `pos` (at its first character), leaving `pos` on the comma
// or line end after it; counts the line breaks inside quotes into `line`.
std::string NextField(std::string_view text, std::size_t& pos, int& line, CsvRecord& record) {
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
    while (pos < text.size() && text[pos] != ',' && text[pos] != '\n') field += text[pos++];
    if (!field.empty() && field.back() == '\r' && (pos == text.size() || text[pos] == '\n')) {
        field.pop_back();
    }
    return field;
}

std::vector<CsvRecord> CsvRecords(std::string_view text) {
    std::vector<CsvRecord> records;
    std::size_t pos = 0;
    int line = 1;
    while (pos < text.size()) {
        CsvRecord record;
        record.line = line;
        while (true) {
            record.fields.push_back(NextField(text, pos, line, record));
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

bool IsBlank(const CsvRecord& record) {
    return record.fields.size() == 1 && TrimBlanks(record.fields[0]).empty();
}

struct Columns {
    std::size_t name = 0;
    std::size_t number = 0;
    std::optional<std::size_t> group;
};

std::optional<Columns> HeaderColumns(const CsvRecord& header) {
    std::optional<std::size_t> name;
    std::optional<std::size_t> number;
    std::optional<std::size_t> group;
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        const std::string_view title = TrimBlanks(header.fields[i]);
        if (codepage::EqualIgnoreCase(title, "name")) name = i;
        if (codepage::EqualIgnoreCase(title, "number")) number = i;
        if (codepage::EqualIgnoreCase(title, "group")) group = i;
    }
    if (!name || !number) return std::nullopt;
    return Columns{*name, *number, group};
}

std::string Field(const CsvRecord& record, std::optional<std::size_t> column, bool utf8) {
    if (!column || *column >= record.fields.size()) return {};
    const std::string_view field = TrimBlanks(record.fields[*column]);
    return utf8 ? codepage::FromUtf8(field) : std::string(field);
}

}  // namespace

ParsedFile ParseContactsCsv(std::string_view bytes) {
    const bool marked = bytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (marked) bytes.remove_prefix(3);
    const bool utf8 = marked || codepage::IsValidUtf8(bytes);
    ParsedFile parsed;
    const std::vector<CsvRecord> records = CsvRecords(bytes);
    auto record = records.begin();
    while (record != records.end() && IsBlank(*record)) ++record;
    const std::optional<Columns> columns =
        record == records.end() ? std::nullopt : HeaderColumns(*record);
    if (!columns) {
        parsed.error = Text("Первая строка файла должна быть заголовком name,number,group.");
        return parsed;
    }
    for (++record; record != records.end(); ++record) {
        if (IsBlank(*record)) continue;
        const std::string where = Text("Строка ") + std::to_string(record->line);
        if (record->unterminated) {
            parsed.bad.push_back({where, Text("кавычка не закрыта до конца файла")});
            continue;
        }
        parsed.rows.push_back({where,
                               {Field(*record, columns->name, utf8),
                                NumberFromFile(Field(*record, columns->number, utf8)),
                                Field(*record, columns->group, utf8)}});
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
