// A SIM as the views name it, and a message's SIM taken from the record that stands
// first in it.
#include "messages/sim_names.h"

#include <gtest/gtest.h>

#include "store/joined_box.h"
#include "store/parts_file.h"
#include "store/sim_note_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

TEST(SimNames, ANamedSimShowsItsNameAnyOtherTheEndOfItsKey) {
    const SimNames names({{"8970199111111111111", "Work"}, {"8970199333333333333", ""}});
    const struct {
        const char* key;
        std::string shown;
    } cases[] = {
        {"8970199111111111111", "Work"},
        {"8970199222222222222",
         "\x85"
         "222222"},
        {"8970199333333333333",
         "\x85"
         "333333"},  // a name left empty is no name
        {"IMSI250990000000002",
         "\x85"
         "000002"},
        {"123456", "123456"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(names.Shown(c.key), c.shown) << c.key;
}

class MessageSims : public ::testing::Test {
  protected:
    // Records with their parts' facts and the SIM of each, as the reception keeps them.
    void Keep(const std::string& path, const std::vector<packet>& records,
              const std::vector<std::optional<store::PartFacts>>& facts,
              const std::vector<std::string>& sims) {
        const auto first = store::RecordCount(path);
        ASSERT_TRUE(first.ok());
        ASSERT_TRUE(store::AppendReceived(velka::testing::BoxHeld(path), path, records, facts));
        std::vector<store::SimNote> notes;
        for (std::size_t i = 0; i < records.size(); ++i)
            notes.push_back({static_cast<std::uint32_t>(*first + i), records[i].checksum, sims[i]});
        ASSERT_TRUE(store::AppendSimNotes(velka::testing::BoxHeld(path), path, notes));
    }

    velka::testing::TempDir dir_;
    std::string inbox_ = dir_.File("inbox.db");
};

TEST_F(MessageSims, ALongMessageHasTheSimOfItsFirstPartThatCame) {
    // Part 2 of the first message came before part 1; of the second, part 1 never came.
    Keep(inbox_,
         {MakePacket("+7111", "d", "second half"), MakePacket("+7111", "d", "first half"),
          MakePacket("+7222", "d", "only the end")},
         {store::PartFacts{1, 8, 2, 2}, store::PartFacts{1, 8, 2, 1}, store::PartFacts{2, 8, 2, 2}},
         {"8970199222222222222", "8970199111111111111", "8970199333333333333"});
    const auto box = store::JoinedBox::Open(inbox_);
    ASSERT_TRUE(box.ok());
    ASSERT_EQ(box->size(), 2u);
    EXPECT_EQ(box->at(0).sim, "8970199111111111111") << "part 1, though it came second";
    EXPECT_EQ(box->SimAt(0), "8970199111111111111");
    EXPECT_EQ(box->at(1).sim, "8970199333333333333");
    EXPECT_EQ(box->SimKeys(),
              (std::vector<std::string>{"8970199222222222222", "8970199111111111111",
                                        "8970199333333333333"}));
}

}  // namespace
}  // namespace velka::messages
