#include "messages/message_search.h"

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

class MessageSearchTest : public ::testing::Test {
  protected:
    MessageSearchTest() {
        EXPECT_TRUE(store::Save(
            velka::testing::BoxHeld(dir_.File("inbox.db")), dir_.File("inbox.db"),
            std::vector<packet>{
                MakePacket("+79161234567", "08.12.2026 10:00:00", W("Привет, ЁЖИК в тумане")),
                MakePacket("+70000000000", "08.12.2026 9:00:00", "Hello World"),
                MakePacket("89161234567", "07.12.2026 9:00:00", "national form"),
            }));
        EXPECT_TRUE(
            store::Save(velka::testing::BoxHeld(dir_.File("outbox.db")), dir_.File("outbox.db"),
                        std::vector<packet>{
                            MakePacket("+79161234567", "08.12.2026 9:30:00", W("ответ ёжику")),
                        }));
    }
    store::JoinedBox Open(const char* name) {
        return std::move(*store::JoinedBox::Open(dir_.File(name)));
    }
    std::vector<MessageRef> Find(std::string_view utf8) {
        return SearchIndex(Open("inbox.db"), Open("outbox.db"), names_).Find(W(utf8));
    }

    velka::testing::TempDir dir_;
    contacts::NumberNames names_{{{W("Мария Петрова"), "+79161234567", "A"}}};
};

constexpr MessageRef In(std::size_t row) {
    return {Box::Inbox, row};
}
constexpr MessageRef Out(std::size_t row) {
    return {Box::Outbox, row};
}

TEST_F(MessageSearchTest, TextIsFoundInBothBoxesIgnoringLatinAndCyrillicCase) {
    EXPECT_EQ(Find("ёжик"), (std::vector<MessageRef>{In(0), Out(0)}));
    EXPECT_EQ(Find("hello world"), std::vector<MessageRef>{In(1)});
    EXPECT_EQ(Find("ПРИВЕТ"), std::vector<MessageRef>{In(0)});
}

TEST_F(MessageSearchTest, ANameFindsTheMessagesOfItsNumberWrittenEitherWay) {
    EXPECT_EQ(Find("петрова"), (std::vector<MessageRef>{In(0), In(2), Out(0)}));
}

TEST_F(MessageSearchTest, NumbersAreFoundAsWrittenOrByTheirDigits) {
    EXPECT_EQ(Find("+7000"), std::vector<MessageRef>{In(1)});
    EXPECT_EQ(Find("916123"), (std::vector<MessageRef>{In(0), In(2), Out(0)}));
    EXPECT_EQ(Find("8916"), (std::vector<MessageRef>{In(0), In(2), Out(0)}))
        << "the national form finds the international one";
}

TEST_F(MessageSearchTest, AnEmptyOrAbsentQueryFindsNothing) {
    EXPECT_TRUE(Find("").empty());
    EXPECT_TRUE(Find("nowhere").empty());
}

TEST_F(MessageSearchTest, AConversationHoldsBothBoxesInTimeOrder) {
    EXPECT_EQ(Conversation(Open("inbox.db"), Open("outbox.db"), "89161234567"),
              (std::vector<MessageRef>{In(2), Out(0), In(0)}));
    EXPECT_TRUE(Conversation(Open("inbox.db"), Open("outbox.db"), "MTS").empty());
}

}  // namespace
}  // namespace velka::messages
