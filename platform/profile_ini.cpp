// Profile strings on any system: the file is parsed into lines that keep their
// exact bytes, so that a write can change one line and leave the rest untouched.
#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/profile_names.h"
#include "platform/text.h"

namespace velka::profile {
namespace {

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\'')) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// One line of the file: its bytes without the line end, and the line end itself
// ("\r\n", "\n", or for a last line "\r" or "": a file cut short after the "\r"
// of its "\r\n" still ends that line).
struct Line {
    std::string text;
    std::string end;
};

std::vector<Line> SplitLines(std::string_view contents) {
    std::vector<Line> lines;
    while (!contents.empty()) {
        const auto newline = contents.find('\n');
        std::string_view text = contents.substr(0, newline);
        std::string end = newline == std::string_view::npos ? "" : "\n";
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
            end = end.empty() ? "\r" : "\r\n";
        }
        lines.push_back({std::string(text), end});
        contents.remove_prefix(newline == std::string_view::npos ? contents.size() : newline + 1);
    }
    return lines;
}

// The section a "[name]" line opens, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimBlanks(line);
    const auto close = line.rfind(']');
    if (line.empty() || line.front() != '[' || close == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(1, close - 1));
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

// The key and value of a line inside a section; nothing for blank lines and comments.
// A line without "=" is a key with an empty value, as Windows reads it.
std::optional<Entry> KeyEntry(std::string_view line) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';') return std::nullopt;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return Entry{line, {}};
    return Entry{TrimTrailingBlanks(line.substr(0, equals)), TrimBlanks(line.substr(equals + 1))};
}

// Where a key lives in the lines: the section header's index (if the section
// exists), the key's line (if the key exists), and the index after the section's
// last non-blank line, where a new key goes.
struct Place {
    std::optional<std::size_t> section;
    std::optional<std::size_t> key;
    std::size_t section_end = 0;
};

Place Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Place place;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i].text)) {
            if (place.section) break;  // the first matching section ends here
            if (codepage::EqualIgnoreCase(*name, section)) {
                place.section = i;
                place.section_end = i + 1;
            }
            continue;
        }
        if (!place.section) continue;
        if (!TrimBlanks(lines[i].text).empty()) place.section_end = i + 1;
        const auto entry = KeyEntry(lines[i].text);
        if (!place.key && entry && codepage::EqualIgnoreCase(entry->key, key)) place.key = i;
    }
    return place;
}

std::string Join(const std::vector<Line>& lines) {
    std::string contents;
    for (const Line& line : lines) contents += line.text + line.end;
    return contents;
}

Error UnableToWrite(const std::string& file, const Error& why) {
    return Error{"Unable to write to " + file + " (" + why.message + ").", why.system_code};
}

Status Save(const std::string& file, const std::vector<Line>& lines) {
    if (const Status saved = files::SaveDurably(file, Join(lines)); !saved)
        return UnableToWrite(file, saved.error());
    return {};
}

}  // namespace

std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view default_value) {
    const auto contents = files::ReadAll(file);
    if (!contents) return std::string(TrimTrailingBlanks(default_value));
    const auto lines = SplitLines(*contents);
    const Place place = Find(lines, TrimBlanks(section), TrimBlanks(key));
    if (!place.key) return std::string(TrimTrailingBlanks(default_value));
    return std::string(Unquote(KeyEntry(lines[*place.key].text)->value));
}

Status WriteString(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view value) {
    if (Status prepared = PrepareWrite(file, section, key, value); !prepared) return prepared;
    const auto contents = files::ReadAll(file);
    if (!contents && contents.error().system_code != ENOENT)
        return UnableToWrite(file, contents.error());
    std::vector<Line> lines = SplitLines(contents ? *contents : std::string());
    const std::string line_end =
        lines.empty() || lines.front().end != "\n" ? std::string("\r\n") : std::string("\n");
    // The last line gets a whole line end before anything goes after it.
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = line_end;
    if (!lines.empty() && lines.back().end == "\r") lines.back().end = "\r\n";

    const Place place = Find(lines, section, key);
    if (place.key) {
        Line& line = lines[*place.key];
        line.text = std::string(KeyEntry(line.text)->key) + "=" + std::string(value);
    } else if (place.section) {
        const auto at = lines.begin() + static_cast<std::ptrdiff_t>(place.section_end);
        lines.insert(at, Line{std::string(key) + "=" + std::string(value), line_end});
    } else {
        if (!lines.empty() && !TrimBlanks(lines.back().text).empty())
            lines.push_back({"", line_end});
        lines.push_back({"[" + std::string(section) + "]", line_end});
        lines.push_back({std::string(key) + "=" + std::string(value), line_end});
    }

    return Save(file, lines);
}

Status DeleteSection(const std::string& file, std::string_view section) {
    if (Status prepared = PrepareDelete(file, section); !prepared) return prepared;
    const auto contents = files::ReadAll(file);
    if (!contents) {
        if (contents.error().system_code == ENOENT) return {};
        return UnableToWrite(file, contents.error());
    }
    std::vector<Line> lines = SplitLines(*contents);
    bool inside = false;  // whether the lines belong to a section being removed
    const auto removed = std::remove_if(lines.begin(), lines.end(), [&](const Line& line) {
        if (const auto name = SectionName(line.text))
            inside = codepage::EqualIgnoreCase(*name, section);
        return inside;
    });
    if (removed == lines.end()) return {};
    lines.erase(removed, lines.end());
    return Save(file, lines);
}

}  // namespace velka::profile
