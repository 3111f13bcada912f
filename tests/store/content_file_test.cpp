// The content file beside a store file: entries of any length that read back whole,
// damage passed over entry by entry, renumbering as records go, and what the joined
// view makes of them (whole texts, payloads, replaced messages).
#include "store/content_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "store/joined_box.h"
#include "store/store_file.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

RecordContent WholeText(std::u16string text) {
    RecordContent content;
    content.coding_scheme = 0x08;
    content.body = ContentBody::WholeText;
    content.text = std::move(text);
    return content;
}

RecordContent Data(std::string payload, std::string header = {}) {
    RecordContent content;
    content.coding_scheme = 0x04;
    content.header = std::move(header);
    content.body = ContentBody::Data;
    content.data = std::move(payload);
    return content;
}

RecordContent Replacing(std::uint8_t protocol_id) {
    RecordContent content;
    content.protocol_id = protocol_id;
    return content;
}

class ContentFileTest : public ::testing::Test {
  protected:
    // Appends records as the reception does: the content entries first, then the
    // records with their parts' facts.
    void Receive(const std::vector<packet>& records,
                 const std::vector<std::optional<RecordContent>>& contents,
                 const std::vector<std::optional<PartFacts>>& facts = {}) {
        const auto held = velka::testing::BoxHeld(box_);
        const std::size_t first = *RecordCount(box_);
        std::vector<ContentEntry> entries;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (contents[i]) {
                entries.push_back(
                    {static_cast<std::uint32_t>(first + i), records[i].checksum, *contents[i]});
            }
        }
        ASSERT_TRUE(AppendContent(held, box_, entries));
        std::vector<std::optional<PartFacts>> all = facts;
        all.resize(records.size());
        ASSERT_TRUE(AppendReceived(held, box_, records, all));
    }
    JoinedBox Open() {
        auto box = JoinedBox::Open(box_);
        EXPECT_TRUE(box) << box.error().message;
        return std::move(*box);
    }

    velka::testing::TempDir dir_;
    std::string box_ = dir_.File("inbox.db");
    std::string content_ = ContentPathFor(box_);
};

TEST_F(ContentFileTest, EntriesOfEveryKindReadBackWhole) {
    EXPECT_EQ(ContentPathFor("/home/u/inbox.db"), "/home/u/inbox.content");
    RecordContent indication;
    indication.coding_scheme = 0xC8;
    indication.header = std::string("\x04\x01\x02\x80\x03", 5);
    const std::vector<ContentEntry> written = {
        {0, 0x11111111, WholeText(u"\U0001F600 \u03A9\r\n")},
        {7, 0x22222222,
         Data(std::string("\x00\xFFVCE1", 6), std::string("\x06\x05\x04\x0B\x84\x23\xF0", 7))},
        {0xFFFFFFFF, 0x33333333, indication},
    };
    ASSERT_TRUE(AppendContent(velka::testing::BoxHeld(box_), box_, written));
    const auto read = LoadContent(content_);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->entries, written);
    EXPECT_EQ(read->damaged, 0u);
    EXPECT_EQ(*files::ReadAll(content_), EncodeContentEntry(written[0]) +
                                             EncodeContentEntry(written[1]) +
                                             EncodeContentEntry(written[2]));
    EXPECT_EQ(EncodeContentEntry(written[0]).substr(0, 4), "VCE1");
}

// A flipped byte costs its own entry; a torn tail costs the bytes it left, and
// entries appended after it read as before. A missing file has no entries.
TEST_F(ContentFileTest, DamageCostsOnlyTheEntryItFalls) {
    EXPECT_TRUE(LoadContent(content_)->entries.empty());
    const ContentEntry a{1, 1, WholeText(u"\u00E9a")};
    const ContentEntry b{2, 2, Data("bb")};
    const ContentEntry c{3, 3, WholeText(u"\u00E9c")};
    std::string bytes = EncodeContentEntry(a) + EncodeContentEntry(b) + EncodeContentEntry(c);
    bytes[EncodeContentEntry(a).size() + 21] ^= 0x40;  // inside b
    ASSERT_TRUE(files::SaveDurably(content_, bytes + EncodeContentEntry(a).substr(0, 13)));
    auto read = LoadContent(content_);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->entries, (std::vector<ContentEntry>{a, c}));
    EXPECT_EQ(read->damaged, 2u);

    ASSERT_TRUE(AppendContent(velka::testing::BoxHeld(box_), box_, {b}));
    read = LoadContent(content_);
    EXPECT_EQ(read->entries, (std::vector<ContentEntry>{a, c, b}));
    EXPECT_EQ(read->damaged, 2u);

    ASSERT_TRUE(files::SaveDurably(content_, std::string(5000, 'V') + "CE1 junk"));
    EXPECT_TRUE(LoadContent(content_)->entries.empty());
}

TEST_F(ContentFileTest, TheViewShowsWhatTheRecordsLost) {
    Receive({MakePacket("+7111", "", "Hi ?"), MakePacket("+7222", "", "[data]"),
             MakePacket("+7333", "", "plain")},
            {WholeText(u"Hi \U0001F600"), Data("\x01\x02"), std::nullopt});
    const JoinedBox box = Open();
    ASSERT_EQ(box.size(), 3u);
    EXPECT_EQ(box.at(0).text, "Hi ?");
    EXPECT_EQ(box.at(0).WholeText(), u"Hi \U0001F600");
    EXPECT_EQ(box.at(1).data, "\x01\x02");
    EXPECT_EQ(box.at(1).text, "[data]");
    EXPECT_TRUE(box.at(1).whole.empty());
    EXPECT_FALSE(box.at(2).content);
    EXPECT_EQ(box.at(2).WholeText(), u"plain");
}

// One part lost characters: the message's whole text takes that part whole and the
// others, and the mark of a part yet to come, from their records.
TEST_F(ContentFileTest, ALongMessageJoinsItsPartsWholeTexts) {
    Receive({MakePacket("+7111", "", "end"), MakePacket("+7111", "", "start ?")},
            {std::nullopt, WholeText(u"start \u03A9")},
            {PartFacts{5, 8, 3, 3}, PartFacts{5, 8, 3, 1}});
    const JoinedMessage message = Open().at(0);
    EXPECT_EQ(message.text, "start ?" + MissingPartMark(2, 3) + "end");
    EXPECT_EQ(message.whole, u"start \u03A9" + codepage::ToUtf16(MissingPartMark(2, 3)) + u"end");
}

TEST_F(ContentFileTest, AnEntryForAnotherRecordIsNotBelieved) {
    const packet record = MakePacket("+7111", "", "Hi ?");
    ASSERT_TRUE(AppendContent(velka::testing::BoxHeld(box_), box_,
                              {{0, record.checksum ^ 1, WholeText(u"other")}}));
    Receive({record}, {std::nullopt});
    EXPECT_TRUE(Open().at(0).whole.empty());
}

// "Replace Short Message Type n": the latest message from a sender with a type
// stands for the earlier ones with the same type; other senders' and other types'
// stay.
TEST_F(ContentFileTest, AReplacingMessageHidesTheEarlierOneOfItsSenderAndType) {
    Receive({MakePacket("+7111", "", "balance 10"), MakePacket("+7222", "", "other sender"),
             MakePacket("+7111", "", "other type"), MakePacket("+7111", "", "plain")},
            {Replacing(0x41), Replacing(0x41), Replacing(0x42), std::nullopt});
    Receive({MakePacket("+7111", "", "balance 7")}, {Replacing(0x41)});
    const JoinedBox box = Open();
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < box.size(); ++i) texts.push_back(box.at(i).text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"other sender", "other type", "plain", "balance 7"}));
    EXPECT_TRUE(ReplacesEarlier(0x47));
    EXPECT_FALSE(ReplacesEarlier(0x40)) << "type 0 is a different thing";
}

TEST_F(ContentFileTest, RemovingRecordsRenumbersTheirEntries) {
    const packet first = MakePacket("+7111", "", "one ?");
    const packet second = MakePacket("+7222", "", "two ?");
    Receive({first, second}, {WholeText(u"one \u00E9"), WholeText(u"two \u00E9")});
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {0}));
    const auto read = LoadContent(content_);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->entries.size(), 1u);
    EXPECT_EQ(read->entries[0].record, 0u);
    EXPECT_EQ(Open().at(0).whole, u"two \u00E9");
}

}  // namespace
}  // namespace velka::store
