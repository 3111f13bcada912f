#include "store/store_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/box_held.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

std::vector<packet> Records(int count, const std::string& prefix = "text ") {
    std::vector<packet> records;
    for (int i = 0; i < count; ++i)
        records.push_back(MakePacket("+7900" + std::to_string(i), "01.01.2026 1:00:00",
                                     prefix + std::to_string(i)));
    return records;
}

std::vector<std::string> Texts(const std::vector<packet>& records) {
    std::vector<std::string> texts;
    for (const packet& record : records) texts.emplace_back(record.text_text());
    return texts;
}

TEST(StoreFile, AMissingFileIsAnEmptyStore) {
    testing::TempDir dir;
    EXPECT_TRUE(Load(dir.File("inbox.db"))->empty());
    EXPECT_TRUE(BoxFile::Open(dir.File("inbox.db"))->empty());
}

TEST(StoreFile, AppendAddsAfterTheRecordsAlreadyThere) {
    testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    ASSERT_TRUE(Append(velka::testing::BoxHeld(path), path, Records(3)));
    const std::string before = *files::ReadAll(path);
    ASSERT_TRUE(Append(velka::testing::BoxHeld(path), path, Records(1, "new ")));

    const std::string after = *files::ReadAll(path);
    EXPECT_EQ(after.size(), 4 * kPacketSize);
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(Texts(*Load(path)),
              (std::vector<std::string>{"text 0", "text 1", "text 2", "new 0"}));
}

TEST(StoreFile, APartialTailIsNotARecordAndIsDroppedBeforeAnAppend) {
    testing::TempDir dir;
    const std::string path = dir.File("inbox.db");
    std::string damaged(reinterpret_cast<const char*>(EncodePacket(Records(1)[0]).data()),
                        kPacketSize);
    damaged += std::string(2000 - kPacketSize, 'X');  // a 2000-byte file
    ASSERT_TRUE(files::SaveDurably(path, damaged));
    EXPECT_EQ(Load(path)->size(), 1u);

    ASSERT_TRUE(Append(velka::testing::BoxHeld(path), path, Records(1, "after ")));
    EXPECT_EQ(*files::Size(path), 2 * kPacketSize);
    EXPECT_EQ(Texts(*Load(path)), (std::vector<std::string>{"text 0", "after 0"}));
}

TEST(StoreFile, SaveReplacesTheWholeFile) {
    testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    ASSERT_TRUE(Save(velka::testing::BoxHeld(path), path, Records(5)));
    ASSERT_TRUE(Save(velka::testing::BoxHeld(path), path, Records(2, "again ")));
    EXPECT_EQ(Texts(*Load(path)), (std::vector<std::string>{"again 0", "again 1"}));
}

TEST(StoreFile, AnOpenBoxShowsTheFileAsItWasWhenOpened) {
    testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    ASSERT_TRUE(Append(velka::testing::BoxHeld(path), path, Records(2)));
    auto box = BoxFile::Open(path);
    ASSERT_TRUE(box.ok());
    ASSERT_TRUE(Append(velka::testing::BoxHeld(path), path, Records(1, "later ")));
    ASSERT_TRUE(Save(velka::testing::BoxHeld(path), path, Records(1, "replaced ")));
    ASSERT_EQ(box->size(), 2u);
    EXPECT_EQ(box->at(1).text_text(), "text 1");
}

TEST(StoreFile, WriteFailuresAreReportedAndLoseNothing) {
    testing::TempDir dir;
    EXPECT_FALSE(BoxLock::Take(dir.File("missing/outbox.db")).ok())
        << "a directory that cannot hold the lock cannot hold the store either";
    const std::string path = dir.File("outbox.db");
    std::filesystem::create_directory(path);
    EXPECT_FALSE(Append(velka::testing::BoxHeld(path), path, Records(1)).ok());
    EXPECT_FALSE(Save(velka::testing::BoxHeld(path), path, Records(1)).ok());
    // A store file that is a directory cannot be read: an error, not an empty box.
    EXPECT_FALSE(Load(dir.path()).ok());
}

TEST(StoreFile, AFileOfAnySizeAndContentListsWithoutACrash) {
    testing::TempDir dir;
    const std::string path = dir.File("garbage.db");
    std::mt19937 random(1305);
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, kPacketSize - 1, kPacketSize,
                             kPacketSize + 1, 3 * kPacketSize + 517}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        ASSERT_TRUE(files::SaveDurably(path, bytes));
        auto records = Load(path);
        ASSERT_TRUE(records.ok());
        ASSERT_EQ(records->size(), size / kPacketSize);
        for (const packet& record : *records) {
            EXPECT_LE(record.number_text().size(), kNumberField);
            EXPECT_LE(record.datetime_text().size(), kDateTimeField);
            EXPECT_LE(record.text_text().size(), kTextField);
        }
    }
}

}  // namespace
}  // namespace velka::store
