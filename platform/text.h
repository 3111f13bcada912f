// Blanks at the ends of a text, stripped the one way every layer needs it: Config.ini
// names and values (as Windows reads them), numbers typed into settings, the modem's
// answer lines and the fields of its listings. Pure; any thread.
#pragma once

#include <string_view>

namespace velka {

// The blanks: space and horizontal tab. Line ends are not blanks: every caller
// gets its text already cut at them, and a stray one inside is data to keep.
inline constexpr std::string_view kBlanks = " \t";

// The text without blanks at either end; empty when it holds nothing else.
inline std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The text without blanks at its end.
inline std::string_view TrimTrailingBlanks(std::string_view text) {
    const auto last = text.find_last_not_of(kBlanks);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

}  // namespace velka
