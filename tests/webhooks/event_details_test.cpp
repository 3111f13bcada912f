// What the events tell beyond the PDU, with the worker on the virtual modem: a
// delivery report names the queue record it speaks of, and each part of a long
// message names its sender as the contact book does and the inbox id of the whole.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "app/app_core.h"
#include "contacts/contact_book.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/app/config_ini.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/temp_dir.h"
#include "webhooks/event_keeping.h"

namespace velka::webhooks {
namespace {

using nlohmann::json;

class EventDetailsTest : public ::testing::Test {
  protected:
    EventDetailsTest() : modems_(2) {
        const std::string config = home_.File(app::kConfigFile);
        EXPECT_TRUE(velka::testing::WriteModemConfig(config, modems_.ComName(1), true));
        // Nobody listens there: the events are only kept, which is what is read here.
        EXPECT_TRUE(profile::WriteString(config, kSection, "Url1", "http://127.0.0.1:9/").ok());
    }
    void TearDown() override { core_.Shutdown(); }

    // The hooks are read when the keeping is made: after Config.ini names one.
    void Start() {
        keeping_.emplace(home_.path());
        core_.SetEventRecorder(*keeping_);
        core_.SetSafetyPoll(std::chrono::milliseconds(200));
        ASSERT_TRUE(core_.Start({}).ok());
        core_.SetDeliveryReportsEnabled(true);
    }
    // The bodies of the kept events named `name`.
    std::vector<json> Bodies(const std::string& name) {
        std::vector<json> bodies;
        for (const StoredEvent& stored : keeping_->journal().Events())
            if (stored.event.name == name) bodies.push_back(json::parse(stored.event.body));
        return bodies;
    }

    velka::testing::SimModems modems_;
    velka::testing::TempDir home_;
    std::optional<EventKeeping> keeping_;  // outlives the core's worker
    app::AppCore core_{home_.path()};
};

TEST_F(EventDetailsTest, ADeliveryReportNamesTheQueueRecordItSpeaksOf) {
    modems_.Control("fault 1 reports sm");
    Start();
    const std::vector<packet> records = {
        MakePacket("+79990000002", "10.12.2026 10:00:00", "first"),
        MakePacket("+79990000002", "10.12.2026 10:00:01", "second")};
    const auto ids = core_.Enqueue(records, {});
    ASSERT_TRUE(ids.ok());
    ASSERT_TRUE(velka::testing::Eventually([&] { return Bodies(kDelivered).size() == 2; },
                                           std::chrono::seconds(60)));
    std::set<std::string> named;
    for (const json& body : Bodies(kDelivered))
        named.insert(body["report"].value("message_id", ""));
    EXPECT_EQ(named, (std::set<std::string>{EventIdText((*ids)[0]), EventIdText((*ids)[1])}));
}

TEST_F(EventDetailsTest, EachPartOfALongMessageNamesItsSenderAndTheWholeMessagesInboxId) {
    ASSERT_TRUE(contacts::ContactBook(Registry::Machine())
                    .WriteContact({codepage::FromUtf8("Иван"), "+79161234567", "Work"})
                    .ok());
    Start();
    modems_.Control("inject 1 +79165550000 short one");
    ASSERT_TRUE(velka::testing::Eventually([&] { return Bodies(kReceived).size() == 1; }));
    modems_.Control("inject 1 +79161234567 " + std::string(200, 'x'));
    ASSERT_TRUE(velka::testing::Eventually([&] { return Bodies(kReceived).size() == 3; }));

    const std::vector<json> bodies = Bodies(kReceived);
    EXPECT_FALSE(bodies[0]["message"].contains("name")) << "the book does not know the number";
    EXPECT_EQ(bodies[0]["message"]["inbox_id"], 1);
    for (std::size_t part = 1; part <= 2; ++part) {
        SCOPED_TRACE(part);
        const json& message = bodies[part]["message"];
        EXPECT_EQ(message["name"], "Иван");
        EXPECT_EQ(message["inbox_id"], 2) << "both parts name the joined message";
        EXPECT_EQ(message["part"]["total"], 2);
    }
    EXPECT_NE(bodies[1]["id"], bodies[2]["id"]) << "an event per part, as before";
}

}  // namespace
}  // namespace velka::webhooks
