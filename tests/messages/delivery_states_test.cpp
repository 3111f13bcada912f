// Delivery states: status reports matched to the sent records by reference and
// recipient, long texts counted whole, references that came round, and files that
// are missing or damaged.
#include "messages/delivery_states.h"

#include <gtest/gtest.h>

#include <cstdio>
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

    // A report that came since is matched, on top of the states the cache keeps of
    // the records it does not name: the changed one still shows.
    Reports({Report(3, kRecipient, 0, Minute(4))});
    const DeliveryStates after = Load();
    std::vector<DeliveryState> expected = Matched();
    expected[3] = {DeliveryOutcome::NotDelivered, "", 0x46};
    EXPECT_EQ(after.by_record, expected);
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
    (*bytes)[88 + 24 * 10] ^= 1;  // the outcome of record 10
    ASSERT_TRUE(files::SaveDurably(cache_, *bytes));
    EXPECT_EQ(Load().by_record, matched);
    ASSERT_TRUE(files::SaveDurably(cache_, "VLKDLV02 and no more"));
    EXPECT_EQ(Load().by_record, matched);
}

// ---- Going on from the cache for what was appended ----

class DeliveryCacheGoOnTest : public DeliveryCacheTest {
  protected:
    // 1,100 records sent and reported until 18:20, and the cache of them.
    void SetUp() override {
        SentMany(1100);
        Load();
    }
    // Marks a state in the cache that no report changes, so that a load shows
    // whether it went on from the cache.
    void MarkInCache() {
        auto cache = store::LoadDeliveryCache(cache_);
        ASSERT_TRUE(cache);
        cache->states[kMarked] = {static_cast<std::uint8_t>(kMarkedState.delivery),
                                  static_cast<std::uint8_t>(kMarkedState.status), ""};
        ASSERT_TRUE(store::SaveDeliveryCache(cache_, *cache));
    }
    // A load must give what matching afresh gives, but for the marked state when it
    // went on from the cache.
    DeliveryStates ExpectAsAfresh(bool went_on, const char* why) {
        const DeliveryStates loaded = Load();
        std::remove(cache_.c_str());
        DeliveryStates afresh = Load();
        if (went_on) afresh.by_record[kMarked] = kMarkedState;
        EXPECT_EQ(loaded.by_record, afresh.by_record) << why;
        EXPECT_EQ(loaded.unbelieved, afresh.unbelieved) << why;
        return loaded;
    }
    static constexpr std::size_t kMarked = 1;  // odd: never reported
    const DeliveryState kMarkedState{DeliveryOutcome::NotDelivered, "", 0x47};
};

TEST_F(DeliveryCacheGoOnTest, AppendedRecordsAndReportsAreMatchedOnTopOfTheCache) {
    MarkInCache();
    Sent("new", {200}, "08.12.2026 19:00:00");
    ExpectAsAfresh(true, "a record appended without a report");

    // Reference 200 came round: records 200, 456, 712 and 968 carry it too.
    MarkInCache();
    Reports({Report(200, kRecipient, 0x41, "08.12.2026 19:01:00")});
    DeliveryStates loaded = ExpectAsAfresh(true, "a report of the new record");
    EXPECT_EQ(loaded.by_record[1100].delivery, DeliveryOutcome::NotDelivered);
    EXPECT_EQ(loaded.by_record[968].delivery, DeliveryOutcome::Delivered);

    // Old records 1097 (reference 73) and 1099 (75), never reported before.
    MarkInCache();
    Reports({Report(73, kRecipient, 0, "08.12.2026 19:02:00"),
             Report(75, kRecipient, 0x20, "08.12.2026 19:02:00")});
    loaded = ExpectAsAfresh(true, "reports of old records");
    EXPECT_EQ(loaded.by_record[1097].delivery, DeliveryOutcome::Delivered);
    EXPECT_EQ(loaded.by_record[1099].delivery, DeliveryOutcome::Sent) << "still trying";
    MarkInCache();
    Reports({Report(75, kRecipient, 0x46, "08.12.2026 19:03:00")});
    loaded = ExpectAsAfresh(true, "a failure after still trying");
    EXPECT_EQ(loaded.by_record[1099], (DeliveryState{DeliveryOutcome::NotDelivered, "", 0x46}));

    // A record whose entry names a checksum its record does not carry, and one of two messages.
    MarkInCache();
    Sent("two parts", {201, 202}, "08.12.2026 19:05:00");
    ASSERT_TRUE(store::AppendSentEntries(
        velka::testing::BoxHeld(Outbox()), Outbox(), std::vector<std::size_t>{1101},
        std::vector<packet>{MakePacket(kRecipient, "08.12.2026 19:05:00", "not this one")},
        std::vector<std::vector<store::SegmentSent>>{{{203, "08.12.2026 19:05:00"}}}));
    Reports({Report(201, kRecipient, 0, "08.12.2026 19:06:00"),
             Report(203, kRecipient, 0, "08.12.2026 19:06:00")});
    loaded = ExpectAsAfresh(true, "an entry not believed");
    EXPECT_EQ(loaded.unbelieved, 1u);
    EXPECT_EQ(loaded.by_record[1101].delivery, DeliveryOutcome::Sent) << "part 2 not reported";
}

TEST_F(DeliveryCacheGoOnTest, AReportsFileThatCameSinceIsReadWhole) {
    ASSERT_EQ(std::remove(store::ReportsPathBeside(Outbox()).c_str()), 0);
    Load();
    MarkInCache();
    Sent("new", {9}, "08.12.2026 19:00:00");
    Reports({Report(9, kRecipient, 0x45, "08.12.2026 19:01:00"),
             Report(8, kRecipient, 0, "08.12.2026 19:01:00")});
    const DeliveryStates loaded = ExpectAsAfresh(true, "every report is new");
    EXPECT_EQ(loaded.by_record[1100].delivery, DeliveryOutcome::NotDelivered);
    EXPECT_EQ(loaded.by_record[1032].delivery, DeliveryOutcome::Delivered);
}

TEST_F(DeliveryCacheGoOnTest, WhatTheCacheCannotVouchForIsMatchedAfresh) {
    // Sent before record 1034's report came at 17:15: that report now names it.
    MarkInCache();
    Sent("sent before a kept report", {10}, "08.12.2026 17:14:30");
    ExpectAsAfresh(false, "a record sent before the latest kept report");

    // A message of an old record confirmed again after a crash.
    const auto box = store::BoxFile::Open(Outbox());
    ASSERT_TRUE(box);
    MarkInCache();
    ASSERT_TRUE(store::AppendSentEntries(
        velka::testing::BoxHeld(Outbox()), Outbox(), std::vector<std::size_t>{5},
        std::vector<packet>{box->at(5)},
        std::vector<std::vector<store::SegmentSent>>{{{5, "08.12.2026 19:00:00"}}}));
    ExpectAsAfresh(false, "a new entry of an old record");

    // The cache keeps the state of a text of two messages, not of each message.
    Sent("two parts", {30, 31}, "08.12.2026 19:10:00");
    Reports({Report(31, kRecipient, 0, "08.12.2026 19:11:00")});
    Load();
    MarkInCache();
    Reports({Report(30, kRecipient, 0, "08.12.2026 19:12:00")});
    const DeliveryStates loaded = ExpectAsAfresh(false, "a new report of an old long text");
    EXPECT_EQ(loaded.by_record.back().delivery, DeliveryOutcome::Delivered);

    // The store file replaced whole, as a removal replaces it.
    MarkInCache();
    const auto now = store::BoxFile::Open(Outbox());
    std::vector<packet> same;
    for (std::size_t i = 0; i < now->size(); ++i) same.push_back(now->at(i));
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(Outbox()), Outbox(), same));
    Sent("after the removal", {40}, "08.12.2026 19:20:00");
    ExpectAsAfresh(false, "a store file replaced");
}

TEST_F(DeliveryCacheGoOnTest, ACacheOfOtherRecordsOrDamagedIsNotBelieved) {
    MarkInCache();
    auto cache = store::LoadDeliveryCache(cache_);
    ASSERT_TRUE(cache);
    cache->sources.last_checksum ^= 1;
    ASSERT_TRUE(store::SaveDeliveryCache(cache_, *cache));
    Sent("new", {50}, "08.12.2026 19:00:00");
    ExpectAsAfresh(false, "the last record it covers is another");

    MarkInCache();
    Sent("newer", {51}, "08.12.2026 19:01:00");
    auto bytes = files::ReadAll(cache_);
    ASSERT_TRUE(bytes);
    (*bytes)[88 + 24 * 20 + 5] ^= 1;  // the time of record 20
    ASSERT_TRUE(files::SaveDurably(cache_, *bytes));
    ExpectAsAfresh(false, "a damaged cache");
}

}  // namespace
}  // namespace velka::messages
