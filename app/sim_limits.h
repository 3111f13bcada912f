// What each SIM has sent against the limits its operator puts on it: counted in
// local clock hours, days and calendar months, kept in sim-counters.db
// (store/sim_counters_file.h) so that a restart or a kill keeps the counts. A
// SIM at a limit rests until the boundary that lifts it; the workers of the
// pool ask before each record and count after the modem took it.
//
// Threads: one SimCounters is shared by every worker of a pool; its lock guards
// the tallies and makes the file's appends one at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "modem/session.h"
#include "platform/mutex.h"
#include "platform/result.h"
#include "settings/sim_settings.h"
#include "store/sim_counters_file.h"

namespace velka::app {

enum class LimitReached { None, Pause, Hour, Day, RecipientsOfDay, RecipientsOfMonth };

// Whether a SIM may send a record now and, when not, the limit that stops it and
// the moment (seconds since 1970 UTC) from which it may.
struct Admission {
    LimitReached limit = LimitReached::None;
    std::int64_t until = 0;
    bool allowed() const { return limit == LimitReached::None; }
};

// What a SIM has sent in the periods that hold a moment.
struct SimUsage {
    int hour = 0;  // messages
    int day = 0;
    int recipients_of_day = 0;
    int recipients_of_month = 0;
    std::int64_t last_send = 0;  // seconds since 1970 UTC; 0: nothing this month
    bool operator==(const SimUsage&) const = default;
};

class SimCounters {
  public:
    // Reads the counters file at `path`; entries from before the month of `now`
    // are dropped from the file. Damaged entries are passed over (Damaged() counts
    // them): the counts can only come out lower than they were.
    static Result<std::unique_ptr<SimCounters>> Open(std::string path, std::int64_t now);
    // What `sim` sent in the periods that hold `now`, by the counters file at
    // `path`, read as Open reads it but never written: for a process that shows
    // the counts beside the one that counts. Fails when the file cannot be read.
    static Result<SimUsage> ReadUsage(const std::string& path, std::string_view sim,
                                      std::int64_t now);

    // Whether `sim` may send a record of `messages` messages to `number` at `now`
    // under `limits`. A record of more messages than a limit allows in a period is
    // let through alone at the start of one, or it would wait for ever.
    Admission Admit(std::string_view sim, const settings::SimLimits& limits,
                    std::string_view number, int messages, std::int64_t now) const EXCLUDES(lock_);
    // Counts a record the modem took, on the disk before this returns.
    Status Count(std::string_view sim, std::string_view number, int messages, std::int64_t now)
        EXCLUDES(lock_);
    SimUsage UsageOf(std::string_view sim, std::int64_t now) const EXCLUDES(lock_);

    std::size_t Damaged() const { return damaged_; }

  private:
    // The local periods a moment falls in, as numbers that differ between periods.
    struct Periods {
        std::int64_t hour = -1;
        std::int64_t day = -1;
        std::int64_t month = -1;
    };
    // A SIM's counts in the periods they are of.
    struct Tally {
        Periods periods;
        int hour_messages = 0;
        int day_messages = 0;
        std::unordered_set<std::uint64_t> day_recipients;
        std::unordered_set<std::uint64_t> month_recipients;
        std::int64_t last_send = 0;
    };

    // The counters of the file at `path` and its entries of the month of `now`
    // and after, which are all it counts.
    struct Loaded {
        std::unique_ptr<SimCounters> counters;
        std::vector<store::SimSend> kept;
        bool dropped = false;  // it holds entries of months before
    };

    SimCounters(std::string path, std::size_t damaged)
        : path_(std::move(path)), damaged_(damaged) {}
    static Result<Loaded> Load(std::string path, std::int64_t now);
    static Periods PeriodsAt(std::int64_t moment);
    static SimUsage UsageIn(const Tally& tally, const Periods& now);
    // Adds a send to its SIM's tally, starting new periods as it falls in them.
    void Add(const std::string& sim, std::uint64_t recipient, int messages, std::int64_t moment)
        REQUIRES(lock_);

    const std::string path_;
    const std::size_t damaged_;
    mutable Mutex lock_;
    std::map<std::string, Tally, std::less<>> tallies_ GUARDED_BY(lock_);
};

// Now, in the seconds since 1970 UTC that the counters keep.
std::int64_t WallSeconds();

// The key a SIM is counted and set up by: its ICCID, or "IMSI" and its IMSI when
// the modem gives no ICCID; empty when it gives neither, and then no limit holds.
std::string SimKey(const modem::DeviceIdentity& identity);

// What a worker knows its SIM by: SimKey, or the port's name ("COM5") when the
// modem tells neither ICCID nor IMSI, so that a text begun there still goes on
// there. PortSim tells the port's stand-in from a SIM's key.
std::string WorkerSim(const modem::DeviceIdentity& identity, std::uint16_t port);
bool PortSim(std::string_view key);

// A record held back by its SIM's limits: why, in words for the queue view
// (Windows-1251), and until when (seconds since 1970 UTC).
struct SimRest {
    LimitReached limit = LimitReached::None;
    std::int64_t until = 0;
    std::string text;
};

// The limits of the SIM a worker sends through: asked before each record, told of
// each record the modem took. The SIM's settings are read from Config.ini at each
// asking, so a change in the settings dialog holds from the next record. Used by
// the worker's thread; the counters it shares have their own lock.
class SimGate {
  public:
    // `counters` null: nothing is counted and no limit holds, unless `unreadable`
    // says why they could not be read: then a SIM with limits set rests, with that
    // reason, rather than sending uncounted.
    SimGate(SimCounters* counters, std::string config_path,
            std::optional<Error> unreadable = std::nullopt)
        : counters_(counters),
          config_path_(std::move(config_path)),
          unreadable_(std::move(unreadable)) {}

    // Why the SIM of `identity` may not send `messages` messages to `number` at
    // `now`; nothing when it may. A SIM whose settings cannot be read rests a
    // minute, with the reason, rather than sending past a limit the user set.
    std::optional<SimRest> Hold(const modem::DeviceIdentity& identity, std::string_view number,
                                int messages, std::int64_t now) const;
    // The name the user gave the SIM of `identity`; empty when none or unreadable.
    std::string Name(const modem::DeviceIdentity& identity) const;
    // Counts a record the modem took. A count the disk refuses is given back, and
    // the record stays sent: it was.
    Status Count(const modem::DeviceIdentity& identity, std::string_view number, int messages,
                 std::int64_t now);

  private:
    SimCounters* counters_;
    const std::string config_path_;
    const std::optional<Error> unreadable_;
};

// "Лимит SIM «Рабочая» (сообщений в час: 60); отправка продолжится 10.12.2026 11:00:00".
std::string SimRestText(LimitReached limit, const settings::SimSettings& sim, std::int64_t until);

// Why a SIM's limits cannot be told, in Windows-1251, `error` after the words:
// its settings in Config.ini do not convert, or its counters cannot be read.
std::string SimSettingsUnreadableText(const Error& error);
std::string SimCountersUnreadableText(const Error& error);

// One SIM as a front end shows it (the settings dialog, velka-sms-cli status):
// its settings and what it sent in the periods that hold now, each read apart,
// so that one that cannot be read leaves the other to show.
struct SimStanding {
    std::string key;  // SimKey()
    Result<settings::SimSettings> settings;
    Result<SimUsage> usage;
};

// Reads the section of SIM `key` in the Config.ini at `config_path` and its counts
// at `now` in the counters file at `counters_path`. Writes neither, so any process
// may call it. Blocks on the disk; any thread.
SimStanding ReadSimStanding(const std::string& config_path, const std::string& counters_path,
                            std::string key, std::int64_t now);

// "Отправлено за час: 3 из 60, за сутки: 12 из 500; получателей за сутки: 4 из 100,
// за месяц: 40 из 1000" (Windows-1251): a count whose limit is 0 stands alone.
std::string SimUsageText(const SimUsage& usage, const settings::SimLimits& limits);

}  // namespace velka::app
