#include "modem/ussd.h"

#include <array>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace velka::modem {
namespace {

constexpr auto kTick = std::chrono::milliseconds(55);

// The statuses of <m>, 0 to 5, in the order 27.007 numbers them.
constexpr std::array<UssdStatus, 6> kStatusOfResult = {
    UssdStatus::Done,        UssdStatus::Question,     UssdStatus::Ended,
    UssdStatus::OtherClient, UssdStatus::NotSupported, UssdStatus::NetworkTimeout,
};

// The result among the lines of an answer, its text's further lines joined to it;
// nothing when no whole one is there.
std::optional<std::string> ResultAmong(const std::vector<std::string>& lines) {
    std::optional<std::string> result;
    for (const std::string& line : lines) {
        if (result) {
            *result += "\n" + line;
        } else if (IsUssdResult(line)) {
            result = line;
        }
        if (result && UssdResultComplete(*result)) return result;
    }
    return std::nullopt;
}

// The next result the modem sends before `deadline`, other lines read past.
std::optional<std::string> AwaitResult(AnswerReader& reader, Clock::time_point deadline) {
    std::optional<std::string> result;
    while (auto line = reader.NextLine(deadline)) {
        if (result) {
            *result += "\n" + *line;
        } else if (IsUssdResult(*line)) {
            result = std::move(*line);
        }
        if (result && UssdResultComplete(*result)) return result;
    }
    return std::nullopt;
}

std::int32_t TicksOf(Clock::duration limit) {
    const auto ticks = (limit + kTick - std::chrono::nanoseconds(1)) / kTick;
    return std::max(kCommandTicks, static_cast<std::int32_t>(ticks));
}

UssdRequestForm Other(UssdRequestForm form) {
    return form == UssdRequestForm::Text ? UssdRequestForm::Packed : UssdRequestForm::Text;
}

}  // namespace

UssdAnswer AnswerOf(std::string_view result) {
    const auto fields = ParseUssdResult(result);
    if (!fields || fields->status < 0 ||
        static_cast<std::size_t>(fields->status) >= kStatusOfResult.size())
        return {UssdStatus::Unreadable, {}, std::string(result)};
    UssdAnswer answer{
        kStatusOfResult[static_cast<std::size_t>(fields->status)], {}, fields->text.value_or("")};
    if (fields->text) {
        const auto text = DecodeUssdText(*fields->text, fields->coding);
        if (!text) answer.status = UssdStatus::Unreadable;
        answer.text = text.value_or(u"");
    }
    return answer;
}

UssdAnswer AskUssd(TComPort& port, AnswerReader& reader, std::u16string_view request,
                   std::optional<UssdRequestForm>& form, std::string_view manufacturer,
                   Clock::duration limit) {
    // The request's characters mean what the 7-bit alphabet says only in the GSM
    // character set; another command may have left the modem in UCS2.
    RunCommand(port, reader, "AT+CSCS=\"GSM\"");
    const UssdRequestForm first = form.value_or(RequestFormFor(manufacturer));
    UssdAnswer refused{UssdStatus::BadRequest};
    for (const UssdRequestForm tried : {first, Other(first)}) {
        const auto text = EncodeUssdRequest(request, tried);
        if (!text) continue;
        const auto deadline = Clock::now() + limit;
        const Answer answer =
            RunCommand(port, reader, "AT+CUSD=1,\"" + *text + "\",15", TicksOf(limit));
        if (answer.outcome == Outcome::Stopped) return {UssdStatus::Stopped};
        if (answer.outcome == Outcome::Silent) return {UssdStatus::NoAnswer};
        if (answer.outcome != Outcome::Ok) {
            // A modem that wants the other form refuses this one as a bad argument.
            refused = {UssdStatus::Refused, {}, {}, answer.final_line};
            continue;
        }
        form = tried;
        auto result = ResultAmong(answer.lines);
        if (!result) result = AwaitResult(reader, deadline);
        if (result) return AnswerOf(*result);
        if (reader.stopped()) return {UssdStatus::Stopped};
        // Left open, the network's side of the session would refuse the next request.
        CancelUssd(port, reader);
        return {UssdStatus::NoAnswer};
    }
    return refused;
}

bool CancelUssd(TComPort& port, AnswerReader& reader) {
    return RunCommand(port, reader, "AT+CUSD=2").outcome == Outcome::Ok;
}

}  // namespace velka::modem
