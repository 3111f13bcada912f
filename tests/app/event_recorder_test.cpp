// The events for other programs are on the disk before what they report leaves the
// modem or is recorded as sent: a recorder that refuses holds the message on the
// SIM and the record out of outbox.db, and once it takes them nothing is missing.
#include "app/event_recorder.h"

#include <gtest/gtest.h>

#include "app/app_core.h"
#include "store/store_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/outcomes.h"
#include "tests/modem/sim_fixture.h"

namespace velka::app {
namespace {

using testing::Eventually;

// A recorder that keeps what it is given in memory, and refuses while told to.
class ScriptedRecorder final : public EventRecorder {
  public:
    void Begin() override {}
    Status Received(const std::vector<std::string>& pdus) override {
        MutexLock guard(lock_);
        if (refusing_) return Error{"refused"};
        received_.insert(received_.end(), pdus.begin(), pdus.end());
        return {};
    }
    Status Sent(const std::vector<QueuedRecord>& records) override {
        MutexLock guard(lock_);
        if (refusing_) return Error{"refused"};
        for (const QueuedRecord& item : records) sent_.push_back(item.id);
        return {};
    }
    Status Unsendable(const std::vector<QueuedRecord>&) override { return {}; }

    void Refuse(bool refusing) {
        MutexLock guard(lock_);
        refusing_ = refusing;
    }
    std::size_t ReceivedCount() {
        MutexLock guard(lock_);
        return received_.size();
    }
    std::vector<std::uint64_t> SentIds() {
        MutexLock guard(lock_);
        return sent_;
    }

  private:
    Mutex lock_;
    bool refusing_ GUARDED_BY(lock_) = true;
    std::vector<std::string> received_ GUARDED_BY(lock_);
    std::vector<std::uint64_t> sent_ GUARDED_BY(lock_);
};

class EventRecorderTest : public ::testing::Test {
  protected:
    EventRecorderTest() : modems_(2) {}

    void Start() {
        ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), true));
        core_.SetSafetyPoll(std::chrono::milliseconds(50));
        core_.SetEventRecorder(recorder_);
        ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    }
    std::size_t BoxSize(const char* name) {
        const auto box = store::Load(home_.File(name));
        return box ? box->size() : 0;
    }

    testing::SimModems modems_;
    velka::testing::TempDir home_;
    testing::Outcomes outcomes_;
    ScriptedRecorder recorder_;
    AppCore core_{home_.path()};
};

TEST_F(EventRecorderTest, AMessageKeptWithoutItsEventStaysOnTheSimUntilTheEventIsOnTheDisk) {
    Start();
    modems_.Control("inject 1 +79161234567 first");
    ASSERT_TRUE(Eventually([&] { return BoxSize(kInboxFile) == 1; }));
    // Several cycles pass: kept, known, but never deleted without its event.
    ASSERT_TRUE(Eventually([&] { return testing::Count(modems_.Written(1), "AT+CMGL") >= 4; }));
    EXPECT_EQ(modems_.Store(1).size(), 1u);
    EXPECT_EQ(recorder_.ReceivedCount(), 0u);

    recorder_.Refuse(false);
    ASSERT_TRUE(Eventually([&] { return modems_.Store(1).empty(); }));
    EXPECT_EQ(recorder_.ReceivedCount(), 1u);
    EXPECT_EQ(BoxSize(kInboxFile), 1u) << "kept once, though listed again and again";
}

TEST_F(EventRecorderTest, ASentRecordGoesToTheOutboxOnlyOnceItsEventIsOnTheDisk) {
    Start();
    const packet record = MakePacket("+79990000002", "09.12.2026 10:00:00", "sent");
    const auto ids = core_.Enqueue({&record, 1});
    ASSERT_TRUE(ids.ok());
    ASSERT_TRUE(
        outcomes_.WaitUntil([&] { return outcomes_.Count(ids->front(), SendOutcome::Sent) == 1; }));
    EXPECT_EQ(BoxSize(kOutboxFile), 0u);

    recorder_.Refuse(false);
    ASSERT_TRUE(Eventually([&] { return BoxSize(kOutboxFile) == 1; }));
    EXPECT_EQ(recorder_.SentIds(), std::vector<std::uint64_t>{ids->front()});
}

}  // namespace
}  // namespace velka::app
