// The unread marks of inbox.unread: kept across a reading of the file, counted per
// message (a long one once), read when its parts are; a damaged line costs a mark
// and nothing else; and the notification's words.
#include "messages/unread_marks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/codepage.h"
#include "platform/files.h"
#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

class UnreadMarksTest : public ::testing::Test {
  protected:
    store::JoinedBox Inbox(const std::vector<packet>& records) {
        EXPECT_TRUE(store::Save(velka::testing::BoxHeld(inbox_), inbox_, records));
        auto box = store::JoinedBox::Open(inbox_);
        EXPECT_TRUE(box.ok());
        return std::move(*box);
    }
    UnreadMarks Marks() {
        auto marks = UnreadMarks::Load(path_);
        EXPECT_TRUE(marks.ok());
        return std::move(*marks);
    }

    velka::testing::TempDir home_;
    std::string inbox_ = home_.File("inbox.db");
    std::string path_ = home_.File("inbox.unread");
    packet a_ = MakePacket("+79990000001", "07.12.2026 10:00:00", "first");
    packet b_ = MakePacket("+79990000002", "07.12.2026 10:01:00", "second");
};

TEST_F(UnreadMarksTest, MarksSurviveAReadingOfTheFileAndReadingOneLeavesTheOther) {
    const auto inbox = Inbox({a_, b_});
    auto marks = Marks();
    EXPECT_EQ(marks.CountUnread(inbox), 0u) << "no file: nothing unread";
    EXPECT_TRUE(marks.AddUnread({a_, b_}));
    EXPECT_FALSE(marks.AddUnread({a_})) << "marked already";
    ASSERT_TRUE(marks.Save());

    auto again = Marks();
    EXPECT_EQ(again.CountUnread(inbox), 2u);
    EXPECT_TRUE(again.MarkRead(inbox, inbox.at(0)));
    EXPECT_FALSE(again.MarkRead(inbox, inbox.at(0))) << "read already";
    ASSERT_TRUE(again.Save());
    EXPECT_EQ(Marks().CountUnread(inbox), 1u);
}

TEST_F(UnreadMarksTest, TwoWindowsSavingInTurnKeepEachOthersMarks) {
    const auto inbox = Inbox({a_, b_});
    auto first = Marks();
    auto second = Marks();
    first.AddUnread({a_});
    ASSERT_TRUE(first.Save());
    second.AddUnread({b_});
    ASSERT_TRUE(second.Save());
    EXPECT_EQ(Marks().CountUnread(inbox), 2u) << "the second save kept the first's mark";
    EXPECT_EQ(second.CountUnread(inbox), 2u) << "and took it in";
    ASSERT_TRUE(first.Save());
    EXPECT_EQ(first.CountUnread(inbox), 2u) << "a save takes in what the other saved";
    ASSERT_TRUE(first.MarkRead(inbox, inbox.at(1)));
    ASSERT_TRUE(first.Save());
    ASSERT_TRUE(second.Save());
    EXPECT_EQ(Marks().CountUnread(inbox), 1u)
        << "a save with nothing changed brings no read mark back";
}

TEST_F(UnreadMarksTest, ADeletedMessagesMarkCountsForNothing) {
    auto marks = Marks();
    marks.AddUnread({a_, b_});
    EXPECT_EQ(marks.CountUnread(Inbox({b_})), 1u);
}

TEST_F(UnreadMarksTest, ADamagedLineCostsItsMarkAndNothingElse) {
    auto marks = Marks();
    marks.AddUnread({a_, b_});
    ASSERT_TRUE(marks.Save());
    auto contents = files::ReadAll(path_);
    ASSERT_TRUE(contents.ok());
    std::string damaged = *contents;
    damaged.insert(damaged.find('\n') + 1, "zz-not-a-key\n0123\n");
    damaged[damaged.rfind('\n') - 1] = 'X';  // the last key no longer one
    ASSERT_TRUE(files::SaveDurably(path_, damaged));
    EXPECT_EQ(Marks().CountUnread(Inbox({a_, b_})), 1u);
}

TEST_F(UnreadMarksTest, AFileThatCannotBeReadIsAnError) {
    std::filesystem::create_directory(path_);
    EXPECT_FALSE(UnreadMarks::Load(path_).ok());
}

store::ReceivedRecord Arrived(const std::string& number, const std::string& text,
                              std::optional<store::PartFacts> part = std::nullopt) {
    return {MakePacket(number, "07.12.2026 10:00:00", text), part, std::nullopt};
}

TEST(ArrivalNotice, NamesTheContactOrTheNumberAndStartsTheText) {
    const contacts::NumberNames names({{W("Мария"), "+79990000002", W("Друзья")}});
    const auto from_maria = Arrived("89990000002", W("Привет, как дела?"));
    const auto from_stranger = Arrived("+79161234567", std::string(70, 'x') + "\r\nmore");
    ArrivalNotice notice = NoticeOf({from_maria}, names);
    EXPECT_EQ(notice.title, W("Мария")) << "8XXXXXXXXXX is +7XXXXXXXXXX";
    EXPECT_EQ(notice.text, u"Привет, как дела?");
    notice = NoticeOf({from_stranger}, names);
    EXPECT_EQ(notice.title, "+79161234567");
    EXPECT_EQ(notice.text, std::u16string(60, u'x') + u"...");
    notice = NoticeOf({from_maria, from_stranger}, names);
    EXPECT_EQ(notice.title, W("Новых сообщений: 2"));
    EXPECT_EQ(NoticeOf({from_maria, from_maria}, names).title, W("Мария"))
        << "two messages of one sender";
}

// Parts come in any order; the notice shows the start of the message all the same,
// and counts a long message once.
TEST(ArrivalNotice, StartsAtTheFirstPartThatCameAndCountsALongMessageOnce) {
    const contacts::NumberNames names;
    const auto third = Arrived("+7999", "end.", store::PartFacts{9, 8, 3, 3});
    const auto first = Arrived("+7999", "Start", store::PartFacts{9, 8, 3, 1});
    const auto second = Arrived("+7999", "middle", store::PartFacts{9, 8, 3, 2});
    EXPECT_EQ(NoticeOf({third, first, second}, names).text, u"Start");
    EXPECT_EQ(NoticeOf({third, second}, names).text, u"...middle")
        << "the first part came earlier: the text does not start here";
    const auto other = Arrived("+7888", "hello");
    EXPECT_EQ(NoticeOf({third, first, other}, names).title, W("Новых сообщений: 2"));
}

TEST(ArrivalNotice, ShowsWhatTheRecordLostWholeAndNeverCutsAPair) {
    auto smiling = Arrived("+7999", "Hi ?");
    store::RecordContent content;
    content.body = store::ContentBody::WholeText;
    content.text = u"Hi \U0001F600";
    smiling.content = content;
    EXPECT_EQ(NoticeOf({smiling}, contacts::NumberNames()).text, u"Hi \U0001F600");
    const std::u16string pairs = u"\U0001F600\U0001F600";
    EXPECT_EQ(TextStart(pairs, 3), u"\U0001F600...") << "the second pair goes whole or not at all";
}

TEST(TextStart, IsTheFirstLineCutWithDots) {
    EXPECT_EQ(TextStart("short"), "short");
    EXPECT_EQ(TextStart("first line\r\nsecond"), "first line...");
    EXPECT_EQ(TextStart(std::string(50, 'a'), 10), std::string(10, 'a') + "...");
}

}  // namespace
}  // namespace velka::messages
