#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace velka::files {
namespace {

TEST(Files, SaveReplacesTheWholeFileAndLeavesNoTemporary) {
    testing::TempDir dir;
    const std::string path = dir.File("box.db");
    ASSERT_TRUE(SaveDurably(path, "first contents"));
    ASSERT_TRUE(SaveDurably(path, "second"));
    EXPECT_EQ(*ReadAll(path), "second");
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST(Files, AppendCreatesThenExtends) {
    testing::TempDir dir;
    const std::string path = dir.File("log");
    ASSERT_TRUE(AppendDurably(path, "ab"));
    ASSERT_TRUE(AppendDurably(path, "cd"));
    EXPECT_EQ(*ReadAll(path), "abcd");
    EXPECT_EQ(*Size(path), 4u);
}

TEST(Files, AppendDropsAPartialTailBeforeWritingWholeUnits) {
    testing::TempDir dir;
    const std::string path = dir.File("records");
    ASSERT_TRUE(SaveDurably(path, "AAAABBBBcc"));  // two units of 4 and a torn tail
    ASSERT_TRUE(AppendDurably(path, "DDDD", 4));
    EXPECT_EQ(*ReadAll(path), "AAAABBBBDDDD");
}

TEST(Files, MissingFilesAndUnwritableDirectoriesAreReportedNotHidden) {
    testing::TempDir dir;
    const auto missing = ReadAll(dir.File("none"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().system_code, ENOENT);
    EXPECT_FALSE(Size(dir.File("none")).ok());

    const Status save = SaveDurably(dir.File("no/such/dir/file"), "x");
    ASSERT_FALSE(save.ok());
    EXPECT_NE(save.error().message.find("no/such/dir"), std::string::npos);
    EXPECT_FALSE(AppendDurably(dir.File("no/such/dir/file"), "x").ok());
}

TEST(Files, AFailedSaveKeepsTheOldContents) {
    testing::TempDir dir;
    const std::string path = dir.File("box.db");
    ASSERT_TRUE(SaveDurably(path, "precious"));
    // A directory where the temporary file must go makes the save fail even for root.
    ASSERT_TRUE(std::filesystem::create_directory(path + ".tmp"));
    EXPECT_FALSE(SaveDurably(path, "replacement").ok());
    EXPECT_EQ(*ReadAll(path), "precious");
}

TEST(Files, DirectoryOfStripsTheLastComponent) {
    EXPECT_EQ(DirectoryOf("/a/b/c.db"), "/a/b");
    EXPECT_EQ(DirectoryOf("/c.db"), "/");
    EXPECT_EQ(DirectoryOf("c.db"), "");
}

}  // namespace
}  // namespace velka::files
