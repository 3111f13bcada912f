// The events' bodies: what a receiver reads of a received message, a status
// report, a sent or unsendable record; and ids that stay the same when the same
// fact is reported again, so that the journal keeps it once.
#include "webhooks/events.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/codepage.h"

namespace velka::webhooks {
namespace {

using nlohmann::json;

// From +71234567890, in UCS2: "Пр".
constexpr char kCyrillic[] = "07910700000000F0040B911732547698F000086221600225142104041F0440";
// A status report of reference 0x2A to +71234567890, `status` as TP-ST.
std::string Report(const char* status) {
    return std::string("07919799000000F0062A0B911732547698F06221804104102162218041045021") + status;
}
constexpr std::int64_t kMoment = 1765312981123;  // 2025-12-09T20:43:01.123Z

json Body(const Event& event) {
    return json::parse(event.body);
}

TEST(WebhookEvents, AReceivedMessageGivesItsNumberCentreTimeAndWholeTextInUtf8) {
    const auto event = ReceivedEvent(kCyrillic, kMoment);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->name, "sms:received");
    const json body = Body(*event);
    EXPECT_EQ(body["event"], "sms:received");
    EXPECT_EQ(body["id"], EventIdText(event->id));
    EXPECT_EQ(body["time"], "2025-12-09T20:43:01.123Z");
    EXPECT_EQ(body["message"]["number"], "+71234567890");
    EXPECT_EQ(body["message"]["text"], "Пр");
    EXPECT_FALSE(body["message"]["time"].get<std::string>().empty());
    EXPECT_FALSE(body["message"].contains("part"));
}

TEST(WebhookEvents, AStatusReportSaysDeliveredFailedOrNothingWhileTheNetworkStillTries) {
    const auto delivered = ReceivedEvent(Report("00"), kMoment);
    ASSERT_TRUE(delivered.has_value());
    EXPECT_EQ(delivered->name, "sms:delivered");
    EXPECT_EQ(Body(*delivered)["report"]["reference"], 0x2A);
    EXPECT_EQ(Body(*delivered)["report"]["number"], "+71234567890");
    const auto failed = ReceivedEvent(Report("41"), kMoment);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->name, "sms:failed");
    EXPECT_EQ(Body(*failed)["report"]["status"], 0x41);
    EXPECT_FALSE(ReceivedEvent(Report("21"), kMoment).has_value());
}

TEST(WebhookEvents, ASentRecordCarriesTheTextAsTypedAndAnUnsendableOneTheModemsRefusal) {
    app::QueuedRecord item;
    item.id = 0x1234;
    item.record = MakePacket("+79160000001", "09.12.2026 10:00:00", "?");
    item.whole = u"\U0001F600";
    item.segments = 1;
    item.confirmed = 1;
    item.sent = {{7, "09.12.2026 10:00:05"}};
    const json sent = Body(SentEvent(item, kMoment));
    EXPECT_EQ(sent["event"], "sms:sent");
    EXPECT_EQ(sent["message"]["id"], "0000000000001234");
    EXPECT_EQ(sent["message"]["text"], "\xF0\x9F\x98\x80");
    EXPECT_EQ(sent["message"]["time"], "09.12.2026 10:00:05");

    item.whole.clear();
    item.record = MakePacket("+79160000001", "", codepage::FromUtf8("Привет"));
    item.refusal = "+CMS ERROR: 500";
    const json failed = Body(UnsendableEvent(item, kMoment));
    EXPECT_EQ(failed["event"], "sms:failed");
    EXPECT_EQ(failed["message"]["text"], "Привет");
    EXPECT_EQ(failed["reason"], "+CMS ERROR: 500");
}

TEST(WebhookEvents, TheSameFactReportedLaterHasTheSameIdAndDifferentFactsDiffer) {
    EXPECT_EQ(ReceivedEvent(kCyrillic, 1)->id, ReceivedEvent(kCyrillic, 2)->id);
    EXPECT_NE(ReceivedEvent(kCyrillic, 1)->id, ReceivedEvent(Report("00"), 1)->id);
    app::QueuedRecord item;
    item.id = 5;
    EXPECT_EQ(SentEvent(item, 1).id, SentEvent(item, 2).id);
    EXPECT_NE(SentEvent(item, 1).id, UnsendableEvent(item, 1).id);
    EXPECT_NE(ModemStateEvent("ready", "", 1).id, ModemStateEvent("ready", "", 2).id);
}

}  // namespace
}  // namespace velka::webhooks
