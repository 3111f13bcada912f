#include "modem/device_identity.h"

#include <algorithm>
#include <optional>

#include "modem/sim.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::modem {
namespace {

constexpr std::size_t kImeiDigits = 15;
constexpr std::size_t kShortestImsi = 6;
constexpr std::size_t kLongestImsi = 15;
constexpr std::size_t kShortestIccid = 18;
constexpr std::size_t kLongestIccid = 20;
// Status word 1 of a SIM command that ended normally (0x90).
constexpr int kSimCommandDone = 144;

// The makers' own ICCID commands, by a word of their answer to AT+CGMI (upper
// case), from their AT command manuals; the answer forms are IccidFrom's.
struct MakerQuery {
    std::string_view maker;
    std::string_view command;
};
constexpr MakerQuery kMakerIccid[] = {
    {"HUAWEI", "AT^ICCID?"},   // "^ICCID: <iccid>"
    {"QUECTEL", "AT+QCCID"},   // "+QCCID: <iccid>", 19 digits and an "F" on some SIMs
    {"SIMCOM", "AT+CICCID"},   // "+ICCID: <iccid>"
    {"TELIT", "AT#CCID"},      // "#CCID: <iccid>"
    {"SIERRA", "AT!ICCID?"},   // "ICCID: <iccid>"
    {"ZTE", "AT+ZGETICCID"},   // "+ZGETICCID: <iccid>"
    {"CINTERION", "AT^SCID"},  // "^SCID: <iccid>"
    {"U-BLOX", "AT+CCID"},     // "+CCID: <iccid>"
};
// Reads EF_ICCID (file 2FE2 = 12258) whole: READ BINARY (176), 10 octets.
constexpr std::string_view kReadIccidFile = "AT+CRSM=176,12258,0,0,10";
constexpr std::string_view kCommonIccid = "AT+CCID";

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The check digit that makes `digits` and it pass the Luhn test (ISO/IEC 7812).
char LuhnDigit(std::string_view digits) {
    int sum = 0;
    bool doubled = true;  // the digit next to the check digit is doubled
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        int value = *it - '0';
        if (doubled) value = value * 2 > 9 ? value * 2 - 9 : value * 2;
        sum += value;
        doubled = !doubled;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// A line's value: what follows "<prefix>:" when the line has one ("+CGSN: ...",
// "IMEI: ..."), else the whole line; blanks and quotes around it dropped.
std::string ValueOf(std::string_view line) {
    std::string_view value = TrimBlanks(line);
    const std::size_t colon = value.find(':');
    if (colon != std::string_view::npos && !AllDigits(value.substr(0, colon)))
        value = TrimBlanks(value.substr(colon + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(TrimBlanks(value));
}

std::string ImeiOf(const std::string& value) {
    if (!AllDigits(value)) return {};
    if (value.size() == kImeiDigits - 1) return value + LuhnDigit(value);
    if (value.size() != kImeiDigits || value.find_first_not_of('0') == std::string::npos) return {};
    return value;
}

std::string ImsiOf(const std::string& value) {
    const bool fits = value.size() >= kShortestImsi && value.size() <= kLongestImsi;
    return fits && AllDigits(value) ? value : std::string();
}

// Each pair of characters swapped: how the SIM keeps BCD digits, low nibble first.
std::string SwappedNibbles(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}

// The ICCID in `value` as written, its padding "F"s dropped; empty when it is none.
std::string PlainIccid(std::string value) {
    value = codepage::Upper(value);
    while (!value.empty() && value.back() == 'F') value.pop_back();
    const bool fits = value.size() >= kShortestIccid && value.size() <= kLongestIccid;
    return fits && AllDigits(value) && value.starts_with("89") ? value : std::string();
}

std::string IccidOf(const std::string& value) {
    if (std::string plain = PlainIccid(value); !plain.empty()) return plain;
    return value.starts_with("98") ? PlainIccid(SwappedNibbles(value)) : std::string();
}

// The first value of an answer's lines that `parse` accepts.
template <typename Parse>
std::string FirstOf(const Answer& answer, Parse parse) {
    if (answer.outcome != Outcome::Ok) return {};
    for (const std::string& line : answer.lines) {
        if (std::string found = parse(ValueOf(line)); !found.empty()) return found;
    }
    return {};
}

// Runs `command` unless this modem refused it before on this binding. A refusal
// is remembered unless it names the SIM's state ("SIM PIN required", "SIM not
// inserted"): such a command may well be answered once the SIM is ready.
std::optional<Answer> AskUnlessRefused(TComPort& port, AnswerReader& reader, ModemContext& context,
                                       std::string_view command) {
    if (context.refused_commands.contains(command)) return std::nullopt;
    Answer answer = RunCommand(port, reader, command);
    if (answer.outcome == Outcome::Error && SimStatusOf(answer).state == ModemState::Ready)
        context.refused_commands.emplace(command);
    return answer;
}

// The first of `commands` whose answer `parse` accepts; empty when none.
template <typename Parse>
std::string FirstAnswered(TComPort& port, AnswerReader& reader, ModemContext& context,
                          const std::vector<std::string_view>& commands, Parse parse) {
    for (const std::string_view command : commands) {
        if (reader.stopped()) break;
        const auto answer = AskUnlessRefused(port, reader, context, command);
        if (!answer) continue;
        if (std::string found = parse(*answer); !found.empty()) return found;
    }
    return {};
}

}  // namespace

std::string ImeiFrom(const Answer& answer) {
    return FirstOf(answer, ImeiOf);
}

std::string ImsiFrom(const Answer& answer) {
    return FirstOf(answer, ImsiOf);
}

std::string IccidFrom(const Answer& answer) {
    return FirstOf(answer, IccidOf);
}

std::string IccidFromSimFile(const Answer& answer) {
    if (answer.outcome != Outcome::Ok) return {};
    for (const std::string& line : answer.lines) {
        const std::string upper = codepage::Upper(TrimBlanks(line));
        if (!upper.starts_with("+CRSM:")) continue;
        // +CRSM: <sw1>,<sw2>[,<response>]
        const std::string fields = upper.substr(upper.find(':') + 1);
        const std::size_t first_comma = fields.find(',');
        const std::size_t second_comma = fields.find(',', first_comma + 1);
        if (first_comma == std::string::npos || second_comma == std::string::npos) return {};
        if (AnswerNumber(fields.substr(0, first_comma)) != kSimCommandDone) return {};
        return PlainIccid(SwappedNibbles(ValueOf(fields.substr(second_comma + 1))));
    }
    return {};
}

std::vector<std::string_view> IccidCommands(std::string_view manufacturer) {
    std::vector<std::string_view> commands;
    const std::string maker = codepage::Upper(manufacturer);
    for (const MakerQuery& query : kMakerIccid) {
        if (maker.find(query.maker) != std::string::npos) commands.push_back(query.command);
    }
    commands.push_back(kReadIccidFile);
    if (std::find(commands.begin(), commands.end(), kCommonIccid) == commands.end())
        commands.push_back(kCommonIccid);
    return commands;
}

void ReadModemSerial(TComPort& port, AnswerReader& reader, ModemContext& context) {
    context.identity.imei = FirstAnswered(port, reader, context, {"AT+CGSN", "AT+GSN"}, ImeiFrom);
}

void ReadSimIdentity(TComPort& port, AnswerReader& reader, ModemContext& context) {
    context.identity.iccid = FirstAnswered(
        port, reader, context, IccidCommands(context.info.manufacturer), [](const Answer& answer) {
            const std::string from_file = IccidFromSimFile(answer);
            return from_file.empty() ? IccidFrom(answer) : from_file;
        });
    context.identity.imsi = FirstAnswered(port, reader, context, {"AT+CIMI"}, ImsiFrom);
}

}  // namespace velka::modem
