#include "tools/velka-sms-cli/status_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/status_text.h"
#include "platform/codepage.h"
#include "platform/com_name.h"
#include "tools/velka-sms-cli/json.h"

namespace velka::cli {
namespace {

using codepage::ToUtf8;

// One line of the plain form: a name and a value (UTF-8), and whether the value is
// a number for the flat JSON members scripts read before the modems' array.
struct Fact {
    std::string name;
    std::string value;
    bool number = false;
};

std::string StateWord(const modem::ModemStatus& status) {
    const std::string state = app::ModemStateText(status);
    return state.empty() ? "ready" : ToUtf8(state);
}

// The facts the first form of status printed, in their order; scripts read them.
std::vector<Fact> ModemFacts(const StatusFindings& found) {
    const ModemFindings& first = found.first;
    const modem::ModemInfo& info = first.modem.info;
    return {
        {"port", velka::ComName(first.port)},
        {"sim", StateWord(first.modem.status)},
        {"manufacturer", ToUtf8(info.manufacturer)},
        {"model", ToUtf8(info.model)},
        {"operator", ToUtf8(info.operator_name)},
        {"signal", info.signal < 0 ? "" : std::to_string(info.signal), true},
        {"announcements", first.modem.announces ? "on" : "off"},
        {"queue", std::to_string(found.queued), true},
    };
}

// One count of the SIM against its limit.
struct Tally {
    const char* name;
    const char* json_name;
    int sent;
    int limit;  // 0: none
};

std::vector<Tally> TalliesOf(const app::SimUsage& usage, const settings::SimLimits& limits) {
    return {
        {"sent-hour", "hour", usage.hour, limits.per_hour},
        {"sent-day", "day", usage.day, limits.per_day},
        {"recipients-day", "recipients_day", usage.recipients_of_day, limits.recipients_per_day},
        {"recipients-month", "recipients_month", usage.recipients_of_month,
         limits.recipients_per_month},
    };
}

// The settings and counts of the SIM as far as they could be read; none for what
// could not.
settings::SimSettings SettingsOf(const std::optional<app::SimStanding>& sim) {
    return sim && sim->settings ? *sim->settings : settings::SimSettings{};
}
app::SimUsage UsageOf(const std::optional<app::SimStanding>& sim) {
    return sim && sim->usage ? *sim->usage : app::SimUsage{};
}

// The lines after the first form's: the modem's and the SIM's identity, the SIM's
// name, and each count as "sent/limit" ("sent" alone without a limit; empty when
// no SIM is known or its counters cannot be read).
std::vector<Fact> SimFacts(const ModemFindings& found) {
    const modem::DeviceIdentity& identity = found.modem.identity;
    const settings::SimSettings settings = SettingsOf(found.sim);
    std::vector<Fact> facts = {
        {"imei", identity.imei},
        {"iccid", identity.iccid},
        {"imsi", identity.imsi},
        {"sim-name", ToUtf8(settings.name)},
    };
    const bool counted = found.sim && found.sim->usage;
    for (const Tally& tally : TalliesOf(UsageOf(found.sim), settings.limits)) {
        std::string value;
        if (counted) value = std::to_string(tally.sent);
        if (counted && tally.limit > 0) value.append("/").append(std::to_string(tally.limit));
        facts.push_back({tally.name, value});
    }
    const auto pause = settings.limits.pause.count();
    facts.push_back({"pause", found.sim ? std::to_string(pause) : std::string()});
    return facts;
}

// "modem", then the port, state, operator, signal, IMEI, ICCID, the SIM's name and
// today's count (as SimFacts words it), tab-separated: a pool's other modem.
std::string ModemLine(const ModemFindings& found) {
    const modem::ModemInfo& info = found.modem.info;
    std::string line = "modem";
    const std::vector<Fact> sim = SimFacts(found);
    const auto fact = [&sim](std::string_view name) {
        for (const Fact& f : sim)
            if (f.name == name) return f.value;
        return std::string();
    };
    for (const std::string& field :
         {velka::ComName(found.port), StateWord(found.modem.status), ToUtf8(info.operator_name),
          info.signal < 0 ? std::string() : std::to_string(info.signal), fact("imei"),
          fact("iccid"), fact("sim-name"), fact("sent-day")})
        line.append("\t").append(field);
    return line;
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json NumberOrNull(int value, bool known) {
    return known ? Json(value) : Json(nullptr);
}

Json SimJson(const app::SimStanding& sim) {
    const settings::SimSettings settings = SettingsOf(sim);
    Json object = Json::object();
    object["key"] = sim.key;
    object["name"] = TextOrNull(ToUtf8(settings.name));
    for (const Tally& tally : TalliesOf(UsageOf(sim), settings.limits)) {
        object[tally.json_name] = {{"sent", NumberOrNull(tally.sent, sim.usage.ok())},
                                   {"limit", NumberOrNull(tally.limit, tally.limit > 0)}};
    }
    const int pause = static_cast<int>(settings.limits.pause.count());
    object["pause_seconds"] = NumberOrNull(pause, pause > 0);
    if (!sim.settings) object["settings_error"] = ToUtf8(sim.settings.error().message);
    // The system's own words, already in its encoding (UTF-8 here).
    if (!sim.usage) object["counters_error"] = sim.usage.error().message;
    return object;
}

Json ModemJson(const ModemFindings& found) {
    const modem::ModemInfo& info = found.modem.info;
    const modem::DeviceIdentity& identity = found.modem.identity;
    Json modem = Json::object();
    modem["port"] = velka::ComName(found.port);
    modem["state"] = StateWord(found.modem.status);
    modem["operator"] = TextOrNull(ToUtf8(info.operator_name));
    modem["signal"] = NumberOrNull(info.signal, info.signal >= 0);
    modem["imei"] = TextOrNull(identity.imei);
    modem["iccid"] = TextOrNull(identity.iccid);
    modem["imsi"] = TextOrNull(identity.imsi);
    modem["sim"] = found.sim ? SimJson(*found.sim) : Json(nullptr);
    return modem;
}

// The flat members of the first form, for the scripts that read them, then every
// modem of the pool.
Json StatusJson(const StatusFindings& found) {
    Json object = Json::object();
    for (const Fact& fact : ModemFacts(found)) {
        if (!fact.number) {
            object[fact.name] = fact.value;
        } else if (fact.value.empty()) {
            object[fact.name] = nullptr;
        } else {
            object[fact.name] = std::stoull(fact.value);  // digits ModemFacts wrote
        }
    }
    object["modems"] = Json::array({ModemJson(found.first)});
    for (const ModemFindings& other : found.others) object["modems"].push_back(ModemJson(other));
    return object;
}

// Why the SIM's limits or counts are missing from what was printed.
void SayUnread(const std::optional<app::SimStanding>& sim) {
    if (!sim) return;
    if (!sim->settings) {
        std::fprintf(stderr, "velka-sms-cli: %s\n",
                     ToUtf8(app::SimSettingsUnreadableText(sim->settings.error())).c_str());
    }
    if (!sim->usage) {
        std::fprintf(stderr, "velka-sms-cli: %s\n",
                     ToUtf8(app::SimCountersUnreadableText(sim->usage.error())).c_str());
    }
}

}  // namespace

void PrintStatus(const StatusFindings& found, bool json) {
    SayUnread(found.first.sim);
    for (const ModemFindings& other : found.others) SayUnread(other.sim);
    if (json) {
        std::printf("%s\n", JsonText(StatusJson(found)).c_str());
        return;
    }
    for (const std::vector<Fact>& facts : {ModemFacts(found), SimFacts(found.first)}) {
        for (const Fact& fact : facts)
            std::printf("%s\t%s\n", fact.name.c_str(), fact.value.c_str());
    }
    for (const ModemFindings& other : found.others) std::printf("%s\n", ModemLine(other).c_str());
}

}  // namespace velka::cli
