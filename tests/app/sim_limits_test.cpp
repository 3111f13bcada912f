// The limits an operator puts on a SIM, counted in local hours, days and months
// and kept in sim-counters.db across restarts. Moments are made from local times,
// so the tests hold in any time zone (the dates chosen are away from clock changes).
#include "app/sim_limits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/queue_file.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "store/sim_counters_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"
#include "tests/support/temp_dir.h"

namespace velka::app {
namespace {

constexpr char kSim[] = "89701990000000000017";
constexpr char kOtherSim[] = "89701990000000000025";

std::int64_t At(int month, int day, int hour, int minute, int year = 2026) {
    return MomentOfLocal(DateTime{year, month, day, hour, minute, 0});
}

class SimLimitsTest : public ::testing::Test {
  protected:
    std::unique_ptr<SimCounters> Open(std::int64_t now) {
        auto opened = SimCounters::Open(path_, now);
        EXPECT_TRUE(opened) << opened.error().message;
        return opened ? std::move(*opened) : nullptr;
    }
    void Send(SimCounters& counters, const char* number, std::int64_t when, int messages = 1,
              const char* sim = kSim) {
        auto counted = counters.Count(sim, number, messages, when);
        ASSERT_TRUE(counted) << counted.error().message;
    }

    testing::TempDir dir_;
    std::string path_ = dir_.File(store::kSimCountersFile);
};

TEST_F(SimLimitsTest, MessagesAnHourAndADayRestUntilTheirLocalBoundary) {
    const settings::SimLimits limits{.per_hour = 3, .per_day = 5};
    auto counters = Open(At(12, 10, 10, 0));
    for (int minute : {15, 16, 17}) Send(*counters, "+79160000001", At(12, 10, 10, minute));

    const Admission hour = counters->Admit(kSim, limits, "+79160000002", 1, At(12, 10, 10, 30));
    EXPECT_EQ(hour.limit, LimitReached::Hour);
    EXPECT_EQ(hour.until, At(12, 10, 11, 0));
    // Another SIM has its own counts.
    EXPECT_TRUE(
        counters->Admit(kOtherSim, limits, "+79160000002", 1, At(12, 10, 10, 30)).allowed());

    EXPECT_TRUE(counters->Admit(kSim, limits, "+79160000002", 1, At(12, 10, 11, 0)).allowed());
    Send(*counters, "+79160000002", At(12, 10, 11, 5), 2);  // a text of two messages
    const Admission day = counters->Admit(kSim, limits, "+79160000003", 1, At(12, 10, 11, 30));
    EXPECT_EQ(day.limit, LimitReached::Day);
    EXPECT_EQ(day.until, At(12, 11, 0, 0));
    EXPECT_EQ(counters->UsageOf(kSim, At(12, 10, 11, 30)),
              (SimUsage{.hour = 2,
                        .day = 5,
                        .recipients_of_day = 2,
                        .recipients_of_month = 2,
                        .last_send = At(12, 10, 11, 5)}));

    EXPECT_TRUE(counters->Admit(kSim, limits, "+79160000003", 1, At(12, 11, 0, 0)).allowed());
    EXPECT_EQ(counters->UsageOf(kSim, At(12, 11, 0, 0)).day, 0);
}

TEST_F(SimLimitsTest, DistinctRecipientsAreCountedByNumberAndResetByDayAndMonth) {
    const settings::SimLimits limits{.recipients_per_day = 2, .recipients_per_month = 3};
    auto counters = Open(At(12, 30, 9, 0));
    Send(*counters, "+7 916 000-00-01", At(12, 30, 9, 0));
    Send(*counters, "+79160000002", At(12, 30, 9, 1));

    const Admission third = counters->Admit(kSim, limits, "+79160000003", 1, At(12, 30, 9, 2));
    EXPECT_EQ(third.limit, LimitReached::RecipientsOfDay);
    EXPECT_EQ(third.until, At(12, 31, 0, 0));
    // One already written to today is no new recipient, in whatever form it is written.
    EXPECT_TRUE(counters->Admit(kSim, limits, "89160000001", 1, At(12, 30, 9, 2)).allowed());

    Send(*counters, "+79160000003", At(12, 31, 8, 0));
    const Admission fourth = counters->Admit(kSim, limits, "+79160000004", 1, At(12, 31, 8, 1));
    EXPECT_EQ(fourth.limit, LimitReached::RecipientsOfMonth);
    EXPECT_EQ(fourth.until, At(1, 1, 0, 0, 2027));  // over the year's end
    EXPECT_TRUE(counters->Admit(kSim, limits, "+79160000002", 1, At(12, 31, 8, 1)).allowed());
    EXPECT_TRUE(counters->Admit(kSim, limits, "+79160000004", 1, At(1, 1, 0, 0, 2027)).allowed());
}

TEST_F(SimLimitsTest, APauseAndTheLatestOfSeveralLimitsTell) {
    const settings::SimLimits limits{.per_hour = 1, .pause = std::chrono::seconds(30)};
    auto counters = Open(At(12, 10, 10, 0));
    Send(*counters, "+79160000001", At(12, 10, 10, 30));
    const Admission hour = counters->Admit(kSim, limits, "+79160000001", 1, At(12, 10, 10, 30) + 5);
    EXPECT_EQ(hour.limit, LimitReached::Hour);  // 11:00 comes after the pause's end
    EXPECT_EQ(hour.until, At(12, 10, 11, 0));

    const std::int64_t late = At(12, 10, 10, 59) + 50;
    Send(*counters, "+79160000001", late, 1, kOtherSim);
    const Admission pause = counters->Admit(kOtherSim, limits, "+79160000001", 1, late + 5);
    EXPECT_EQ(pause.limit, LimitReached::Pause);  // 11:00:20 comes after the hour's end
    EXPECT_EQ(pause.until, late + 30);
    EXPECT_TRUE(counters->Admit(kOtherSim, limits, "+79160000001", 1, late + 30).allowed());
    EXPECT_TRUE(counters->Admit(kSim, limits, "+79160000001", 1, At(12, 10, 11, 0)).allowed());
}

TEST_F(SimLimitsTest, ATextLongerThanALimitGoesAloneAtTheStartOfAPeriod) {
    const settings::SimLimits limits{.per_hour = 5};
    auto counters = Open(At(12, 10, 10, 0));
    EXPECT_TRUE(counters->Admit(kSim, limits, "+79160000001", 7, At(12, 10, 10, 0)).allowed());
    Send(*counters, "+79160000001", At(12, 10, 10, 0), 7);
    EXPECT_EQ(counters->Admit(kSim, limits, "+79160000001", 1, At(12, 10, 10, 1)).limit,
              LimitReached::Hour);
}

TEST_F(SimLimitsTest, TheCountsSurviveARestartAndOldMonthsLeaveTheFile) {
    {
        auto counters = Open(At(11, 30, 23, 0));
        Send(*counters, "+79160000001", At(11, 30, 23, 10));
        Send(*counters, "+79160000002", At(11, 30, 23, 20));
        Send(*counters, "+79160000003", At(12, 1, 0, 5), 3);
        Send(*counters, "+79160000001", At(12, 1, 0, 6), 1, kOtherSim);
    }
    auto counters = Open(At(12, 1, 0, 30));
    EXPECT_EQ(counters->UsageOf(kSim, At(12, 1, 0, 30)), (SimUsage{.hour = 3,
                                                                   .day = 3,
                                                                   .recipients_of_day = 1,
                                                                   .recipients_of_month = 1,
                                                                   .last_send = At(12, 1, 0, 5)}));
    EXPECT_EQ(counters->UsageOf(kOtherSim, At(12, 1, 0, 30)).day, 1);
    auto reading = store::LoadSimSends(path_);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->entries.size(), 2u);  // November's two are gone
    EXPECT_EQ(reading->entries.front().messages, 3u);
}

TEST_F(SimLimitsTest, ADamagedEntryIsPassedOverAndAnUnwritableFileRefusesTheCount) {
    {
        auto counters = Open(At(12, 10, 10, 0));
        for (int minute : {1, 2, 3}) Send(*counters, "+79160000001", At(12, 10, 10, minute));
    }
    auto bytes = files::ReadAll(path_);
    ASSERT_TRUE(bytes);
    (*bytes)[store::kSimSendEntrySize + 30] ^= 0x20;  // inside the second entry's SIM key
    bytes->append("torn");                            // and a torn append after the third
    ASSERT_TRUE(files::SaveDurably(path_, *bytes));

    auto counters = Open(At(12, 10, 10, 5));
    EXPECT_EQ(counters->Damaged(), 2u);
    EXPECT_EQ(counters->UsageOf(kSim, At(12, 10, 10, 5)).hour, 2);
    Send(*counters, "+79160000001", At(12, 10, 10, 6));
    auto reading = store::LoadSimSends(path_);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->entries.size(), 3u);  // the new entry starts on an entry's boundary

    auto lost = SimCounters::Open(dir_.File("missing/sim-counters.db"), At(12, 10, 10, 0));
    ASSERT_TRUE(lost);
    EXPECT_FALSE((*lost)->Count(kSim, "+79160000001", 1, At(12, 10, 10, 7)));
    EXPECT_EQ((*lost)->UsageOf(kSim, At(12, 10, 10, 7)), SimUsage{});
    EXPECT_FALSE(counters->Count("", "+79160000001", 1, At(12, 10, 10, 7)));
    EXPECT_FALSE(counters->Count("key with blanks", "+79160000001", 1, At(12, 10, 10, 7)));
    EXPECT_EQ(counters->UsageOf(kSim, At(12, 10, 10, 7)).hour, 3);
}

// What the settings dialog and velka-sms-cli status read: the settings and the
// counts apart, so that one that cannot be read leaves the other; and the file is
// never rewritten by a reader, even in a new month.
TEST_F(SimLimitsTest, AStandingReadsSettingsAndCountsApartAndWritesNothing) {
    const std::string ini = dir_.File("Config.ini");
    const settings::SimSettings sim{codepage::FromUtf8("Рабочая"), {.per_hour = 60}};
    ASSERT_TRUE(settings::WriteSimSettings(ini, kSim, sim));
    {
        auto counters = Open(At(11, 30, 10, 0));
        Send(*counters, "+79160000001", At(11, 30, 10, 1));
        Send(*counters, "+79160000002", At(12, 10, 10, 1), 2);
    }
    const auto before = files::ReadAll(path_);
    ASSERT_TRUE(before);

    SimStanding standing = ReadSimStanding(ini, path_, kSim, At(12, 10, 10, 30));
    ASSERT_TRUE(standing.settings);
    EXPECT_EQ(*standing.settings, sim);
    ASSERT_TRUE(standing.usage);
    EXPECT_EQ(standing.usage->hour, 2);
    EXPECT_EQ(standing.usage->recipients_of_month, 1);
    EXPECT_EQ(files::ReadAll(path_).value(), *before) << "November's entry stays for the worker";

    ASSERT_TRUE(profile::WriteString(ini, settings::SimSection(kSim), "MessagesPerDay", "x"));
    ASSERT_TRUE(std::filesystem::create_directory(dir_.File("sim-counters-dir")));
    standing = ReadSimStanding(ini, dir_.File("sim-counters-dir"), kSim, At(12, 10, 10, 30));
    ASSERT_FALSE(standing.settings);
    EXPECT_NE(standing.settings.error().message.find("MessagesPerDay"), std::string::npos);
    EXPECT_FALSE(standing.usage) << "a counters file that is a folder cannot be read";
}

TEST_F(SimLimitsTest, LimitsTheDiskRefusesAreToldNotTakenForSaved) {
    AppCore core(dir_.path());
    ASSERT_TRUE(std::filesystem::create_directory(dir_.File(kConfigFile)));
    const Status saved =
        core.SaveSimSettings(kSim, {codepage::FromUtf8("Рабочая"), {.per_day = 5}});
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find(dir_.File(kConfigFile)), std::string::npos)
        << saved.error().message;
}

// ---- Through the worker ----

class SimLimitsOnModemTest : public testing::CoreOnModemsTest {
  protected:
    SimLimitsOnModemTest() : CoreOnModemsTest(2) {
        modems_.Control(std::string("identity 1 iccid ") + kSim);
        EXPECT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), false));
    }
    void Limit(const settings::SimLimits& limits) {
        ASSERT_TRUE(settings::WriteSimSettings(home_.File(kConfigFile), kSim,
                                               {codepage::FromUtf8("Рабочая"), limits}));
    }
    // The rows of the queue as the queue view shows them.
    std::vector<QueueRow> Rows() { return core_.SnapshotOfQueue().rows; }
    // How often the worker has told record `id` sent so far.
    std::size_t TimesSent(std::uint64_t id) {
        const auto sends = outcomes_.Sends();
        return static_cast<std::size_t>(
            std::count_if(sends.begin(), sends.end(), [id](const testing::Outcomes::Entry& e) {
                return e.id == id && e.outcome == SendOutcome::Sent;
            }));
    }
};

TEST_F(SimLimitsOnModemTest, ASimAtItsLimitRestsWithTheReasonAndKeepsItsCountsAcrossARestart) {
    Limit({.per_hour = 2});
    std::vector<SimRest> rests;
    Mutex rests_lock;
    WorkerEvents events = outcomes_.Events();
    events.on_sim_rest = [&](const SimRest& rest) {
        MutexLock guard(rests_lock);
        rests.push_back(rest);
    };
    ASSERT_TRUE(core_.Start(std::move(events)));
    std::vector<std::uint64_t> ids;
    for (const char* text : {"one", "two", "three"})
        ids.push_back(testing::QueueOne(core_, "+79990000002", text));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Sent) == 2; },
                                    std::chrono::seconds(60)));
    ASSERT_TRUE(testing::Eventually([&] {
        MutexLock guard(rests_lock);
        return !rests.empty();
    }));
    SimRest first;
    {
        MutexLock guard(rests_lock);
        first = rests.front();
    }
    // Until the start of the next clock hour.
    EXPECT_EQ(first.limit, LimitReached::Hour);
    EXPECT_GT(first.until, WallSeconds() - 5);
    EXPECT_LE(first.until, WallSeconds() + 3600);
    EXPECT_EQ(LocalTimeAt(first.until).minute, 0);
    EXPECT_EQ(LocalTimeAt(first.until).second, 0);
    const std::vector<QueueRow> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, ids[2]);
    EXPECT_EQ(rows[0].state, QueueRowState::Resting);
    const std::string reason = codepage::ToUtf8(rows[0].refusal);
    EXPECT_TRUE(
        reason.starts_with("Лимит SIM «Рабочая» (сообщений в час: 2); отправка "
                           "продолжится " +
                           codepage::ToUtf8(FormatDateTime(LocalTimeAt(first.until)))))
        << reason;
    EXPECT_EQ(outcomes_.Count(ids[2], SendOutcome::Sent), 0u);

    // Another start the same hour knows what the SIM sent: the third still waits.
    core_.Shutdown();
    AppCore again(home_.path());
    testing::Outcomes later;
    ASSERT_TRUE(again.Start(later.Events()));
    ASSERT_TRUE(testing::Eventually([&] {
        const auto restored = again.SnapshotOfQueue().rows;
        return restored.size() == 1 && restored[0].state == QueueRowState::Resting;
    }));
    EXPECT_EQ(later.CountAll(SendOutcome::Sent), 0u);
    auto counted = store::LoadSimSends(home_.File(store::kSimCountersFile));
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->entries.size(), 2u);
    EXPECT_EQ(counted->entries[0].sim, kSim);
}

TEST_F(SimLimitsOnModemTest, WithoutLimitsOrWithUnreadableOnesNothingGoesPastWhatTheUserSet) {
    ASSERT_TRUE(files::SaveDurably(home_.File(kConfigFile),
                                   "[DEVICEMAP]\r\nSerialPort=" + modems_.ComName(1) +
                                       "\r\nPerformMailCheck=0\r\n[SIM " + kSim +
                                       "]\r\nMessagesPerHour=many\r\n"));
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    const std::uint64_t id = testing::QueueOne(core_, "+79990000002", "held");
    ASSERT_TRUE(testing::Eventually([&] {
        const auto rows = Rows();
        return rows.size() == 1 && rows[0].state == QueueRowState::Resting;
    }));
    EXPECT_NE(codepage::ToUtf8(Rows()[0].refusal).find("MessagesPerHour: 'many'"),
              std::string::npos);
    EXPECT_EQ(outcomes_.Count(id, SendOutcome::Sent), 0u);
}

// A record held by a limit the user then raises goes at once, not at the period's
// end; a change that lifts nothing asks again and leaves it held.
TEST_F(SimLimitsOnModemTest, ARecordHeldByALimitGoesOnceTheLimitIsRaised) {
    Limit({.per_hour = 1});
    std::size_t rests = 0;
    Mutex rests_lock;
    WorkerEvents events = outcomes_.Events();
    events.on_sim_rest = [&](const SimRest&) {
        MutexLock guard(rests_lock);
        ++rests;
    };
    const auto rests_told = [&] {
        MutexLock guard(rests_lock);
        return rests;
    };
    ASSERT_TRUE(core_.Start(std::move(events)));
    testing::QueueOne(core_, "+79990000002", "one");
    const std::uint64_t held = testing::QueueOne(core_, "+79990000002", "two");
    ASSERT_TRUE(testing::Eventually([&] { return rests_told() == 1; }, std::chrono::seconds(60)));

    core_.SimLimitsChanged();
    ASSERT_TRUE(testing::Eventually([&] { return rests_told() == 2; }, std::chrono::seconds(60)));
    EXPECT_EQ(TimesSent(held), 0u);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].state, QueueRowState::Resting);

    ASSERT_TRUE(core_.SaveSimSettings(kSim, {codepage::FromUtf8("Рабочая"), {.per_hour = 5}}));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.Count(held, SendOutcome::Sent) == 1; },
                                    std::chrono::seconds(60)));
    EXPECT_EQ(rests_told(), 2u);
    auto counted = store::LoadSimSends(home_.File(store::kSimCountersFile));
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->entries.size(), 2u);
}

// A record the modem refused rests for its retry pause whatever the limits do; the
// one the limits held goes past it.
TEST_F(SimLimitsOnModemTest, ARecordInARetryPauseKeepsItsPauseWhenTheLimitsChange) {
    Limit({.per_hour = 1});
    {
        auto counters = SimCounters::Open(home_.File(store::kSimCountersFile), WallSeconds());
        ASSERT_TRUE(counters);
        ASSERT_TRUE((*counters)->Count(kSim, "+79990000003", 1, WallSeconds()));
    }
    QueuedRecord refused;
    refused.id = NewRecordId();
    refused.record = MakePacket("+79990000002", "09.12.2026 10:00:00", "refused");
    const QueueFile queue_file(home_.File(kQueueFile));
    ASSERT_TRUE(queue_file.AppendRecords({&refused, 1}));
    refused.attempts = 5;
    refused.due = Clock::now() + std::chrono::minutes(10);
    refused.refusal = "+CMS ERROR: 500";
    ASSERT_TRUE(queue_file.AppendRetry(refused));

    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    const std::uint64_t held = testing::QueueOne(core_, "+79990000002", "held");
    ASSERT_TRUE(testing::Eventually([&] {
        const auto rows = Rows();
        return rows.size() == 2 && rows[1].id == held && rows[1].state == QueueRowState::Resting;
    }));
    const Clock::time_point retry_due = Rows()[0].next_attempt;

    ASSERT_TRUE(core_.SaveSimSettings(kSim, {codepage::FromUtf8("Рабочая"), {.per_hour = 5}}));
    // The refused record waits first in the queue: woken, it would have gone first.
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.Count(held, SendOutcome::Sent) == 1; },
                                    std::chrono::seconds(60)));
    EXPECT_EQ(TimesSent(refused.id), 0u);
    const std::vector<QueueRow> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, refused.id);
    EXPECT_EQ(rows[0].state, QueueRowState::Resting);
    EXPECT_EQ(rows[0].next_attempt, retry_due);
    EXPECT_EQ(rows[0].refusal, "+CMS ERROR: 500");
}

TEST(SimCountersFile, AnEntryIsLaidOutAsDocumented) {
    const store::SimSend send{"8970199", 0x0102030405060708, 0x1112131415161718, 4};
    const std::string bytes = store::EncodeSimSend(send);
    ASSERT_EQ(bytes.size(), 64u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
    EXPECT_EQ(bytes.substr(8, 8), std::string("\x18\x17\x16\x15\x14\x13\x12\x11", 8));
    EXPECT_EQ(bytes[16], 4);
    EXPECT_EQ(bytes.substr(24, 8), std::string("8970199\0", 8));
    EXPECT_EQ(bytes.substr(17, 7), std::string(7, '\0'));
    EXPECT_EQ(bytes.substr(48, 12), std::string(12, '\0'));
    store::SimSend back;
    ASSERT_TRUE(store::DecodeSimSend(bytes.data(), back));
    EXPECT_EQ(back, send);
}

}  // namespace
}  // namespace velka::app
