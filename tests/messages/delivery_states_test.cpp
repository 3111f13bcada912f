// Delivery states: status reports matched to the sent records by reference and
// recipient, long texts counted whole, references that came round, and files that
// are missing or damaged.
#include "messages/delivery_states.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "store/sent_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

// ---- Matching ----

constexpr const char* kRecipient = "+79161234567";

store::StatusReport Report(int reference, std::string recipient, int status, std::string received,
                           std::string discharged = "08.12.2026 10:05:00") {
    store::StatusReport report;
    report.received = std::move(received);
    report.reference = reference;
    report.recipient = std::move(recipient);
    report.centre_time = "08.12.2026 10:00:30";
    report.discharged = std::move(discharged);
    report.status = status;
    return report;
}

class DeliveryMatchTest : public ::testing::Test {
  protected:
    // Appends a sent record whose messages got `references`, sent at `when`.
    void Sent(const std::string& text, std::vector<int> references,
              const std::string& when = "08.12.2026 10:00:00",
              const std::string& number = kRecipient) {
        std::vector<store::SegmentSent> sent;
        for (const int reference : references) sent.push_back({reference, when});
        ASSERT_TRUE(store::AppendSent(velka::testing::BoxHeld(Outbox()), Outbox(),
                                      std::vector<packet>{MakePacket(number, when, text)},
                                      std::vector<std::vector<store::SegmentSent>>{sent}));
    }
    void Reports(const std::vector<store::StatusReport>& reports) {
        ASSERT_TRUE(
            store::AppendReports(velka::testing::BoxHeld(store::ReportsPathBeside(Outbox())),
                                 store::ReportsPathBeside(Outbox()), reports));
    }
    DeliveryStates Load() {
        const auto box = store::BoxFile::Open(Outbox());
        EXPECT_TRUE(box.ok());
        auto states = LoadDeliveryStates(Outbox(), *box);
        EXPECT_TRUE(states.ok());
        return states ? *states : DeliveryStates{};
    }
    std::vector<DeliveryOutcome> Deliveries() {
        std::vector<DeliveryOutcome> kinds;
        for (const DeliveryState& state : Load().by_record) kinds.push_back(state.delivery);
        return kinds;
    }
    std::string Outbox() const { return dir_.File("outbox.db"); }

    velka::testing::TempDir dir_;
};

TEST_F(DeliveryMatchTest, ALongTextIsDeliveredOnlyWhenEveryPartIs) {
    Sent("three parts", {10, 11, 12});
    Reports({Report(10, kRecipient, 0, "08.12.2026 10:01:00", "08.12.2026 10:00:50"),
             Report(12, kRecipient, 0, "08.12.2026 10:01:00", "08.12.2026 10:00:59")});
    EXPECT_EQ(Deliveries(), std::vector<DeliveryOutcome>{DeliveryOutcome::Sent})
        << "part 2 not reported yet";
    Reports({Report(11, kRecipient, 0x20, "08.12.2026 10:01:30")});
    EXPECT_EQ(Deliveries(), std::vector<DeliveryOutcome>{DeliveryOutcome::Sent}) << "still trying";
    Reports({Report(11, kRecipient, 0, "08.12.2026 10:02:00", "08.12.2026 10:01:55")});
    const DeliveryState state = Load().by_record.at(0);
    EXPECT_EQ(state, (DeliveryState{DeliveryOutcome::Delivered, "08.12.2026 10:01:55", -1}))
        << "dated by the last part to arrive";
    EXPECT_EQ(DeliveryStateText(state), codepage::FromUtf8("доставлено 08.12.2026 10:01:55"));
}

TEST_F(DeliveryMatchTest, OneFailedPartMakesTheTextNotDeliveredWithTheReason) {
    Sent("three parts", {20, 21, 22});
    Reports({Report(20, kRecipient, 0, "08.12.2026 10:01:00"),
             Report(21, kRecipient, 0x46, "08.12.2026 10:01:00"),
             Report(22, kRecipient, 0, "08.12.2026 10:01:00")});
    const DeliveryState state = Load().by_record.at(0);
    EXPECT_EQ(state.delivery, DeliveryOutcome::NotDelivered);
    EXPECT_EQ(DeliveryStateText(state), codepage::FromUtf8("не доставлено: истёк срок хранения"));
    EXPECT_EQ(FailureReason(0x61),
              codepage::FromUtf8("телефон получателя занят, попытки прекращены"));
    EXPECT_EQ(FailureReason(0x5A), codepage::FromUtf8("постоянная ошибка, код 0x5A"));
    EXPECT_EQ(FailureReason(0x7B),
              codepage::FromUtf8("временная ошибка, попытки прекращены, код 0x7B"));
}

TEST_F(DeliveryMatchTest, AReferenceThatCameRoundNamesTheLatestMessageSentBeforeTheReport) {
    Sent("old", {5}, "08.12.2026 9:00:00");
    Sent("other recipient", {5}, "08.12.2026 9:30:00", "+79990000000");
    Sent("new", {5}, "08.12.2026 10:00:00");
    Sent("newer, after the report", {5}, "08.12.2026 11:00:00");
    Reports({Report(5, kRecipient, 0, "08.12.2026 10:30:00")});
    EXPECT_EQ(Deliveries(),
              (std::vector<DeliveryOutcome>{DeliveryOutcome::Sent, DeliveryOutcome::Sent,
                                            DeliveryOutcome::Delivered, DeliveryOutcome::Sent}));
}

TEST_F(DeliveryMatchTest, ANationalNumberInTheReportMatchesTheInternationalOne) {
    Sent("hello", {7}, "08.12.2026 10:00:00", "89161234567");
    Reports({Report(7, "+79161234567", 0, "08.12.2026 10:01:00")});
    EXPECT_EQ(Deliveries(), std::vector<DeliveryOutcome>{DeliveryOutcome::Delivered});
}

TEST_F(DeliveryMatchTest, AReportThatMatchesNothingChangesNothing) {
    Sent("one", {1});
    Sent("two", {2});
    const auto before = Load().by_record;
    Reports({Report(3, kRecipient, 0x41, "08.12.2026 10:01:00"),
             Report(1, "+79990000000", 0x41, "08.12.2026 10:01:00"),
             Report(2, kRecipient, 0x41, "08.12.2026 9:00:00"),  // came before it was sent
             Report(-1, kRecipient, 0x41, "08.12.2026 10:01:00")});
    EXPECT_EQ(Load().by_record, before);
    EXPECT_EQ(Deliveries(),
              (std::vector<DeliveryOutcome>{DeliveryOutcome::Sent, DeliveryOutcome::Sent}));
}

TEST_F(DeliveryMatchTest, AMissingStatesFileShowsEveryRecordAsSentWithoutAWarning) {
    ASSERT_TRUE(store::Append(
        velka::testing::BoxHeld(Outbox()), Outbox(),
        std::vector<packet>{MakePacket(kRecipient, "", "a"), MakePacket(kRecipient, "", "b")}));
    Reports({Report(1, kRecipient, 0, "08.12.2026 10:01:00")});
    const DeliveryStates states = Load();
    EXPECT_EQ(states.by_record.size(), 2u) << "no sent message lost";
    EXPECT_EQ(states.unbelieved, 0u);
    EXPECT_EQ(DeliveryStateText(states.by_record[0]), codepage::FromUtf8("отправлено"));
}

TEST_F(DeliveryMatchTest, ADamagedOrForeignStatesFileLosesNoRecordAndIsCounted) {
    Sent("first", {1});
    Sent("second", {2});
    Reports({Report(1, kRecipient, 0, "08.12.2026 10:01:00"),
             Report(2, kRecipient, 0, "08.12.2026 10:01:00")});
    {
        std::fstream file(dir_.File("outbox.states"),
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(store::kSentEntrySize + 12);  // the second entry's time
        file.put('X');
    }
    DeliveryStates states = Load();
    EXPECT_EQ(states.unbelieved, 1u);
    EXPECT_EQ(states.by_record.size(), 2u);
    EXPECT_EQ(states.by_record[0].delivery, DeliveryOutcome::Delivered);
    EXPECT_EQ(states.by_record[1].delivery, DeliveryOutcome::Sent);
    EXPECT_FALSE(UnbelievedStatesWarning(states.unbelieved).empty());

    // The outbox replaced from outside: the entries name records that are not theirs.
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(Outbox()), Outbox(),
                            std::vector<packet>{MakePacket(kRecipient, "", "else"),
                                                MakePacket(kRecipient, "", "more")}));
    states = Load();
    EXPECT_EQ(states.unbelieved, 2u);
    EXPECT_EQ(states.by_record, (std::vector<DeliveryState>{DeliveryState{}, DeliveryState{}}));
}

}  // namespace
}  // namespace velka::messages
