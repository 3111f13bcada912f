// The sent file outbox.states: entries written with their records, read back, a
// damaged entry found by its CRC, and the entries renumbered when records go.
#include "store/sent_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/files.h"
#include "store/parts_file.h"
#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

class SentFileTest : public ::testing::Test {
  protected:
    std::string Box() const { return dir_.File("outbox.db"); }
    std::string Sent() const { return dir_.File("outbox.states"); }

    velka::testing::TempDir dir_;
};

TEST(SentPath, ReplacesTheStoreFilesExtension) {
    EXPECT_EQ(SentPathFor("/a/outbox.db"), "/a/outbox.states");
    EXPECT_EQ(SentPathFor("/a.b/outbox"), "/a.b/outbox.states");
}

TEST_F(SentFileTest, EachMessageOfEachRecordGetsAnEntryNamingItsRecord) {
    const packet first = MakePacket("+79160000001", "08.12.2026 10:00:00", "one");
    const packet second = MakePacket("89160000002", "08.12.2026 10:01:00", "two parts");
    ASSERT_TRUE(AppendSent(velka::testing::BoxHeld(Box()), Box(), std::vector<packet>{first},
                           std::vector<std::vector<SegmentSent>>{{{5, "08.12.2026 10:00:01"}}}));
    ASSERT_TRUE(AppendSent(velka::testing::BoxHeld(Box()), Box(), std::vector<packet>{second},
                           std::vector<std::vector<SegmentSent>>{
                               {{6, "08.12.2026 10:01:01"}, {-1, "08.12.2026 10:01:02"}}}));
    const auto reading = LoadSent(Sent());
    ASSERT_TRUE(reading.ok());
    EXPECT_EQ(reading->damaged, 0u);
    const std::vector<SentEntry> expected = {
        {0, first.checksum, 1, 1, {5, "08.12.2026 10:00:01"}, "+79160000001"},
        {1, second.checksum, 1, 2, {6, "08.12.2026 10:01:01"}, "89160000002"},
        {1, second.checksum, 2, 2, {-1, "08.12.2026 10:01:02"}, "89160000002"},
    };
    EXPECT_EQ(reading->entries, expected);
    EXPECT_EQ(*RecordCount(Box()), 2u) << "the records themselves went to the store file";
}

TEST_F(SentFileTest, AMissingFileHoldsNothingAndADamagedEntryIsCountedNotBelieved) {
    const auto missing = LoadSent(Sent());
    ASSERT_TRUE(missing.ok());
    EXPECT_TRUE(missing->entries.empty());
    EXPECT_EQ(missing->damaged, 0u);

    const packet record = MakePacket("+79160000001", "08.12.2026 10:00:00", "text");
    ASSERT_TRUE(AppendSent(velka::testing::BoxHeld(Box()), Box(), std::vector<packet>{record},
                           std::vector<std::vector<SegmentSent>>{
                               {{1, "08.12.2026 10:00:01"}, {2, "08.12.2026 10:00:02"}}}));
    {
        std::fstream file(Sent(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(10);  // the first entry's reference
        file.put('\x7F');
        file.seekp(0, std::ios::end);
        file.write("torn", 4);
    }
    const auto reading = LoadSent(Sent());
    ASSERT_TRUE(reading.ok());
    EXPECT_EQ(reading->damaged, 2u) << "the changed entry and the torn tail";
    ASSERT_EQ(reading->entries.size(), 1u);
    EXPECT_EQ(reading->entries[0].sent.reference, 2);
}

TEST_F(SentFileTest, AViewPicksEntriesByTheirFieldsAndReadsATailAsLoadSentDoes) {
    const auto missing = SentFileView::Open(Sent());
    ASSERT_TRUE(missing.ok());
    EXPECT_EQ(missing->size(), 0u);
    EXPECT_EQ(missing->RecordsNamed(10), 0u);

    const std::vector<packet> records{MakePacket("+79160000001", "", "a"),
                                      MakePacket("+79160000002", "", "b"),
                                      MakePacket("+79160000003", "", "c")};
    ASSERT_TRUE(AppendSent(velka::testing::BoxHeld(Box()), Box(), records,
                           std::vector<std::vector<SegmentSent>>{
                               {{1, "08.12.2026 10:00:00"}},
                               {{2, "08.12.2026 10:00:01"}, {3, "08.12.2026 10:00:01"}},
                               {{1, "08.12.2026 10:00:02"}}}));
    {
        std::fstream file(Sent(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(3 * kSentEntrySize + 12);  // the last entry's time, its reference kept
        file.put('X');
        file.seekp(0, std::ios::end);
        file.write("torn", 4);
    }
    const auto view = SentFileView::Open(Sent());
    ASSERT_TRUE(view.ok());
    EXPECT_EQ(view->size(), 4u);
    const auto with_one =
        view->Picked(4, [](int reference, std::uint32_t) { return reference == 1; });
    ASSERT_EQ(with_one.size(), 1u) << "the damaged entry is left out";
    EXPECT_EQ(with_one[0].record, 0u);
    const auto of_second = view->Picked(4, [](int, std::uint32_t record) { return record == 1; });
    ASSERT_EQ(of_second.size(), 2u);
    EXPECT_EQ(of_second[1].sent.reference, 3);
    EXPECT_TRUE(view->Picked(1, [](int, std::uint32_t record) { return record == 1; }).empty())
        << "only the entries before the end";
    EXPECT_EQ(view->RecordsNamed(4), 3u) << "a damaged entry's record counts";
    EXPECT_EQ(view->RecordsNamed(2), 2u);

    const SentReading tail = view->From(2);
    EXPECT_EQ(tail.damaged, 2u) << "the damaged entry and the torn tail";
    ASSERT_EQ(tail.entries.size(), 1u);
    EXPECT_EQ(tail.entries[0], LoadSent(Sent())->entries[2]);
}

TEST_F(SentFileTest, RemovingRecordsRenumbersTheEntriesOfThoseThatStay) {
    std::vector<packet> records;
    std::vector<std::vector<SegmentSent>> sent;
    for (int i = 0; i < 3; ++i) {
        records.push_back(MakePacket("+7916000000" + std::to_string(i), "08.12.2026 10:00:00",
                                     "text " + std::to_string(i)));
        sent.push_back({{i + 10, "08.12.2026 10:00:01"}});
    }
    ASSERT_TRUE(AppendSent(velka::testing::BoxHeld(Box()), Box(), records, sent));
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(Box(), {0}));
    const auto reading = LoadSent(Sent());
    ASSERT_TRUE(reading.ok());
    ASSERT_EQ(reading->entries.size(), 2u);
    EXPECT_EQ(reading->entries[0].record, 0u);
    EXPECT_EQ(reading->entries[0].sent.reference, 11);
    EXPECT_EQ(reading->entries[0].checksum, records[1].checksum);
    EXPECT_EQ(reading->entries[1].record, 1u);
    EXPECT_EQ(reading->entries[1].sent.reference, 12);
}

}  // namespace
}  // namespace velka::store
