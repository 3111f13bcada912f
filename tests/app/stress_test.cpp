// Many records through a modem that misbehaves at random: every record reaches
// outbox.db exactly once, and records that never failed keep their queue order.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/app_core.h"
#include "platform/profile.h"
#include "store/store_file.h"
#include "tests/app/outcomes.h"
#include "tests/modem/sim_fixture.h"

namespace velka::app {
namespace {

constexpr int kRecords = 1000;
constexpr int kRecipients = 10;

TEST(StressTest, AThousandRecordsForTenRecipientsThroughARandomlyFaultyModem) {
    testing::SimModems modems(1);
    modems.Control("fault 1 seed 7");
    modems.Control("fault 1 random-unsolicited 0.05");
    modems.Control("fault 1 random-noise 0.02");
    velka::testing::TempDir home;
    ASSERT_TRUE(
        profile::WriteString(home.File(kConfigFile), "DEVICEMAP", "SerialPort", modems.ComName(1)));
    ASSERT_TRUE(profile::WriteString(home.File(kConfigFile), "DEVICEMAP", "PerformMailCheck", "0"));
    testing::Outcomes outcomes;
    AppCore core(home.path());
    ASSERT_TRUE(core.Start(outcomes.Events()).ok());

    std::vector<packet> records;
    for (int i = 0; i < kRecords; ++i) {
        const std::string number = "+7916000000" + std::to_string(i % kRecipients);
        records.push_back(MakePacket(number, "07.12.2026 10:00:00", "record " + std::to_string(i)));
    }
    const auto ids = core.Enqueue(records);
    ASSERT_TRUE(ids.ok());
    std::map<std::uint64_t, std::string> text_of;
    for (int i = 0; i < kRecords; ++i) text_of[(*ids)[i]] = records[i].text_text();
    // Now and then the modem refuses a few sends in a row, as one without credit does.
    for (int burst = 1; burst <= 4; ++burst) {
        ASSERT_TRUE(outcomes.WaitUntil(
            [&] { return outcomes.CountAll(SendOutcome::Sent) >= 150u * burst; }));
        modems.Control("fault 1 send-error 500");
        ASSERT_TRUE(outcomes.WaitUntil(
            [&] { return outcomes.CountAll(SendOutcome::Failed) >= 3u * burst; }));
        modems.Control("fault 1 send-error 0");
    }
    ASSERT_TRUE(outcomes.WaitUntil([&] { return outcomes.CountAll(SendOutcome::Sent) == kRecords; },
                                   std::chrono::seconds(90)));
    core.Shutdown();

    std::map<std::string, int> times_stored;
    std::vector<std::string> order;
    const auto outbox = store::Load(home.File(kOutboxFile));
    ASSERT_TRUE(outbox.ok());
    for (const auto& record : *outbox) {
        ++times_stored[std::string(record.text_text())];
        order.emplace_back(record.text_text());
    }
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kRecords));
    for (const auto& [id, text] : text_of) EXPECT_EQ(times_stored[text], 1) << text;

    std::set<std::string> failed_once;
    for (const auto& entry : outcomes.Sends()) {
        if (entry.outcome == SendOutcome::Failed) failed_once.insert(text_of[entry.id]);
    }
    std::vector<std::string> never_failed_in_outbox;
    for (const auto& text : order) {
        if (!failed_once.count(text)) never_failed_in_outbox.push_back(text);
    }
    std::vector<std::string> never_failed_queued;
    for (const packet& record : records) {
        const std::string text(record.text_text());
        if (!failed_once.count(text)) never_failed_queued.push_back(text);
    }
    EXPECT_EQ(never_failed_in_outbox, never_failed_queued);
    EXPECT_GE(failed_once.size(), 4u) << "the refusals reached records";
}

}  // namespace
}  // namespace velka::app
