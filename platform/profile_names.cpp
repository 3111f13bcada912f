#include "platform/profile_names.h"

#include <optional>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::profile {
namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Why no "[section]" line could name the section (a sentence fragment), or nothing.
std::optional<std::string> WhyNoSection(std::string_view section) {
    if (section.empty()) return "the section name must not be empty";
    if (HasLineBreak(section)) return "names must not hold a line break";
    if (section.find(']') != std::string_view::npos) return "a section name must not hold \"]\"";
    return std::nullopt;
}

// Why the key cannot be written (a sentence fragment), or nothing when it can.
std::optional<std::string> WhyUnwritable(std::string_view section, std::string_view key,
                                         std::string_view value) {
    if (section.empty() || key.empty()) return "the section and key names must not be empty";
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
        return "names and values must not hold a line break";
    }
    if (auto why = WhyNoSection(section)) return why;
    if (key.find('=') != std::string_view::npos) return "a key name must not hold \"=\"";
    const char first = key.front();
    if (first == ';' || first == '[') return "a key name must not start with \";\" or \"[\"";
    return std::nullopt;
}

}  // namespace

Status PrepareWrite(const std::string& file, std::string_view& section, std::string_view& key,
                    std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (const auto why = WhyUnwritable(section, key, value)) {
        return Error{"Cannot write \"" + codepage::ToUtf8(key) + "\" of [" +
                         codepage::ToUtf8(section) + "] to " + file + ": " + *why + ".",
                     0};
    }
    return {};
}

Status PrepareDelete(const std::string& file, std::string_view& section) {
    section = TrimBlanks(section);
    if (const auto why = WhyNoSection(section)) {
        return Error{
            "Cannot remove [" + codepage::ToUtf8(section) + "] from " + file + ": " + *why + ".",
            0};
    }
    return {};
}

}  // namespace velka::profile
