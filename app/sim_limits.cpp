#include "app/sim_limits.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/datetime.h"

namespace velka::app {
namespace {

DateTime StartOfNextDay(const DateTime& now) {
    if (auto next = MakeDateTime(now.year, now.month, now.day + 1, 0, 0, 0)) return *next;
    if (now.month < 12) return DateTime{now.year, now.month + 1, 1, 0, 0, 0};
    return DateTime{now.year + 1, 1, 1, 0, 0, 0};
}

DateTime StartOfNextHour(const DateTime& now) {
    if (now.hour < 23) return DateTime{now.year, now.month, now.day, now.hour + 1, 0, 0};
    return StartOfNextDay(now);
}

DateTime StartOfNextMonth(const DateTime& now) {
    if (now.month < 12) return DateTime{now.year, now.month + 1, 1, 0, 0, 0};
    return DateTime{now.year + 1, 1, 1, 0, 0, 0};
}

// Whether `adding` more on top of `used` goes past `limit` (0: none). With nothing
// used yet it never does, so that a record bigger than the limit still goes.
bool Exceeds(int limit, int used, int adding) {
    return limit > 0 && used > 0 && used + adding > limit;
}

int MessagesCounted(int messages) {
    return std::clamp(messages, 1, 255);
}

}  // namespace

SimCounters::Periods SimCounters::PeriodsAt(std::int64_t moment) {
    const DateTime local = LocalTimeAt(moment);
    Periods periods;
    periods.month = std::int64_t{local.year} * 100 + local.month;
    periods.day = periods.month * 100 + local.day;
    periods.hour = periods.day * 100 + local.hour;
    return periods;
}

Result<SimCounters::Loaded> SimCounters::Load(std::string path, std::int64_t now) {
    auto reading = store::LoadSimSends(path);
    if (!reading) return reading.error();
    const std::int64_t month = PeriodsAt(now).month;
    Loaded loaded;
    loaded.counters.reset(new SimCounters(std::move(path), reading->damaged));
    loaded.kept.reserve(reading->entries.size());
    SimCounters& counters = *loaded.counters;
    MutexLock guard(counters.lock_);
    for (store::SimSend& send : reading->entries) {
        // A send of a later month than now is kept: the clock went back.
        if (PeriodsAt(send.moment).month < month) {
            loaded.dropped = true;
            continue;
        }
        counters.Add(send.sim, send.recipient, static_cast<int>(send.messages), send.moment);
        loaded.kept.push_back(std::move(send));
    }
    return loaded;
}

Result<std::unique_ptr<SimCounters>> SimCounters::Open(std::string path, std::int64_t now) {
    auto loaded = Load(std::move(path), now);
    if (!loaded) return loaded.error();
    // The old months' entries go; a rewrite that fails leaves a longer file that
    // counts the same.
    if (loaded->dropped) IgnoreFailure(store::SaveSimSends(loaded->counters->path_, loaded->kept));
    return std::move(loaded->counters);
}

Result<SimUsage> SimCounters::ReadUsage(const std::string& path, std::string_view sim,
                                        std::int64_t now) {
    auto loaded = Load(path, now);
    if (!loaded) return loaded.error();
    return loaded->counters->UsageOf(sim, now);
}

void SimCounters::Add(const std::string& sim, std::uint64_t recipient, int messages,
                      std::int64_t moment) {
    Tally& tally = tallies_[sim];
    const Periods periods = PeriodsAt(moment);
    if (periods.month != tally.periods.month) tally.month_recipients.clear();
    if (periods.day != tally.periods.day) {
        tally.day_messages = 0;
        tally.day_recipients.clear();
    }
    if (periods.hour != tally.periods.hour) tally.hour_messages = 0;
    tally.periods = periods;
    tally.hour_messages += messages;
    tally.day_messages += messages;
    tally.day_recipients.insert(recipient);
    tally.month_recipients.insert(recipient);
    tally.last_send = moment;
}

SimUsage SimCounters::UsageIn(const Tally& tally, const Periods& now) {
    SimUsage usage;
    usage.last_send = tally.last_send;
    if (tally.periods.month != now.month) return usage;
    usage.recipients_of_month = static_cast<int>(tally.month_recipients.size());
    if (tally.periods.day != now.day) return usage;
    usage.day = tally.day_messages;
    usage.recipients_of_day = static_cast<int>(tally.day_recipients.size());
    if (tally.periods.hour == now.hour) usage.hour = tally.hour_messages;
    return usage;
}

Admission SimCounters::Admit(std::string_view sim, const settings::SimLimits& limits,
                             std::string_view number, int messages, std::int64_t now) const {
    MutexLock guard(lock_);
    const auto found = tallies_.find(sim);
    if (found == tallies_.end()) return {};
    const Tally& tally = found->second;
    const Periods periods = PeriodsAt(now);
    const SimUsage usage = UsageIn(tally, periods);
    const DateTime local = LocalTimeAt(now);
    const std::uint64_t recipient = store::RecipientKey(number);
    const int counted = MessagesCounted(messages);

    // Every limit reached must lift before the SIM sends, so the latest one tells.
    Admission latest;
    const auto reached = [&](LimitReached limit, std::int64_t until) {
        // A clock change can put a boundary at or before now; rest a second at least.
        until = std::max(until, now + 1);
        if (until > latest.until) latest = Admission{limit, until};
    };
    const std::int64_t pause = limits.pause.count();
    if (pause > 0 && usage.last_send > 0 && now < usage.last_send + pause)
        reached(LimitReached::Pause, usage.last_send + pause);
    if (Exceeds(limits.per_hour, usage.hour, counted))
        reached(LimitReached::Hour, MomentOfLocal(StartOfNextHour(local)));
    if (Exceeds(limits.per_day, usage.day, counted))
        reached(LimitReached::Day, MomentOfLocal(StartOfNextDay(local)));
    const bool new_today =
        usage.recipients_of_day == 0 || !tally.day_recipients.contains(recipient);
    if (new_today && Exceeds(limits.recipients_per_day, usage.recipients_of_day, 1))
        reached(LimitReached::RecipientsOfDay, MomentOfLocal(StartOfNextDay(local)));
    const bool new_this_month =
        usage.recipients_of_month == 0 || !tally.month_recipients.contains(recipient);
    if (new_this_month && Exceeds(limits.recipients_per_month, usage.recipients_of_month, 1))
        reached(LimitReached::RecipientsOfMonth, MomentOfLocal(StartOfNextMonth(local)));
    return latest;
}

Status SimCounters::Count(std::string_view sim, std::string_view number, int messages,
                          std::int64_t now) {
    const store::SimSend send{std::string(sim), now, store::RecipientKey(number),
                              static_cast<std::uint32_t>(MessagesCounted(messages))};
    MutexLock guard(lock_);
    if (auto appended = store::AppendSimSend(path_, send); !appended) return appended;
    Add(send.sim, send.recipient, static_cast<int>(send.messages), now);
    return {};
}

SimUsage SimCounters::UsageOf(std::string_view sim, std::int64_t now) const {
    MutexLock guard(lock_);
    const auto found = tallies_.find(sim);
    if (found == tallies_.end()) return {};
    return UsageIn(found->second, PeriodsAt(now));
}

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string SimKey(const modem::DeviceIdentity& identity) {
    if (!identity.iccid.empty()) return identity.iccid;
    if (!identity.imsi.empty()) return "IMSI" + identity.imsi;
    return {};
}

std::string WorkerSim(const modem::DeviceIdentity& identity, std::uint16_t port) {
    std::string key = SimKey(identity);
    return key.empty() ? ComName(port) : key;
}

bool PortSim(std::string_view key) {
    return key.starts_with("COM");  // an ICCID is digits, an IMSI's key "IMSI" and digits
}

std::string SimRestText(LimitReached limit, const settings::SimSettings& sim, std::int64_t until) {
    const settings::SimLimits& limits = sim.limits;
    std::string what;
    switch (limit) {
        case LimitReached::None:
            return {};
        case LimitReached::Pause:
            what = "пауза между сообщениями: " + std::to_string(limits.pause.count()) + " с";
            break;
        case LimitReached::Hour:
            what = "сообщений в час: " + std::to_string(limits.per_hour);
            break;
        case LimitReached::Day:
            what = "сообщений в сутки: " + std::to_string(limits.per_day);
            break;
        case LimitReached::RecipientsOfDay:
            what = "получателей в сутки: " + std::to_string(limits.recipients_per_day);
            break;
        case LimitReached::RecipientsOfMonth:
            what = "получателей в месяц: " + std::to_string(limits.recipients_per_month);
            break;
    }
    const std::string name =
        sim.name.empty() ? std::string() : " «" + codepage::ToUtf8(sim.name) + "»";
    return codepage::FromUtf8("Лимит SIM" + name + " (" + what + "); отправка продолжится " +
                              codepage::ToUtf8(FormatDateTime(LocalTimeAt(until))));
}

std::string SimSettingsUnreadableText(const Error& error) {
    return codepage::FromUtf8("Лимиты SIM в Config.ini не читаются: ") + error.message;
}

std::string SimCountersUnreadableText(const Error& error) {
    return codepage::FromUtf8("Счётчики SIM (sim-counters.db) не читаются: ") + error.message;
}

SimStanding ReadSimStanding(const std::string& config_path, const std::string& counters_path,
                            std::string key, std::int64_t now) {
    auto settings = settings::ReadSimSettings(config_path, key);
    auto usage = SimCounters::ReadUsage(counters_path, key, now);
    return {std::move(key), std::move(settings), std::move(usage)};
}

std::string SimUsageText(const SimUsage& usage, const settings::SimLimits& limits) {
    const auto count = [](const char* period, int sent, int limit) {
        std::string text = std::string(period) + ": " + std::to_string(sent);
        return limit > 0 ? text + " из " + std::to_string(limit) : text;
    };
    return codepage::FromUtf8(
        "Отправлено " + count("за час", usage.hour, limits.per_hour) + ", " +
        count("за сутки", usage.day, limits.per_day) + "; получателей " +
        count("за сутки", usage.recipients_of_day, limits.recipients_per_day) + ", " +
        count("за месяц", usage.recipients_of_month, limits.recipients_per_month));
}

std::optional<SimRest> SimGate::Hold(const modem::DeviceIdentity& identity, std::string_view number,
                                     int messages, std::int64_t now) const {
    // How long a SIM rests when what its limits need cannot be read: the next
    // record looks again.
    constexpr std::int64_t kLookAgain = 60;
    const std::string key = SimKey(identity);
    if (key.empty() || (counters_ == nullptr && !unreadable_)) return std::nullopt;
    const auto sim = settings::ReadSimSettings(config_path_, key);
    if (!sim) {
        return SimRest{LimitReached::None, now + kLookAgain,
                       SimSettingsUnreadableText(sim.error())};
    }
    if (counters_ == nullptr) {
        if (sim->limits == settings::SimLimits{}) return std::nullopt;
        return SimRest{LimitReached::None, now + kLookAgain,
                       SimCountersUnreadableText(*unreadable_)};
    }
    const Admission admission = counters_->Admit(key, sim->limits, number, messages, now);
    if (admission.allowed()) return std::nullopt;
    return SimRest{admission.limit, admission.until,
                   SimRestText(admission.limit, *sim, admission.until)};
}

std::string SimGate::Name(const modem::DeviceIdentity& identity) const {
    const std::string key = SimKey(identity);
    if (key.empty()) return {};
    const auto sim = settings::ReadSimSettings(config_path_, key);
    return sim ? sim->name : std::string();
}

Status SimGate::Count(const modem::DeviceIdentity& identity, std::string_view number, int messages,
                      std::int64_t now) {
    const std::string key = SimKey(identity);
    if (counters_ == nullptr || key.empty()) return {};
    return counters_->Count(key, number, messages, now);
}

}  // namespace velka::app
