// The user's webhooks: which URLs are told of which events, from Config.ini's
// section [Webhooks] (Url1=..., Events1=...; README "Webhooks"), and the secret
// each one's signatures are made with, from webhooks-secrets.ini beside it, a file
// only its owner may read ([Secrets] Secret1=...): Config.ini is shown and copied
// more freely than a key should be. Reading is pure but for the files; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velka::webhooks {

inline constexpr char kSection[] = "Webhooks";
inline constexpr char kSecretsFile[] = "webhooks-secrets.ini";
// Url1 to Url16: more hooks than a desktop client is ever given.
inline constexpr int kMostHooks = 16;

struct Hook {
    std::string url;                  // http[s]://host[:port]/path
    std::vector<std::string> events;  // the event names it wants; empty: every event
    std::string secret;               // the HMAC key; empty signs with an empty key
    std::uint64_t key = 0;            // HookKey(url): its name in the journal

    bool Wants(const std::string& event) const;
};

struct StoredEvent;

// Whether every hook that wants the event is done with it: what the journal may
// drop. With no hooks, every event.
bool EveryHookDone(const std::vector<Hook>& hooks, const StoredEvent& stored);

// The status bar's line for the hooks that keep failing, in Windows-1251; empty
// when none does.
std::string FailingHooksLine(const std::vector<std::string>& urls);

// The hooks set in `config_ini` with their secrets from `secrets_ini`; a hook whose
// URL is empty or neither http:// nor https:// is left out.
std::vector<Hook> ReadHooks(const std::string& config_ini, const std::string& secrets_ini);

}  // namespace velka::webhooks
