#include "settings/sim_settings.h"

#include <string>

#include "platform/profile.h"
#include "settings/startup_settings.h"

namespace velka::settings {
namespace {

constexpr std::string_view kNameKey = "Name";
constexpr std::string_view kPerHourKey = "MessagesPerHour";
constexpr std::string_view kPerDayKey = "MessagesPerDay";
constexpr std::string_view kRecipientsPerDayKey = "RecipientsPerDay";
constexpr std::string_view kRecipientsPerMonthKey = "RecipientsPerMonth";
constexpr std::string_view kPauseKey = "PauseSeconds";

// A limit from the section: missing or empty is 0; anything else must convert.
Result<int> ReadLimit(const std::string& ini_path, const std::string& section,
                      std::string_view key) {
    const std::string text = profile::ReadString(ini_path, section, key, "");
    if (text.empty()) return 0;
    auto value = StrToInt(text);
    if (!value) return Error{std::string(key) + ": " + value.error().message};
    if (*value < 0) return Error{std::string(key) + ": '" + text + "' is below 0"};
    return *value;
}

}  // namespace

std::string SimSection(std::string_view sim_key) {
    return "SIM " + std::string(sim_key);
}

Result<SimSettings> ReadSimSettings(const std::string& ini_path, std::string_view sim_key) {
    const std::string section = SimSection(sim_key);
    SimSettings settings;
    settings.name = profile::ReadString(ini_path, section, kNameKey, "");
    const std::pair<std::string_view, int*> limits[] = {
        {kPerHourKey, &settings.limits.per_hour},
        {kPerDayKey, &settings.limits.per_day},
        {kRecipientsPerDayKey, &settings.limits.recipients_per_day},
        {kRecipientsPerMonthKey, &settings.limits.recipients_per_month},
    };
    for (const auto& [key, field] : limits) {
        auto value = ReadLimit(ini_path, section, key);
        if (!value) return value.error();
        *field = *value;
    }
    auto pause = ReadLimit(ini_path, section, kPauseKey);
    if (!pause) return pause.error();
    settings.limits.pause = std::chrono::seconds(*pause);
    return settings;
}

Status WriteSimSettings(const std::string& ini_path, std::string_view sim_key,
                        const SimSettings& settings) {
    const std::string section = SimSection(sim_key);
    const SimLimits& limits = settings.limits;
    const std::pair<std::string_view, std::string> values[] = {
        {kNameKey, settings.name},
        {kPerHourKey, std::to_string(limits.per_hour)},
        {kPerDayKey, std::to_string(limits.per_day)},
        {kRecipientsPerDayKey, std::to_string(limits.recipients_per_day)},
        {kRecipientsPerMonthKey, std::to_string(limits.recipients_per_month)},
        {kPauseKey, std::to_string(limits.pause.count())},
    };
    for (const auto& [key, value] : values) {
        if (auto written = profile::WriteString(ini_path, section, key, value); !written)
            return written;
    }
    return {};
}

}  // namespace velka::settings
