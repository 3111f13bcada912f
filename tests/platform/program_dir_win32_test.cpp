// Where the program keeps its files on Windows: a folder where a file can be
// created (and the probe leaves nothing behind), else the user's local application
// data, "%LOCALAPPDATA%\Velka SMS".
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/program_dir.h"
#include "tests/support/temp_dir.h"

namespace velka {
namespace {

TEST(UserDataDirectory, TheLocalApplicationDataFolderHoldsTheProgramsOwn) {
    std::optional<std::string> old;
    if (const char* value = std::getenv("LOCALAPPDATA")) old = value;
    testing::SetEnvironment("LOCALAPPDATA", "C:\\Users\\ivan\\AppData\\Local");
    EXPECT_EQ(UserDataDirectory(), "C:\\Users\\ivan\\AppData\\Local\\Velka SMS");
    testing::SetEnvironment("LOCALAPPDATA", "");  // removes it
    EXPECT_EQ(UserDataDirectory(), "");
    if (old) testing::SetEnvironment("LOCALAPPDATA", *old);
}

TEST(UsableProgramDirectory, AFolderAFileCanBeCreatedInIsUsedAndTheProbeLeavesNothing) {
    testing::TempDir dir;
    EXPECT_TRUE(UsableProgramDirectory(dir.path()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_FALSE(UsableProgramDirectory(dir.path() + "\\missing"));
}

TEST(MakeDataDirectory, TheFolderIsMadeOnceAndAFileInTheWayIsRefused) {
    testing::TempDir dir;
    const std::string data = dir.path() + "\\Velka SMS";
    ASSERT_TRUE(MakeDataDirectory(data));
    EXPECT_TRUE(std::filesystem::is_directory(data));
    EXPECT_TRUE(MakeDataDirectory(data));
    ASSERT_TRUE(files::SaveDurably(dir.path() + "\\occupied", "a file"));
    EXPECT_FALSE(MakeDataDirectory(dir.path() + "\\occupied"));
    EXPECT_FALSE(MakeDataDirectory(""));
}

}  // namespace
}  // namespace velka
