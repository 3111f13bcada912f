// The identities file: an entry is believed only while its record stands where it
// says with the bytes it names, a deletion keeps the identity, a damaged entry
// counts for nothing, and the file keeps to its bound.
#include "store/identity_file.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "store/parts_file.h"
#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

class IdentityFileTest : public ::testing::Test {
  protected:
    // Appends the records with an entry each, as the reception does: entries first.
    void Store(const std::vector<packet>& records, std::uint64_t first_identity) {
        const auto count = RecordCount(inbox_);
        ASSERT_TRUE(count.ok());
        std::vector<IdentityEntry> entries;
        for (std::size_t i = 0; i < records.size(); ++i) {
            entries.push_back({first_identity + i, IdentifiedFile::Inbox, false,
                               static_cast<std::uint32_t>(*count + i), RecordCrc(records[i])});
        }
        const BoxLock held = velka::testing::BoxHeld(inbox_);
        ASSERT_TRUE(AppendIdentities(held, inbox_, entries));
        ASSERT_TRUE(Append(held, inbox_, records));
    }
    StoredIdentities Stored() {
        auto stored = StoredIdentities::Load(velka::testing::BoxHeld(inbox_),
                                             {inbox_, ReportsPathBeside(inbox_), 512});
        EXPECT_TRUE(stored.ok());
        return std::move(*stored);
    }
    static packet Message(int i) {
        return MakePacket("+7916000000" + std::to_string(i), "09.12.2026 10:00:00",
                          "text " + std::to_string(i));
    }

    velka::testing::TempDir dir_;
    std::string inbox_ = dir_.File("inbox.db");
};

TEST_F(IdentityFileTest, AnEntryIsBelievedOnlyWhileItsRecordStandsWhereItSays) {
    Store({Message(1), Message(2)}, 100);
    EXPECT_TRUE(Stored().Holds(100));
    EXPECT_TRUE(Stored().Holds(101));
    EXPECT_FALSE(Stored().Holds(102));
    // A kill between the entry and its record: the entry names a record not there.
    const std::vector<IdentityEntry> torn{{200, IdentifiedFile::Inbox, false, 2, 12345}};
    ASSERT_TRUE(AppendIdentities(velka::testing::BoxHeld(inbox_), inbox_, torn));
    EXPECT_FALSE(Stored().Holds(200)) << "no record at its place: stored again, not lost";
    // Another record later takes that place: its bytes are not the ones named.
    Store({Message(3)}, 300);
    EXPECT_FALSE(Stored().Holds(200));
    EXPECT_TRUE(Stored().Holds(300));
}

TEST_F(IdentityFileTest, ADeletionKeepsTheIdentityAndMovesTheOthers) {
    Store({Message(1), Message(2), Message(3)}, 10);
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(inbox_, {0}));
    EXPECT_TRUE(Stored().Holds(10)) << "deleted by the user: a late listing must not bring it back";
    EXPECT_TRUE(Stored().Holds(11)) << "moved to the deleted one's place";
    EXPECT_TRUE(Stored().Holds(12));
    const auto reading = LoadIdentities(IdentitiesPathFor(inbox_));
    ASSERT_TRUE(reading.ok());
    ASSERT_EQ(reading->entries.size(), 3u);
    EXPECT_TRUE(reading->entries[0].removed);
    EXPECT_EQ(reading->entries[1].record, 0u);
    EXPECT_EQ(reading->entries[2].record, 1u);
}

TEST_F(IdentityFileTest, ADamagedEntryCountsForNothingAndTheRestStand) {
    Store({Message(1), Message(2)}, 1);
    const std::string path = IdentitiesPathFor(inbox_);
    auto bytes = files::ReadAll(path);
    ASSERT_TRUE(bytes.ok());
    (*bytes)[3] ^= 0x40;    // the first entry's identity
    bytes->append("torn");  // a kill inside an append
    ASSERT_TRUE(files::SaveDurably(path, *bytes));
    const auto reading = LoadIdentities(path);
    ASSERT_TRUE(reading.ok());
    EXPECT_EQ(reading->entries.size(), 1u);
    EXPECT_EQ(reading->damaged, 2u);
    EXPECT_FALSE(Stored().Holds(1));
    EXPECT_TRUE(Stored().Holds(2));
    Store({Message(3)}, 3);
    EXPECT_TRUE(Stored().Holds(3)) << "the next append starts on an entry's boundary";
}

TEST_F(IdentityFileTest, TheFileKeepsTheNewestEntriesWithinItsBound) {
    std::vector<IdentityEntry> many(2 * kIdentitiesKept - 1);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = {i, IdentifiedFile::Inbox, true};
    ASSERT_TRUE(AppendIdentities(velka::testing::BoxHeld(inbox_), inbox_, many));
    const std::vector<IdentityEntry> last{{99999, IdentifiedFile::Inbox, true}};
    ASSERT_TRUE(AppendIdentities(velka::testing::BoxHeld(inbox_), inbox_, last));
    const auto reading = LoadIdentities(IdentitiesPathFor(inbox_));
    ASSERT_TRUE(reading.ok());
    ASSERT_EQ(reading->entries.size(), kIdentitiesKept);
    EXPECT_EQ(reading->entries.back().identity, 99999u);
    EXPECT_FALSE(Stored().Holds(0)) << "the oldest went";
    EXPECT_TRUE(Stored().Holds(2 * kIdentitiesKept - 2));
}

TEST_F(IdentityFileTest, ADeleteFindsItsRecordsAgainAfterOthersMovedThem) {
    Store({Message(1), Message(2), Message(3)}, 1);
    const auto seen = Load(inbox_);  // what a view showed
    ASSERT_TRUE(seen.ok());
    // Meanwhile another process deleted the first and appended another.
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(inbox_, {0}));
    Store({Message(4)}, 4);
    const std::vector<RecordToRemove> shown_third{{2, (*seen)[2]}};
    ASSERT_TRUE(RemoveRecords(velka::testing::BoxHeld(inbox_), inbox_, shown_third));
    const auto left = Load(inbox_);
    ASSERT_TRUE(left.ok());
    ASSERT_EQ(left->size(), 2u);
    EXPECT_EQ((*left)[0].text_text(), "text 2");
    EXPECT_EQ((*left)[1].text_text(), "text 4") << "the record appended meanwhile stays";
}

}  // namespace
}  // namespace velka::store
