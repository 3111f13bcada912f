#include "messages/message_list.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

class SortedRowsTest : public ::testing::Test {
  protected:
    SortedRowsTest() {
        EXPECT_TRUE(store::Save(velka::testing::BoxHeld(path_), path_,
                                std::vector<packet>{
                                    MakePacket("+79990000002", "08.12.2026 10:00:00", W("яблоко")),
                                    MakePacket("+79161234567", "08.12.2026 9:00:00", "banana"),
                                    MakePacket("+70000000000", "07.12.2026 23:00:00", W("Арбуз")),
                                    MakePacket("+79990000002", "", "Apple"),
                                }));
    }
    std::vector<std::size_t> Sorted(Column column, bool descending = false) {
        const auto box = store::JoinedBox::Open(path_);
        return SortedRows(
            box->size(), [&](std::size_t row) { return box->at(row); }, names_, column, descending);
    }

    velka::testing::TempDir dir_;
    std::string path_ = dir_.File("inbox.db");
    contacts::NumberNames names_{{{"Zoe", "89161234567", "A"}, {"anna", "+79990000002", "A"}}};
};

TEST_F(SortedRowsTest, NumbersSortByTheNameShownIgnoringCaseThenByBoxOrder) {
    // "+70000000000" < "ANNA (...)" x2 (box order kept) < "ZOE (...)"
    EXPECT_EQ(Sorted(Column::Number), (std::vector<std::size_t>{2, 0, 3, 1}));
    EXPECT_EQ(Sorted(Column::Number, true), (std::vector<std::size_t>{1, 0, 3, 2}));
}

TEST_F(SortedRowsTest, DatesSortInTimeOrderAnUnreadableDateFirst) {
    EXPECT_EQ(Sorted(Column::DateTime), (std::vector<std::size_t>{3, 2, 1, 0}));
}

TEST_F(SortedRowsTest, TextsSortIgnoringLetterCaseLatinBeforeCyrillic) {
    EXPECT_EQ(Sorted(Column::Text), (std::vector<std::size_t>{3, 1, 2, 0}));
}

}  // namespace
}  // namespace velka::messages
