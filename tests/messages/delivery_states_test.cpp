// Delivery states: status reports matched to the sent records by reference and
// recipient, long texts counted whole, references that came round, and files that
// are missing or damaged.
#include "messages/delivery_states.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "platform/files.h"
#include "store/delivery_cache.h"
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

// ---- The cache of a large box ----

class DeliveryCacheTest : public DeliveryMatchTest {
  protected:
    // `count` one-message records with references 0..255 in turn, a minute apart,
    // the even ones reported delivered and every tenth failed.
    void SentMany(std::size_t count) {
        std::vector<packet> records;
        std::vector<std::vector<store::SegmentSent>> sent;
        std::vector<store::StatusReport> reports;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string when = Minute(i);
            const int reference = static_cast<int>(i % 256);
            records.push_back(MakePacket(kRecipient, when, "text " + std::to_string(i)));
            sent.push_back({{reference, when}});
            if (i % 10 == 0)
                reports.push_back(Report(reference, kRecipient, 0x45, Minute(i + 1)));
            else if (i % 2 == 0)
                reports.push_back(Report(reference, kRecipient, 0, Minute(i + 1)));
        }
        ASSERT_TRUE(store::AppendSent(velka::testing::BoxHeld(Outbox()), Outbox(), records, sent));
        Reports(reports);
    }
    static std::string Minute(std::size_t i) {
        return "08.12.2026 " + std::to_string(i / 60 % 24) + ":" + (i % 60 < 10 ? "0" : "") +
               std::to_string(i % 60) + ":00";
    }
    // The states matched afresh, without the cache.
    std::vector<DeliveryState> Matched() {
        const auto box = store::BoxFile::Open(Outbox());
        const auto sent = store::LoadSent(store::SentPathFor(Outbox()));
        const auto reports = store::LoadReports(store::ReportsPathBeside(Outbox()));
        EXPECT_TRUE(box && sent && reports);
        return MatchReports(*box, sent->entries, *reports);
    }
    std::string cache_ = store::DeliveryCachePathFor(Outbox());
};

TEST_F(DeliveryCacheTest, ALargeBoxKeepsItsStatesUntilAFileTheyComeFromChanges) {
    SentMany(100);
    EXPECT_EQ(Load().by_record, Matched());
    EXPECT_FALSE(store::LoadDeliveryCache(cache_)) << "a small box is matched on each load";

    SentMany(1100);
    const DeliveryStates first = Load();
    EXPECT_EQ(first.by_record, Matched());
    auto cache = store::LoadDeliveryCache(cache_);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->states.size(), 1200u);
    EXPECT_EQ(first.by_record[110].delivery, DeliveryOutcome::NotDelivered);

    // A load while nothing changed takes the cache as it stands: a state changed in it shows.
    cache->states[3] = {static_cast<std::uint8_t>(DeliveryOutcome::NotDelivered), 0x46, ""};
    ASSERT_TRUE(store::SaveDeliveryCache(cache_, *cache));
    EXPECT_EQ(Load().by_record[3].status, 0x46);

    // A report that came since is matched: the cache no longer speaks of reports.db.
    Reports({Report(3, kRecipient, 0, Minute(4))});
    const DeliveryStates after = Load();
    EXPECT_EQ(after.by_record, Matched());
    EXPECT_EQ(after.by_record[103].delivery, DeliveryOutcome::Delivered);

    // So is a record sent since.
    ASSERT_TRUE(store::SaveDeliveryCache(cache_, *cache));
    Sent("one more", {7});
    EXPECT_EQ(Load().by_record, Matched());

    // And the store file replaced whole, with the same size, as a removal replaces it.
    cache = store::LoadDeliveryCache(cache_);
    ASSERT_TRUE(cache);
    cache->states[3] = {static_cast<std::uint8_t>(DeliveryOutcome::NotDelivered), 0x46, ""};
    ASSERT_TRUE(store::SaveDeliveryCache(cache_, *cache));
    const auto box = store::BoxFile::Open(Outbox());
    std::vector<packet> same;
    for (std::size_t i = 0; i < box->size(); ++i) same.push_back(box->at(i));
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(Outbox()), Outbox(), same));
    EXPECT_EQ(Load().by_record, Matched());
}

TEST_F(DeliveryCacheTest, ADamagedCacheIsNotBelieved) {
    SentMany(1100);
    const std::vector<DeliveryState> matched = Load().by_record;
    auto bytes = files::ReadAll(cache_);
    ASSERT_TRUE(bytes);
    (*bytes)[64 + 24 * 10] ^= 1;  // the outcome of record 10
    ASSERT_TRUE(files::SaveDurably(cache_, *bytes));
    EXPECT_EQ(Load().by_record, matched);
    ASSERT_TRUE(files::SaveDurably(cache_, "VLKDLV01 and no more"));
    EXPECT_EQ(Load().by_record, matched);
}

}  // namespace
}  // namespace velka::messages
