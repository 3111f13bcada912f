// The parts file beside a store file, and the messages a box shows once the parts
// of long messages are joined.
#include "store/joined_box.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

using Facts = std::optional<PartFacts>;

packet Part(const std::string& number, const std::string& text,
            const std::string& datetime = "08.12.2026 10:00:00") {
    return MakePacket(number, datetime, text);
}

PartFacts Of(std::uint8_t number, std::uint8_t total, std::uint16_t reference = 0x2A,
             std::uint8_t bits = 8) {
    return {reference, bits, total, number};
}

class JoinedBoxTest : public ::testing::Test {
  protected:
    void Receive(const std::vector<packet>& records, const std::vector<Facts>& facts) {
        ASSERT_TRUE(AppendReceived(velka::testing::BoxHeld(box_), box_, records, facts));
    }
    JoinedBox Open() {
        auto box = JoinedBox::Open(box_);
        EXPECT_TRUE(box) << box.error().message;
        return std::move(*box);
    }
    std::vector<std::string> Texts() {
        const JoinedBox box = Open();
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < box.size(); ++i)
            texts.push_back(codepage::ToUtf8(box.at(i).text));
        return texts;
    }

    velka::testing::TempDir dir_;
    std::string box_ = dir_.File("inbox.db");
};

TEST(PartsFile, LivesBesideTheStoreFileUnderItsName) {
    EXPECT_EQ(PartsPathFor("/home/u/inbox.db"), "/home/u/inbox.parts");
    EXPECT_EQ(PartsPathFor("C:\\Velka\\inbox.db"), "C:\\Velka\\inbox.parts");
    EXPECT_EQ(PartsPathFor("/home/u.d/inbox"), "/home/u.d/inbox.parts");
}

TEST(PartsFile, AnEntryIsSixteenLittleEndianBytesAndReadsBackWhole) {
    const PartEntry entry{0x01020304, 0xA1B2C3D4, {0xBEEF, 16, 3, 2}};
    const std::string bytes = EncodePartEntry(entry);
    ASSERT_EQ(bytes.size(), kPartEntrySize);
    EXPECT_EQ(bytes, std::string("\x04\x03\x02\x01\xD4\xC3\xB2\xA1\xEF\xBE\x10\x03\x02\0\0\0", 16));
    EXPECT_EQ(DecodePartEntry(bytes.data()), entry);
}

TEST_F(JoinedBoxTest, OnlyThePartsOfLongMessagesGetEntriesNamingTheirRecords) {
    Receive({Part("+1", "single")}, {std::nullopt});
    EXPECT_FALSE(files::Exists(PartsPathFor(box_))) << "no entry, no file";
    const std::vector<packet> parts = {Part("+2", "one "), Part("+3", "alone"), Part("+2", "two")};
    Receive(parts, {Of(1, 2), std::nullopt, Of(2, 2)});
    const auto entries = LoadParts(PartsPathFor(box_));
    ASSERT_TRUE(entries);
    EXPECT_EQ(*entries, (std::vector<PartEntry>{{1, parts[0].checksum, Of(1, 2)},
                                                {3, parts[2].checksum, Of(2, 2)}}));
}

TEST_F(JoinedBoxTest, PartsJoinInPartOrderDatedByTheFirstPart) {
    Receive({Part("+79161234567", "second half", "08.12.2026 10:00:05"),
             Part("+79990000001", "between"),
             Part("+79161234567", "first half ", "08.12.2026 10:00:01")},
            {Of(2, 2), std::nullopt, Of(1, 2)});
    const JoinedBox box = Open();
    ASSERT_EQ(box.size(), 2u);
    const JoinedMessage joined = box.at(0);
    EXPECT_EQ(joined.text, "first half second half");
    EXPECT_EQ(joined.number, "+79161234567");
    EXPECT_EQ(joined.datetime, "08.12.2026 10:00:01");
    EXPECT_EQ(joined.records, (std::vector<std::size_t>{2, 0}));
    EXPECT_EQ(joined.missing, 0u);
    EXPECT_EQ(box.at(1).text, "between") << "rows follow the first part to arrive";
}

TEST_F(JoinedBoxTest, AMissingPartIsMarkedAndTheMessageIsWholeWhenItComes) {
    Receive({Part("+7", "A"), Part("+7", "C")}, {Of(1, 3), Of(3, 3)});
    EXPECT_EQ(Texts(), std::vector<std::string>{"A[часть 2 из 3 ещё не пришла]C"});
    EXPECT_EQ(Open().at(0).missing, 1u);
    Receive({Part("+7", "B")}, {Of(2, 3)});
    EXPECT_EQ(Texts(), std::vector<std::string>{"ABC"});
}

TEST_F(JoinedBoxTest, SenderReferenceWidthAndTotalAllKeepMessagesApart) {
    Receive(
        {Part("+1", "a1"), Part("+2", "b1"), Part("+1", "c1"), Part("+1", "d1"), Part("+1", "a2")},
        {Of(1, 2), Of(1, 2), Of(1, 2, 0x2B), Of(1, 3), Of(2, 2)});
    Receive({Part("+1", "e1")}, {Of(1, 2, 0x2A, 16)});
    EXPECT_EQ(Texts(),
              (std::vector<std::string>{
                  "a1a2", "b1[часть 2 из 2 ещё не пришла]", "c1[часть 2 из 2 ещё не пришла]",
                  "d1[часть 2 из 3 ещё не пришла][часть 3 из 3 ещё не пришла]",
                  "e1[часть 2 из 2 ещё не пришла]"}));
}

TEST_F(JoinedBoxTest, APartStoredTwiceShowsOnceAndAReusedReferenceStartsANewMessage) {
    Receive({Part("+1", "old 1 "), Part("+1", "old 2"), Part("+1", "old 2")},
            {Of(1, 2), Of(2, 2), Of(2, 2)});
    Receive({Part("+1", "new 1 "), Part("+1", "new 2")}, {Of(1, 2), Of(2, 2)});
    EXPECT_EQ(Texts(), (std::vector<std::string>{"old 1 old 2", "new 1 new 2"}));
}

TEST_F(JoinedBoxTest, RecordsWithoutBelievableEntriesShowAsTheyAre) {
    ASSERT_TRUE(
        Append(velka::testing::BoxHeld(box_), box_, std::vector<packet>{Part("+1", "older file")}));
    Receive({Part("+1", "x"), Part("+1", "y")}, {Of(1, 2), Of(2, 2)});
    // An entry naming a checksum its record does not carry, one beyond the file, and
    // one whose numbers make no sense.
    const std::string extra = EncodePartEntry({0, 12345, Of(1, 2)}) +
                              EncodePartEntry({99, 0, Of(2, 2)}) +
                              EncodePartEntry({1, Part("+1", "x").checksum, Of(3, 2)});
    ASSERT_TRUE(files::AppendDurably(PartsPathFor(box_), extra, kPartEntrySize));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"older file", "xy"}));
}

TEST_F(JoinedBoxTest, ATornTailOfThePartsFileIsIgnoredAndTheNextAppendStartsClean) {
    Receive({Part("+1", "x")}, {Of(1, 2)});
    ASSERT_TRUE(files::AppendDurably(PartsPathFor(box_), "torn", 1));
    EXPECT_EQ(LoadParts(PartsPathFor(box_))->size(), 1u);
    Receive({Part("+1", "y")}, {Of(2, 2)});
    EXPECT_EQ(Texts(), std::vector<std::string>{"xy"});
}

TEST_F(JoinedBoxTest, AMissingBoxIsEmptyAndAnUnreadablePartsFileIsAnError) {
    EXPECT_EQ(Open().size(), 0u);
    Receive({Part("+1", "x")}, {Of(1, 2)});
    std::filesystem::remove(PartsPathFor(box_));
    std::filesystem::create_directory(PartsPathFor(box_));  // a folder cannot be read as a file
    EXPECT_FALSE(JoinedBox::Open(box_));
}

TEST_F(JoinedBoxTest, AFailedPartsWriteIsAFailedSave) {
    std::filesystem::create_directory(PartsPathFor(box_));
    EXPECT_FALSE(AppendReceived(velka::testing::BoxHeld(box_), box_,
                                std::vector<packet>{Part("+1", "x")},
                                std::vector<Facts>{Of(1, 2)}));
}

TEST_F(JoinedBoxTest, RemovingAJoinedMessageTakesAllItsPartsAndRenumbersTheRest) {
    Receive({Part("+1", "single"), Part("+2", "a1 "), Part("+3", "b1 "), Part("+2", "a2"),
             Part("+3", "b2")},
            {std::nullopt, Of(1, 2), Of(1, 2, 0x2B), Of(2, 2), Of(2, 2, 0x2B)});
    const JoinedBox before = Open();
    ASSERT_EQ(before.size(), 3u);
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, before.at(1).records));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"single", "b1 b2"}));
    const auto entries = LoadParts(PartsPathFor(box_));
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].record, 1u);
    EXPECT_EQ((*entries)[1].record, 2u);
    const std::vector<RecordToRemove> gone_and_first{{0, Part("+2", "a1 ")},
                                                     {0, Part("+1", "single")}};
    ASSERT_TRUE(RemoveRecords(velka::testing::BoxHeld(box_), box_, gone_and_first));
    EXPECT_EQ(Texts(), std::vector<std::string>{"b1 b2"})
        << "a record removed already is passed over";
}

TEST_F(JoinedBoxTest, RemovingFromABoxWithoutPartsMakesNoPartsFile) {
    ASSERT_TRUE(Append(velka::testing::BoxHeld(box_), box_,
                       std::vector<packet>{Part("+1", "x"), Part("+1", "y")}));
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {0}));
    EXPECT_EQ(Texts(), std::vector<std::string>{"y"});
    EXPECT_FALSE(files::Exists(PartsPathFor(box_)));
}

TEST_F(JoinedBoxTest, ARemovalThePartsFileRefusesLeavesTheBoxWhole) {
    Receive({Part("+1", "x")}, {std::nullopt});
    std::filesystem::create_directory(PartsPathFor(box_));
    EXPECT_FALSE(velka::testing::RemoveRecordsAt(box_, {0}));
    EXPECT_EQ(Load(box_)->size(), 1u) << "the unreadable parts file stops the removal first";
}

// ---- The joining index ----

class JoiningIndexTest : public JoinedBoxTest {
  protected:
    // `count` records from 40 senders: every fourth a message on its own, the
    // others parts of three-part messages arriving out of order, some never, some
    // twice, with references that come round.
    void Stream(std::size_t first, std::size_t count) {
        std::mt19937 random(static_cast<std::uint32_t>(first + 7));
        std::vector<packet> records;
        std::vector<Facts> facts;
        for (std::size_t i = first; i < first + count; ++i) {
            const std::string sender = "+7999000" + std::to_string(i % 40);
            if (i % 4 == 0) {
                records.push_back(Part(sender, "single " + std::to_string(i)));
                facts.push_back(std::nullopt);
                continue;
            }
            const auto message = static_cast<std::uint16_t>(i / 12 % 300);  // comes round
            const auto number = static_cast<std::uint8_t>(random() % 3 + 1);
            if (random() % 10 == 0) continue;  // a part that never comes
            const int copies = random() % 20 == 0 ? 2 : 1;
            for (int copy = 0; copy < copies; ++copy) {
                records.push_back(Part(
                    sender, "part " + std::to_string(number) + " of " + std::to_string(i / 12)));
                facts.push_back(Of(number, 3, message));
            }
        }
        Receive(records, facts);
    }
    // Each row's records and text, as the box shows them.
    static std::vector<std::pair<std::vector<std::size_t>, std::string>> Rows(
        const JoinedBox& box) {
        std::vector<std::pair<std::vector<std::size_t>, std::string>> rows;
        for (std::size_t i = 0; i < box.size(); ++i) {
            const JoinedMessage message = box.at(i);
            rows.emplace_back(message.records, message.text);
        }
        return rows;
    }
    // The box joined afresh, with no index.
    std::vector<std::pair<std::vector<std::size_t>, std::string>> Fresh() {
        auto box = BoxFile::Open(box_);
        auto parts = LoadParts(PartsPathFor(box_));
        EXPECT_TRUE(box && parts);
        return Rows(JoinedBox::Join(std::move(*box), *parts));
    }
    std::string index_ = JoinedIndexPathFor(box_);
};

TEST_F(JoiningIndexTest, AnIndexedBoxShowsWhatAFreshJoiningShowsAsRecordsArrive) {
    Stream(0, 600);
    Open();
    EXPECT_FALSE(files::Exists(index_)) << "a small box is joined without one";

    Stream(600, 1200);
    EXPECT_EQ(Rows(Open()), Fresh());
    auto index = LoadJoinedIndex(index_);
    ASSERT_TRUE(index);
    const std::size_t indexed = index->second.records;
    EXPECT_EQ(indexed, BoxFile::Open(box_)->size());

    // Parts that complete indexed messages, and new ones, join on top of it.
    Stream(1800, 300);
    EXPECT_EQ(Rows(Open()), Fresh());
    EXPECT_EQ(LoadJoinedIndex(index_)->second.records, indexed)
        << "300 more are joined without writing";

    // The opening takes the index as it stands (so it does not join afresh): a
    // row changed in it shows.
    auto changed = *index;
    std::swap(changed.second.places[changed.second.rows[0].first_slot],
              changed.second.places[changed.second.rows[1].first_slot]);
    ASSERT_TRUE(SaveJoinedIndex(index_, changed.first, changed.second));
    EXPECT_NE(Rows(Open()), Fresh());
}

TEST_F(JoiningIndexTest, AnIndexThatNoLongerSpeaksOfTheFilesIsNotBelieved) {
    Stream(0, 1500);
    const auto fresh = Rows(Open());
    const auto index = LoadJoinedIndex(index_);
    ASSERT_TRUE(index);
    const auto shuffled = [&] {
        auto changed = *index;
        std::swap(changed.second.places[changed.second.rows[0].first_slot],
                  changed.second.places[changed.second.rows[1].first_slot]);
        return changed;
    }();
    const auto believed = [&](const JoinSources& sources) {
        EXPECT_TRUE(SaveJoinedIndex(index_, sources, shuffled.second));
        return Rows(Open()) != Fresh();
    };
    ASSERT_TRUE(believed(shuffled.first)) << "the check below would prove nothing";

    JoinSources other = shuffled.first;
    other.box_identity += 1;  // the store file was replaced
    EXPECT_FALSE(believed(other));
    other = shuffled.first;
    other.parts_identity += 1;
    EXPECT_FALSE(believed(other));
    other = shuffled.first;
    other.last_checksum += 1;  // the file was written over in place
    EXPECT_FALSE(believed(other));

    // Damaged bytes, and a file of another kind.
    ASSERT_TRUE(SaveJoinedIndex(index_, shuffled.first, shuffled.second));
    auto bytes = files::ReadAll(index_);
    (*bytes)[100] ^= 1;
    ASSERT_TRUE(files::SaveDurably(index_, *bytes));
    EXPECT_EQ(Rows(Open()), fresh);
    ASSERT_TRUE(files::SaveDurably(index_, "not an index"));
    EXPECT_EQ(Rows(Open()), fresh);

    // A removal replaces the store file: the index of the old one goes unused.
    ASSERT_TRUE(SaveJoinedIndex(index_, shuffled.first, shuffled.second));
    ASSERT_TRUE(velka::testing::RemoveRecordsAt(box_, {0}));
    EXPECT_EQ(Rows(Open()), Fresh());
    EXPECT_EQ(Open().size(), fresh.size() - 1);
}

TEST(MissingPartMark, NamesThePartAndTheTotal) {
    EXPECT_EQ(codepage::ToUtf8(MissingPartMark(2, 3)), "[часть 2 из 3 ещё не пришла]");
}

}  // namespace
}  // namespace velka::store
