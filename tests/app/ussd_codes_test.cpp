// The USSD codes offered again: the last used first, each once, at most twenty.
#include "app/ussd_codes.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace velka::app {
namespace {

TEST(UssdCodes, TheLastUsedComesFirstAndEachCodeOnce) {
    velka::testing::TempDir dir;
    const std::string path = dir.File(kUssdCodesFile);
    EXPECT_TRUE(LoadUssdCodes(path).empty());
    ASSERT_TRUE(RememberUssdCode(path, "*100#").ok());
    ASSERT_TRUE(RememberUssdCode(path, " *111# ").ok());
    ASSERT_TRUE(RememberUssdCode(path, "*100#").ok());
    ASSERT_TRUE(RememberUssdCode(path, "  ").ok());
    EXPECT_EQ(LoadUssdCodes(path), (std::vector<std::string>{"*100#", "*111#"}));
}

TEST(UssdCodes, OnlyTheLatestAreKept) {
    velka::testing::TempDir dir;
    const std::string path = dir.File(kUssdCodesFile);
    for (int i = 0; i < 25; ++i) {
        // Built in steps: GCC 12 warns of an overlap that is not there in "*" + ... + "#".
        std::string code = std::to_string(i);
        code.insert(0, 1, '*');
        code.push_back('#');
        ASSERT_TRUE(RememberUssdCode(path, code).ok());
    }
    const auto codes = LoadUssdCodes(path);
    ASSERT_EQ(codes.size(), kUssdCodesKept);
    EXPECT_EQ(codes.front(), "*24#");
    EXPECT_EQ(codes.back(), "*5#");
}

TEST(UssdCodes, AFileWrittenElsewhereIsReadLineByLineAndARefusedSaveIsSaid) {
    velka::testing::TempDir dir;
    const std::string path = dir.File(kUssdCodesFile);
    ASSERT_TRUE(files::SaveDurably(path, "*100#\r\n\r\n*102#").ok());
    EXPECT_EQ(LoadUssdCodes(path), (std::vector<std::string>{"*100#", "*102#"}));
    EXPECT_FALSE(RememberUssdCode(dir.File("no/such/folder/codes.txt"), "*100#").ok());
}

}  // namespace
}  // namespace velka::app
