#include "webhooks/hooks.h"

#include <algorithm>
#include <sstream>

#include "platform/codepage.h"
#include "platform/profile.h"
#include "webhooks/event_journal.h"

namespace velka::webhooks {

bool Hook::Wants(const std::string& event) const {
    return events.empty() || std::find(events.begin(), events.end(), event) != events.end();
}

bool EveryHookDone(const std::vector<Hook>& hooks, const StoredEvent& stored) {
    return std::all_of(hooks.begin(), hooks.end(), [&](const Hook& hook) {
        return !hook.Wants(stored.event.name) || stored.done.contains(hook.key);
    });
}

std::string FailingHooksLine(const std::vector<std::string>& urls) {
    if (urls.empty()) return {};
    std::string line = urls.size() == 1 ? "Веб-хук не отвечает: " : "Веб-хуки не отвечают: ";
    for (std::size_t i = 0; i < urls.size(); ++i) line += (i > 0 ? ", " : "") + urls[i];
    return codepage::FromUtf8(line);
}

std::vector<Hook> ReadHooks(const std::string& config_ini, const std::string& secrets_ini) {
    std::vector<Hook> hooks;
    for (int n = 1; n <= kMostHooks; ++n) {
        const std::string number = std::to_string(n);
        Hook hook;
        hook.url = profile::ReadString(config_ini, kSection, "Url" + number, "");
        if (!hook.url.starts_with("http://") && !hook.url.starts_with("https://")) continue;
        std::istringstream names(profile::ReadString(config_ini, kSection, "Events" + number, ""));
        for (std::string name; names >> name;)
            if (name != "*") hook.events.push_back(name);
        hook.secret = profile::ReadString(secrets_ini, "Secrets", "Secret" + number, "");
        hook.key = HookKey(hook.url);
        hooks.push_back(std::move(hook));
    }
    return hooks;
}

}  // namespace velka::webhooks
