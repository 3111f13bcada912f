#include "modem/sim.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::modem {
namespace {

// What follows "<prefix>:" on the first line that starts with it, trimmed.
std::optional<std::string> Field(const Answer& answer, std::string_view prefix) {
    for (const std::string& line : answer.lines) {
        const std::string upper = codepage::Upper(TrimBlanks(line));
        if (upper.starts_with(prefix) && upper.size() > prefix.size() &&
            upper[prefix.size()] == ':') {
            return std::string(
                TrimBlanks(std::string_view(TrimBlanks(line)).substr(prefix.size() + 1)));
        }
    }
    return std::nullopt;
}

std::vector<std::string> Split(std::string_view text) {
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == ',') {
            fields.emplace_back();
        } else if (c != '"') {
            fields.back() += c;
        }
    }
    for (std::string& field : fields) field = std::string(TrimBlanks(field));
    return fields;
}

// The "+CPIN:" states of 27.007 that stop messages. "SIM PIN2" and "SIM PUK2"
// guard other services and do not.
struct PinState {
    std::string_view code;
    ModemState state;
};
constexpr PinState kPinStates[] = {
    {"READY", ModemState::Ready},
    {"SIM PIN", ModemState::PinNeeded},
    {"SIM PUK", ModemState::PukNeeded},
    {"PH-SIM PIN", ModemState::PhoneLocked},
    {"PH-FSIM PIN", ModemState::PhoneLocked},
    {"PH-NET PIN", ModemState::PhoneLocked},
};

// The SIM's error results: +CME ERROR of 27.007 (5, 10 to 13, 15) and +CMS ERROR of
// 27.005 (310 to 313, 316), each by its number and its text.
struct SimError {
    int code;
    std::string_view text;
    ModemState state;
};
constexpr SimError kSimErrors[] = {
    {5, "PH-SIM PIN REQUIRED", ModemState::PhoneLocked},
    {10, "SIM NOT INSERTED", ModemState::NoSim},
    {11, "SIM PIN REQUIRED", ModemState::PinNeeded},
    {12, "SIM PUK REQUIRED", ModemState::PukNeeded},
    {13, "SIM FAILURE", ModemState::SimFailure},
    {15, "SIM WRONG", ModemState::SimFailure},
    {310, "SIM NOT INSERTED", ModemState::NoSim},
    {311, "SIM PIN REQUIRED", ModemState::PinNeeded},
    {312, "PH-SIM PIN REQUIRED", ModemState::PhoneLocked},
    {313, "SIM FAILURE", ModemState::SimFailure},
    {316, "SIM PUK REQUIRED", ModemState::PukNeeded},
};

ModemState StateOfError(std::string_view final_line) {
    const std::string upper = codepage::Upper(TrimBlanks(final_line));
    const std::size_t colon = upper.find(':');
    if (colon == std::string::npos) return ModemState::Ready;  // a plain "ERROR"
    const std::string_view reason = TrimBlanks(std::string_view(upper).substr(colon + 1));
    const auto code = AnswerNumber(reason);
    for (const SimError& error : kSimErrors) {
        if (code ? *code == error.code : reason == error.text) return error.state;
    }
    return ModemState::Ready;
}

// Where each modem says how many PIN tries are left: the command, the prefix of its
// answer line, and the field of that line that holds the count.
struct TriesQuery {
    std::string_view command;
    std::string_view prefix;
    std::size_t field;
};
constexpr TriesQuery kTriesQueries[] = {
    {"AT+CPINR=\"SIM PIN\"", "+CPINR", 1},  // 27.007: SIM PIN,<retries>,<default>
    {"AT^CPIN?", "^CPIN", 3},               // Huawei: <code>,<times>,<puk>,<pin>,...
    {"AT+QPINC=\"SC\"", "+QPINC", 1},       // Quectel: "SC",<pin>,<puk>
    {"AT+SPIC", "+SPIC", 0},                // SIMCom: <pin1>,<puk1>,<pin2>,<puk2>
};

std::optional<int> TriesFrom(const Answer& answer, const TriesQuery& query) {
    if (answer.outcome != Outcome::Ok) return std::nullopt;
    const auto field = Field(answer, query.prefix);
    if (!field) return std::nullopt;
    const std::vector<std::string> fields = Split(*field);
    if (query.field >= fields.size()) return std::nullopt;
    return AnswerNumber(fields[query.field]);
}

std::string InformationOf(const Answer& answer, std::string_view prefix) {
    if (answer.outcome != Outcome::Ok || answer.lines.empty()) return {};
    if (const auto field = Field(answer, prefix)) return *field;
    return std::string(TrimBlanks(answer.lines.front()));
}

}  // namespace

ModemStatus SimStatusOf(const Answer& answer) {
    switch (answer.outcome) {
        case Outcome::Ok: {
            const auto value = Field(answer, "+CPIN");
            if (!value) return {ModemState::Ready};
            const std::string code = codepage::Upper(*value);
            for (const PinState& known : kPinStates) {
                if (code == known.code) return {known.state};
            }
            return {ModemState::Ready};
        }
        case Outcome::Error:
            return {StateOfError(answer.final_line)};
        case Outcome::Busy:
        case Outcome::Silent:
        case Outcome::Stopped:
            break;
    }
    return {ModemState::Unknown};
}

std::optional<int> PinTriesLeft(TComPort& port, AnswerReader& reader) {
    for (const TriesQuery& query : kTriesQueries) {
        if (const auto tries = TriesFrom(RunCommand(port, reader, query.command), query)) {
            return tries;
        }
    }
    return std::nullopt;
}

ModemStatus CheckSim(TComPort& port, AnswerReader& reader, ModemContext& context) {
    ModemStatus status = SimStatusOf(RunCommand(port, reader, "AT+CPIN?"));
    if (status.state == ModemState::PinNeeded && context.pin) {
        const Answer given = RunCommand(port, reader, "AT+CPIN=\"" + *context.pin + "\"");
        if (given.outcome == Outcome::Ok) return SimStatusOf(RunCommand(port, reader, "AT+CPIN?"));
        if (given.outcome != Outcome::Error) return {ModemState::Unknown};
        context.pin.reset();
        status.state = ModemState::PinRefused;
    } else if (status.state == ModemState::PinNeeded &&
               context.status.state == ModemState::PinRefused) {
        // Still refused until the user gives another PIN: saying "asks for its PIN"
        // now would hide that the last one was wrong.
        status.state = ModemState::PinRefused;
    }
    if (status.state == ModemState::PinNeeded || status.state == ModemState::PinRefused) {
        status.tries_left = PinTriesLeft(port, reader).value_or(-1);
    }
    return status;
}

void ReadIdentity(TComPort& port, AnswerReader& reader, ModemInfo& info) {
    info.manufacturer = InformationOf(RunCommand(port, reader, "AT+CGMI"), "+CGMI");
    info.model = InformationOf(RunCommand(port, reader, "AT+CGMM"), "+CGMM");
    const Answer network = RunCommand(port, reader, "AT+COPS?");
    const auto fields = Field(network, "+COPS");
    const std::vector<std::string> parts = fields ? Split(*fields) : std::vector<std::string>{};
    // +COPS: <mode>[,<format>,<oper>[,<AcT>]]: the operator is the third field.
    info.operator_name = network.outcome == Outcome::Ok && parts.size() > 2 ? parts[2] : "";
}

int ReadSignal(TComPort& port, AnswerReader& reader) {
    const Answer answer = RunCommand(port, reader, "AT+CSQ");
    const auto field = answer.outcome == Outcome::Ok ? Field(answer, "+CSQ") : std::nullopt;
    if (!field) return -1;
    return AnswerNumber(Split(*field).front()).value_or(-1);
}

void ReadSignalWhenDue(TComPort& port, AnswerReader& reader, ModemContext& context) {
    if (Clock::now() - context.signal_read < kSignalInterval) return;
    context.info.signal = ReadSignal(port, reader);
    context.signal_read = Clock::now();
}

}  // namespace velka::modem
