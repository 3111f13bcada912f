#include "modem/indications.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::modem {
namespace {

using Values = std::set<int>;

// "0-2", "1" or "0,1,3": the values one parameter may take; nothing when unreadable.
std::optional<Values> ReadRange(std::string_view text) {
    constexpr int kWidestRange = 16;  // no AT+CNMI parameter goes past 3
    Values values;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const auto low = AnswerNumber(item.substr(0, dash));
        const auto high =
            dash == std::string_view::npos ? low : AnswerNumber(item.substr(dash + 1));
        if (!low || !high || *high < *low || *high - *low > kWidestRange) return std::nullopt;
        for (int v = *low; v <= *high; ++v) values.insert(v);
        start = comma + 1;
    }
    return values;
}

// The parenthesised lists of "+CNMI: (0-2),(0-1),(0),(0,2),(0)", one per parameter.
std::optional<std::vector<Values>> ReadRanges(std::string_view line) {
    std::vector<Values> ranges;
    std::size_t open = line.find('(');
    while (open != std::string_view::npos) {
        const std::size_t close = line.find(')', open);
        if (close == std::string_view::npos) return std::nullopt;
        const auto range = ReadRange(line.substr(open + 1, close - open - 1));
        if (!range) return std::nullopt;
        ranges.push_back(*range);
        open = line.find('(', close);
    }
    if (ranges.empty()) return std::nullopt;
    return ranges;
}

// The first of `preferred` the range allows; else, when `lowest_else`, its lowest.
std::optional<int> Choose(const Values& allowed, std::initializer_list<int> preferred,
                          bool lowest_else) {
    for (const int value : preferred)
        if (allowed.count(value) > 0) return value;
    if (lowest_else && !allowed.empty()) return *allowed.begin();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> AnnouncementCommandFor(const Answer& test_answer) {
    if (test_answer.outcome != Outcome::Ok) return std::nullopt;
    const auto line = std::find_if(
        test_answer.lines.begin(), test_answer.lines.end(),
        [](const std::string& text) { return codepage::StartsWithIgnoreCase(text, "+CNMI:"); });
    if (line == test_answer.lines.end()) return std::nullopt;
    const auto ranges = ReadRanges(*line);
    if (!ranges || ranges->size() < 2) return std::nullopt;
    // mode, mt, bm, ds, bfr: which values are wanted, in order, and whether any
    // other offered one will do.
    struct Wish {
        std::initializer_list<int> preferred;
        bool lowest_else;
    };
    const std::array<Wish, 5> wishes{
        {{{2, 1, 3}, false}, {{1}, false}, {{0}, true}, {{2, 1, 0}, true}, {{0}, true}}};
    std::string command = "AT+CNMI=";
    for (std::size_t i = 0; i < std::min(ranges->size(), wishes.size()); ++i) {
        const auto value = Choose((*ranges)[i], wishes[i].preferred, wishes[i].lowest_else);
        if (!value) return std::nullopt;
        if (i > 0) command += ',';
        command += std::to_string(*value);
    }
    return command;
}

bool AskForAnnouncements(TComPort& port, AnswerReader& reader) {
    const auto command = AnnouncementCommandFor(RunCommand(port, reader, "AT+CNMI=?"));
    return command && RunCommand(port, reader, *command).outcome == Outcome::Ok;
}

}  // namespace velka::modem
