#include "contact_files/column_choices.h"

#include <algorithm>
#include <cerrno>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"

namespace velka::contact_files {
namespace {

// A title as the file keeps it on its line: the tab separates titles and a line
// break ends the line, so both become blanks.
std::string OnOneLine(std::string_view title) {
    std::string line(title);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return std::string(TrimBlanks(line));
}

bool SameTitles(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const std::string& x, const std::string& y) {
                          return codepage::EqualIgnoreCase(OnOneLine(x), OnOneLine(y));
                      });
}

std::vector<std::string_view> TabFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

}  // namespace

std::optional<std::size_t> ColumnFromNumber(std::string_view text) {
    // Four digits are more columns than any export has, and keep stoul in range.
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    const std::size_t number = std::stoul(std::string(text));
    if (number == 0) return std::nullopt;
    return number - 1;
}

bool FitsHeader(ColumnChoice choice, std::size_t columns) {
    return choice.name < columns && choice.number < columns && choice.name != choice.number;
}

Result<ColumnChoices> ColumnChoices::Load(const std::string& path) {
    ColumnChoices choices;
    const Result<std::string> text = files::ReadAll(path);
    if (!text) {
        if (text.error().system_code == ENOENT) return choices;
        return text.error();
    }
    std::size_t start = 0;
    while (start < text->size()) {
        const std::size_t end = std::min(text->find('\n', start), text->size());
        std::string_view line = std::string_view(*text).substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::vector<std::string_view> fields = TabFields(line);
        const auto name = fields.size() >= 4 ? ColumnFromNumber(fields[0]) : std::nullopt;
        const auto number = fields.size() >= 4 ? ColumnFromNumber(fields[1]) : std::nullopt;
        const ColumnChoice choice{name.value_or(0), number.value_or(0)};
        if (!name || !number || !FitsHeader(choice, fields.size() - 2)) {
            choices.unread_lines_.emplace_back(line);
            continue;
        }
        std::vector<std::string> titles;
        for (auto field = fields.begin() + 2; field != fields.end(); ++field)
            titles.push_back(codepage::FromUtf8(*field));
        choices.entries_.push_back({std::move(titles), choice});
    }
    return choices;
}

std::vector<ColumnChoices::Entry>::const_iterator ColumnChoices::Place(
    const std::vector<std::string>& titles) const {
    return std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& entry) { return SameTitles(entry.titles, titles); });
}

std::optional<ColumnChoice> ColumnChoices::Find(const std::vector<std::string>& titles) const {
    const auto found = Place(titles);
    if (found == entries_.end()) return std::nullopt;
    return found->choice;
}

void ColumnChoices::Remember(const std::vector<std::string>& titles, ColumnChoice choice) {
    const auto found = Place(titles);
    if (found != entries_.end()) entries_.erase(found);
    entries_.push_back({titles, choice});
}

Status ColumnChoices::Save(const std::string& path) const {
    std::string text;
    for (const std::string& line : unread_lines_) text += line + '\n';
    for (const Entry& entry : entries_) {
        text += std::to_string(entry.choice.name + 1);
        text += '\t';
        text += std::to_string(entry.choice.number + 1);
        for (const std::string& title : entry.titles) {
            text += '\t';
            text += codepage::ToUtf8(OnOneLine(title));
        }
        text += '\n';
    }
    return files::SaveDurably(path, text);
}

}  // namespace velka::contact_files
