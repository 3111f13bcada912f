#include "tools/velka-sms-cli/ussd_command.h"

#include <cstdio>

#include "app/app_core.h"
#include "app/routes.h"
#include "app/ussd_text.h"
#include "platform/codepage.h"
#include "platform/program_dir.h"
#include "tools/velka-sms-cli/exit_status.h"
#include "tools/velka-sms-cli/json.h"

namespace velka::cli {
namespace {

using modem::UssdAnswer;
using modem::UssdStatus;

struct Step {
    std::string request;  // UTF-8
    UssdAnswer answer;
};

// The code, then each reply while the network asks. A session the network still
// holds open when the replies run out is ended: nobody is left to answer it.
std::vector<Step> Converse(modem::Session& session, const std::vector<std::string>& requests) {
    std::vector<Step> steps;
    for (const std::string& request : requests) {
        steps.push_back({request, session.Ussd(codepage::Utf8ToUtf16(request))});
        if (steps.back().answer.status != UssdStatus::Question) break;
    }
    if (steps.back().answer.status == UssdStatus::Question) session.EndUssd();
    return steps;
}

void PrintJson(const std::vector<Step>& steps) {
    Json all = Json::array();
    for (const Step& step : steps) {
        Json one;
        one["request"] = step.request;
        one["status"] = std::string(app::UssdStatusWord(step.answer.status));
        one["text"] = codepage::Utf16ToUtf8(step.answer.text);
        const std::string outcome = app::UssdOutcomeText(step.answer);
        one["message"] = outcome.empty() ? Json(nullptr) : Json(codepage::ToUtf8(outcome));
        all.push_back(std::move(one));
    }
    std::printf("%s\n", JsonText(all).c_str());
}

void PrintText(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (!step.answer.text.empty())
            std::printf("%s\n", codepage::Utf16ToUtf8(step.answer.text).c_str());
    }
}

}  // namespace

int Ussd(const std::vector<std::string_view>& args, const std::optional<std::string>& pin) {
    bool json = false;
    std::optional<std::string> via;  // Windows-1251, as the routes keep names
    std::vector<std::string> requests;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--json" && !json) {
            json = true;
        } else if (arg == "--via" && !via && i + 1 < args.size()) {
            via = codepage::FromUtf8(args[++i]);
            if (const std::string problem = app::RouteProblem(*via); !problem.empty())
                return Fail(kBadInput, "--via: " + problem + ".");
        } else if (arg.starts_with("--")) {
            return Fail(kBadInput, "ussd takes CODE [REPLY...], --via IMEI|PORT|SIM and --json.");
        } else {
            requests.emplace_back(arg);
        }
    }
    if (requests.empty()) return Fail(kBadInput, "ussd needs a CODE, such as *100#.");
    app::AppCore core(ProgramDirectory());
    if (pin) core.SetPin(*pin);
    std::vector<Step> steps;
    std::optional<Error> failure;
    core.RunOnModem({[&](modem::Session& session) { steps = Converse(session, requests); },
                     [&](const Error& why) { failure = why; }, via.value_or("")});
    if (failure) return Fail(kFailed, codepage::ToUtf8(failure->message));
    if (json) {
        PrintJson(steps);
    } else {
        PrintText(steps);
    }
    const UssdAnswer& last = steps.back().answer;
    if (!app::UssdAnswered(last))
        return Fail(kFailed, codepage::ToUtf8(app::UssdOutcomeText(last)));
    if (steps.size() < requests.size())
        return Fail(kFailed, "the network ended the session before the reply '" +
                                 requests[steps.size()] + "'.");
    return 0;
}

}  // namespace velka::cli
