// The queue-id file: a record found by its queue id after removals renumbered the
// box, a kill before the record's append, and a damaged entry.
#include "store/queue_id_file.h"

#include <gtest/gtest.h>

#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/file_damage.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

class QueueIdFileTest : public ::testing::Test {
  protected:
    // As the worker writes them: the ids first, then the records.
    void Record(const std::vector<std::uint64_t>& ids, const std::vector<packet>& records) {
        ASSERT_TRUE(AppendQueueIds(velka::testing::BoxHeld(box_), box_, ids, records).ok());
        ASSERT_TRUE(Append(velka::testing::BoxHeld(box_), box_, records).ok());
    }
    std::optional<std::size_t> Find(std::uint64_t id) const {
        const auto box = BoxFile::Open(box_);
        const auto ids = LoadQueueIds(QueueIdPathFor(box_));
        EXPECT_TRUE(box.ok() && ids.ok());
        if (!box || !ids) return std::nullopt;
        return FindQueueId(ids->entries, id, [&box](std::size_t position) {
            return position < box->size() ? std::optional(box->ChecksumAt(position)) : std::nullopt;
        });
    }

    velka::testing::TempDir dir_;
    std::string box_ = dir_.File("outbox.db");
    packet one_ = MakePacket("+7111", "08.12.2026 10:00:00", "one");
    packet two_ = MakePacket("+7222", "08.12.2026 10:00:01", "two");
    packet three_ = MakePacket("+7333", "08.12.2026 10:00:02", "three");
};

TEST_F(QueueIdFileTest, ARecordIsFoundByItsIdWhereverARemovalMovedIt) {
    Record({11, 22}, {one_, two_});
    Record({33}, {three_});
    EXPECT_EQ(Find(22), 1u);
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {0}));
    EXPECT_EQ(Find(11), std::nullopt);
    EXPECT_EQ(Find(22), 0u);
    EXPECT_EQ(Find(33), 1u);
    EXPECT_EQ(QueueIdPathFor(dir_.File("unsent.db")), dir_.File("unsent.queue-ids"));
}

TEST_F(QueueIdFileTest, AnEntryLeftByAKillBeforeTheAppendNamesNoOtherRecord) {
    // Killed after the ids' flush: no record carries the entry's checksum yet.
    ASSERT_TRUE(AppendQueueIds(velka::testing::BoxHeld(box_), box_, std::vector<std::uint64_t>{11},
                               std::vector<packet>{one_})
                    .ok());
    Record({22}, {two_});
    EXPECT_EQ(Find(11), std::nullopt) << "the entry's position now holds another record";
    EXPECT_EQ(Find(22), 0u);
    // The restart appends the record with an entry of its own.
    Record({11}, {one_});
    EXPECT_EQ(Find(11), 1u);
}

TEST_F(QueueIdFileTest, ADamagedEntryCostsItsRecordAlone) {
    Record({11, 22}, {one_, two_});
    velka::testing::FlipByteAt(QueueIdPathFor(box_), 9);
    const auto ids = LoadQueueIds(QueueIdPathFor(box_));
    ASSERT_TRUE(ids.ok());
    EXPECT_EQ(ids->damaged, 1u);
    EXPECT_EQ(Find(11), std::nullopt);
    EXPECT_EQ(Find(22), 1u);
}

}  // namespace
}  // namespace velka::store
