// The worker notes the SIM of each message it keeps (store/sim_note_file.h): the
// SIM a received message came to and the SIM a sent record went through.
#include <gtest/gtest.h>

#include "app/app_core.h"
#include "store/sim_note_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"

namespace velka::app {
namespace {

constexpr const char* kFirstSim = "8970199111111111111";
constexpr const char* kSecondSim = "8970199222222222222";

class SimNotesTest : public testing::CoreOnModemsTest {
  protected:
    SimNotesTest() : CoreOnModemsTest(2) {
        modems_.Control(std::string("identity 1 iccid ") + kFirstSim);
    }
    void Start(bool reception) {
        ASSERT_TRUE(
            testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), reception));
        ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    }
    // The SIM noted for each record of the box, as a view believes it.
    std::vector<std::string> Noted(const char* box_file) const {
        const std::string path = home_.File(box_file);
        const auto box = store::BoxFile::Open(path);
        const auto notes = store::LoadSimNotes(store::SimNotesPathFor(path));
        EXPECT_TRUE(box.ok() && notes.ok());
        if (!box || !notes) return {};
        const store::RecordSims sims(*box, notes->entries);
        std::vector<std::string> noted;
        for (std::size_t i = 0; i < box->size(); ++i) noted.emplace_back(sims.At(i));
        return noted;
    }
    bool AwaitSent(std::size_t count) {
        return outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Sent) >= count; },
                                   std::chrono::seconds(60));
    }
};

TEST_F(SimNotesTest, AReceivedAndASentMessageAreNotedWithTheSimOfTheModem) {
    Start(true);
    testing::QueueOne(core_, "+79990000002", "sent through the first SIM");
    modems_.Control("inject 1 +79161234567 came to the first SIM");
    ASSERT_TRUE(AwaitSent(1));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() >= 1; }));
    core_.Shutdown();
    EXPECT_EQ(Noted(kInboxFile), std::vector<std::string>{kFirstSim});
    EXPECT_EQ(Noted(kOutboxFile), std::vector<std::string>{kFirstSim});
}

// A text whose first message went through a SIM the user then changed waits for
// that SIM, then goes again whole through the new one, which is the SIM noted:
// never the old one, which carried only its beginning.
TEST_F(SimNotesTest, ATextWhoseSimWasChangedGoesAgainWholeAndIsNotedWithTheNewSim) {
    // The first message of a two-message text goes; the second is refused.
    modems_.Control("fault 1 send-limit 1");
    core_.SetPinnedWait(std::chrono::seconds(1));
    Start(false);
    testing::QueueOne(core_, "+79990000002", std::string(200, 'x'));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Failed) >= 1; }));
    // Another SIM in the modem before the retry, as a user swaps it: unplugged,
    // changed and plugged back in, so that the worker opens the port afresh.
    modems_.Control("drop 1");
    modems_.Control(std::string("identity 1 iccid ") + kSecondSim);
    modems_.Control("fault 1 send-limit 0");
    modems_.Control("restore 1");
    ASSERT_TRUE(AwaitSent(1));
    testing::QueueOne(core_, "+79990000002", "after the change");
    ASSERT_TRUE(AwaitSent(2));
    core_.Shutdown();
    EXPECT_EQ(Noted(kOutboxFile), (std::vector<std::string>{kSecondSim, kSecondSim}));
    // The beginning, the text whole again (two messages), then the next record.
    EXPECT_EQ(modems_.Store(2).size(), 4u);
}

}  // namespace
}  // namespace velka::app
