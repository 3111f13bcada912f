// The SIM notes beside a box: read back per record, carried along when records
// are removed, and never believed for a record they were not written for: after a
// crash inside a removal, on a box replaced from outside, or when damaged.
#include "store/sim_note_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "store/parts_file.h"
#include "store/sim_counters_file.h"
#include "tests/support/box_held.h"
#include "tests/support/file_damage.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

constexpr const char* kFirstSim = "8970199000000000001";
constexpr const char* kSecondSim = "IMSI250990000000002";

class SimNoteFileTest : public ::testing::Test {
  protected:
    // As the worker writes them: the records first, then the notes of those with a SIM.
    void Store(const std::vector<packet>& records, const std::vector<std::string>& sims) {
        const auto first = RecordCount(box_);
        ASSERT_TRUE(first.ok());
        ASSERT_TRUE(Append(velka::testing::BoxHeld(box_), box_, records).ok());
        std::vector<SimNote> notes;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (sims[i].empty()) continue;
            notes.push_back({static_cast<std::uint32_t>(*first + i), records[i].checksum, sims[i]});
        }
        ASSERT_TRUE(AppendSimNotes(velka::testing::BoxHeld(box_), box_, notes).ok());
    }
    // The SIM shown for each record of the box as it is now.
    std::vector<std::string> Shown() const {
        const auto box = BoxFile::Open(box_);
        const auto notes = LoadSimNotes(SimNotesPathFor(box_));
        EXPECT_TRUE(box.ok() && notes.ok());
        if (!box || !notes) return {};
        const RecordSims sims(*box, notes->entries);
        std::vector<std::string> shown;
        for (std::size_t i = 0; i < box->size(); ++i) shown.emplace_back(sims.At(i));
        return shown;
    }

    velka::testing::TempDir dir_;
    std::string box_ = dir_.File("inbox.db");
    packet one_ = MakePacket("+7111", "08.12.2026 10:00:00", "one");
    packet two_ = MakePacket("+7222", "08.12.2026 10:00:01", "two");
    packet three_ = MakePacket("+7333", "08.12.2026 10:00:02", "three");
    // The same text from one sender to two SIMs: the checksum cannot tell them apart.
    packet ok_ = MakePacket("+7444", "08.12.2026 10:00:03", "OK");
};

TEST_F(SimNoteFileTest, EachRecordShowsTheSimItsNoteNamesAndOlderRecordsNone) {
    ASSERT_TRUE(Append(velka::testing::BoxHeld(box_), box_, std::vector<packet>{one_}).ok());
    Store({two_, three_}, {kFirstSim, kSecondSim});
    Store({ok_}, {""});
    EXPECT_EQ(Shown(), (std::vector<std::string>{"", kFirstSim, kSecondSim, ""}));
    const auto box = BoxFile::Open(box_);
    const auto notes = LoadSimNotes(SimNotesPathFor(box_));
    ASSERT_TRUE(box.ok() && notes.ok());
    EXPECT_EQ(RecordSims(*box, notes->entries).keys(),
              (std::vector<std::string>{kFirstSim, kSecondSim}));
    EXPECT_EQ(SimNotesPathFor(dir_.File("outbox.db")), dir_.File("outbox.sims"));
}

TEST_F(SimNoteFileTest, NotesFollowTheirRecordsThroughRemovals) {
    Store({one_, two_, three_, ok_}, {kFirstSim, kSecondSim, "", kFirstSim});
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {1}));
    EXPECT_EQ(Shown(), (std::vector<std::string>{kFirstSim, "", kFirstSim}));
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {0, 2}));
    EXPECT_EQ(Shown(), (std::vector<std::string>{""}));
    const auto notes = LoadSimNotes(SimNotesPathFor(box_));
    ASSERT_TRUE(notes.ok());
    EXPECT_TRUE(notes->entries.empty()) << "the notes of removed records go with them";
}

TEST_F(SimNoteFileTest, ACrashBetweenTheBoxsRewriteAndTheRenumberingLeavesMovedRecordsBlank) {
    Store({one_, ok_, ok_}, {kFirstSim, kFirstSim, kSecondSim});
    // The removal of record 0 up to its store file's save, and no further.
    const auto aside = SetSimNotesAside(velka::testing::BoxHeld(box_), box_, 0);
    ASSERT_TRUE(aside.ok());
    EXPECT_EQ(aside->size(), 3u) << "every note is handed on for the renumbering";
    ASSERT_TRUE(Save(velka::testing::BoxHeld(box_), box_, std::vector<packet>{ok_, ok_}).ok());
    // Without the notes set aside, position 1 would show the first SIM's note on
    // the message that came to the second: same text, same checksum.
    EXPECT_EQ(Shown(), (std::vector<std::string>{"", ""}));
}

TEST_F(SimNoteFileTest, NotesOfAnotherBoxOrBeyondItsEndAreNotBelieved) {
    Store({one_, two_}, {kFirstSim, kSecondSim});
    // The box put back from a copy: other records at those positions, and fewer.
    ASSERT_TRUE(Save(velka::testing::BoxHeld(box_), box_, std::vector<packet>{three_}).ok());
    EXPECT_EQ(Shown(), (std::vector<std::string>{""}));
    const auto box = BoxFile::Open(box_);
    const auto notes = LoadSimNotes(SimNotesPathFor(box_));
    ASSERT_TRUE(box.ok() && notes.ok());
    const RecordSims sims(*box, notes->entries);
    EXPECT_EQ(sims.unbelieved(), 2u);
    EXPECT_TRUE(sims.keys().empty());
}

TEST_F(SimNoteFileTest, DamageCostsOnlyTheNotesItHits) {
    struct Case {
        const char* what;
        std::uint64_t flipped;  // offset in the notes file; SIZE_MAX: none
        std::size_t torn;       // bytes of a third entry left at the end
        std::vector<std::string> shown;
        std::size_t damaged;
    };
    const std::vector<Case> cases = {
        {"a record index", 1, 0, {"", kSecondSim}, 1},
        {"a key", kSimNoteEntrySize + 9, 0, {kFirstSim, ""}, 1},
        {"the CRC", kSimNoteEntrySize + kSimNoteEntrySize - 1, 0, {kFirstSim, ""}, 1},
        {"a torn tail", SIZE_MAX, 20, {kFirstSim, kSecondSim}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(box_);
        std::filesystem::remove(SimNotesPathFor(box_));
        Store({one_, two_}, {kFirstSim, kSecondSim});
        if (c.flipped != SIZE_MAX) velka::testing::FlipByteAt(SimNotesPathFor(box_), c.flipped);
        if (c.torn > 0) {
            std::ofstream(SimNotesPathFor(box_), std::ios::binary | std::ios::app)
                << EncodeSimNote({2, three_.checksum, kFirstSim}).substr(0, c.torn);
        }
        const auto notes = LoadSimNotes(SimNotesPathFor(box_));
        ASSERT_TRUE(notes.ok());
        EXPECT_EQ(notes->damaged, c.damaged);
        EXPECT_EQ(Shown(), c.shown);
    }
}

TEST_F(SimNoteFileTest, AMissingFileIsNoNoteAndAKeyThatCannotBeASimsIsRefused) {
    const auto missing = LoadSimNotes(SimNotesPathFor(box_));
    ASSERT_TRUE(missing.ok());
    EXPECT_TRUE(missing->entries.empty());
    EXPECT_EQ(missing->damaged, 0u);

    Store({one_}, {""});
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {0}));
    EXPECT_FALSE(files::Exists(SimNotesPathFor(box_))) << "a removal makes no notes file";

    for (const std::string& bad : {std::string(), std::string("89 70"),
                                   std::string(kSimKeySize + 1, '8'), std::string("89\x01")}) {
        const Status refused = AppendSimNotes(velka::testing::BoxHeld(box_), box_,
                                              std::vector<SimNote>{{0, one_.checksum, bad}});
        EXPECT_FALSE(refused.ok()) << "'" << bad << "'";
    }
    EXPECT_FALSE(files::Exists(SimNotesPathFor(box_))) << "nothing written for a refused key";
}

TEST_F(SimNoteFileTest, ANotesFileThatCannotBeReadIsAnErrorAndStopsTheRemoval) {
    Store({one_, two_}, {kFirstSim, kSecondSim});
    std::filesystem::remove(SimNotesPathFor(box_));
    std::filesystem::create_directory(SimNotesPathFor(box_));  // a folder cannot be read as a file
    EXPECT_FALSE(LoadSimNotes(SimNotesPathFor(box_)).ok());
    EXPECT_FALSE(velka::testing::RemoveRecordsAt(box_, {0}).ok());
    const auto records = Load(box_);
    ASSERT_TRUE(records.ok());
    EXPECT_EQ(records->size(), 2u) << "nothing removed, nothing lost";
}

}  // namespace
}  // namespace velka::store
