// Many records through a modem that misbehaves at random: every record reaches
// outbox.db exactly once, and records that never failed keep their queue order.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "app/app_core.h"
#include "store/store_file.h"
#include "tests/app/config_ini.h"
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
    ASSERT_TRUE(testing::WriteModemConfig(home.File(kConfigFile), modems.ComName(1), false));
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

// The ways of real modems switched on and off at random (seeded, so a failure can
// be repeated): a busy SIM, the memory new messages go to, direct deliveries with
// and without acknowledgement, status reports in every form, the prompt's form,
// transient refusals, a hang. Every record is sent exactly once, every received
// message lands in inbox.db exactly once, no status report among them, and nothing
// is left on the modem.
TEST(StressTest, RealModemQuirksAtRandomLoseAndDuplicateNothing) {
    constexpr int kBatches = 10;
    constexpr int kBatchRecords = 15;
    constexpr int kBatchArrivals = 4;
    std::mt19937 random(20261208);
    testing::SimModems modems(1);
    const char* const memories[] = {"SM", "ME", "MT"};
    // Real modems do not change their memories while running: one for the whole run.
    modems.Control(std::string("fault 1 new-memory ") + memories[random() % 3]);
    velka::testing::TempDir home;
    ASSERT_TRUE(testing::WriteModemConfig(home.File(kConfigFile), modems.ComName(1), true));
    testing::Outcomes outcomes;
    AppCore core(home.path());
    ASSERT_TRUE(core.Start(outcomes.Events()).ok());

    const auto pick = [&](std::initializer_list<const char*> choices) {
        return std::string(*(choices.begin() + random() % choices.size()));
    };
    std::vector<std::string> sent_texts;
    std::vector<std::string> arrived_texts;
    for (int batch = 0; batch < kBatches; ++batch) {
        modems.Control("fault 1 direct " + pick({"off", "on", "ack"}));
        modems.Control("fault 1 reports " + pick({"off", "sm", "cdsi", "cds"}));
        modems.Control("fault 1 prompt " + pick({"crlf-blank", "crlf", "bare"}));
        modems.Control("fault 1 sim-busy " + pick({"0", "700"}) + " " + pick({"14", "515", "314"}));
        modems.Control("fault 1 send-refusals " + pick({"0", "1", "2"}) + " 314");
        if (random() % 3 == 0) modems.Control("fault 1 hang AT+CPMS=\"SM\"");
        for (int i = 0; i < kBatchArrivals; ++i) {
            arrived_texts.push_back("arrival-" + std::to_string(batch) + "-" + std::to_string(i));
            modems.Control("inject 1 +79160000077 " + arrived_texts.back());
        }
        for (int i = 0; i < kBatchRecords; ++i) {
            sent_texts.push_back("rec-" + std::to_string(batch) + "-" + std::to_string(i) + "-end");
            const packet record = MakePacket("+7916555000" + std::to_string(i % 10),
                                             "08.12.2026 10:00:00", sent_texts.back());
            ASSERT_TRUE(core.Enqueue({&record, 1}).ok());
        }
        ASSERT_TRUE(outcomes.WaitUntil(
            [&] { return outcomes.CountAll(SendOutcome::Sent) == sent_texts.size(); },
            std::chrono::seconds(120)))
            << "batch " << batch;
    }
    modems.Control("fault 1 direct off");
    ASSERT_TRUE(outcomes.WaitUntil([&] { return outcomes.ReceivedCount() >= arrived_texts.size(); },
                                   std::chrono::seconds(120)));
    // The modem's store and acknowledgements signal nothing: looked at until settled.
    ASSERT_TRUE(testing::Eventually(
        [&] { return modems.Store(1).empty() && modems.modem(1).unacknowledged() == 0; },
        std::chrono::seconds(120)));
    core.Shutdown();

    const std::string outside = modems.Control("outside");
    for (const std::string& text : sent_texts) EXPECT_EQ(testing::Count(outside, text), 1u) << text;
    std::map<std::string, int> outbox_times;
    const auto outbox = store::Load(home.File(kOutboxFile));
    ASSERT_TRUE(outbox.ok());
    for (const auto& record : *outbox) ++outbox_times[std::string(record.text_text())];
    for (const std::string& text : sent_texts) EXPECT_EQ(outbox_times[text], 1) << text;

    std::map<std::string, int> inbox_times;
    const auto inbox = store::Load(home.File(kInboxFile));
    ASSERT_TRUE(inbox.ok());
    for (const auto& record : *inbox) {
        EXPECT_EQ(record.number_text(), "+79160000077") << "no status report among the messages";
        ++inbox_times[std::string(record.text_text())];
    }
    EXPECT_EQ(inbox->size(), arrived_texts.size());
    for (const std::string& text : arrived_texts) EXPECT_EQ(inbox_times[text], 1) << text;
    EXPECT_TRUE(modems.Store(1).empty());
    EXPECT_EQ(modems.modem(1).unacknowledged(), 0u);
}

}  // namespace
}  // namespace velka::app
