#include "messages/message_search.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "store/content_file.h"
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

// A sent text with emoji and Greek, kept whole beside its record: found by what
// Windows-1251 holds of it as before, and by the characters it lacks through the
// query as typed; Latin and Cyrillic case ignored there too.
TEST_F(MessageSearchTest, TheWholeTextOfAMessageIsSearchedByWhatWasTyped) {
    const std::u16string whole = u"Ok \U0001F44D \u0393\u03B5\u03B9\u03AC, Маша";
    const std::string path = dir_.File("outbox.db");
    const packet record =
        MakePacket("+79990000002", "09.12.2026 9:00:00", codepage::FromUtf16(whole));
    store::ContentEntry entry;
    entry.record = 1;
    entry.checksum = record.checksum;
    entry.content.body = store::ContentBody::WholeText;
    entry.content.text = whole;
    {
        const auto held = velka::testing::BoxHeld(path);
        ASSERT_TRUE(store::AppendContent(held, path, {entry}));
        ASSERT_TRUE(store::Append(held, path, std::vector<packet>{record}));
    }
    const auto find_typed = [&](std::u16string_view typed) {
        return SearchIndex(Open("inbox.db"), Open("outbox.db"), names_)
            .Find(codepage::FromUtf16(typed), typed);
    };
    EXPECT_EQ(find_typed(u"\U0001F44D"), std::vector<MessageRef>{Out(1)});
    EXPECT_EQ(find_typed(u"OK \U0001F44D \u0393\u03B5"), std::vector<MessageRef>{Out(1)});
    EXPECT_EQ(find_typed(u"\u03B9\u03AC, маша"), std::vector<MessageRef>{Out(1)});
    EXPECT_TRUE(find_typed(u"\U0001F600").empty()) << "another emoji is not a \"?\"";
    EXPECT_EQ(Find("маша"), std::vector<MessageRef>{Out(1)});
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
