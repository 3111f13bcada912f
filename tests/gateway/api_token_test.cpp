// The access token's file and its comparison.
#include "gateway/api_token.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace velka::gateway {
namespace {

TEST(ApiToken, TheFirstStartMakesAPrivateRandomTokenThatLaterStartsKeepUntilRenewed) {
    testing::TempDir home;
    const auto first = LoadOrMakeToken(home.path());
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->size(), 2 * kTokenBytes);
    EXPECT_EQ(first->find_first_not_of("0123456789abcdef"), std::string::npos);
#ifndef _WIN32
    // POSIX modes; on Windows the file keeps the user profile's protection.
    const auto permissions = std::filesystem::status(home.File(kTokenFile)).permissions();
    EXPECT_EQ(
        permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
        std::filesystem::perms::none);
#endif
    EXPECT_EQ(*LoadOrMakeToken(home.path()), *first);

    const auto renewed = RenewToken(home.path());
    ASSERT_TRUE(renewed.ok());
    EXPECT_NE(*renewed, *first);
    EXPECT_EQ(*LoadOrMakeToken(home.path()), *renewed);
    testing::TempDir other;
    EXPECT_NE(*LoadOrMakeToken(other.path()), *renewed);
}

TEST(ApiToken, AFileThatHoldsNoTokenIsReplacedByAFreshOne) {
    testing::TempDir home;
    ASSERT_TRUE(files::SaveDurably(home.File(kTokenFile), "short\n").ok());
    const auto token = LoadOrMakeToken(home.path());
    ASSERT_TRUE(token.ok());
    EXPECT_EQ(token->size(), 2 * kTokenBytes);
}

TEST(ApiToken, OnlyTheWholeTokenMatches) {
    const std::string token(64, 'a');
    EXPECT_TRUE(TokenMatches(token, token));
    EXPECT_FALSE(TokenMatches(token, ""));
    EXPECT_FALSE(TokenMatches(token, token.substr(0, 63)));
    EXPECT_FALSE(TokenMatches(token, token + "a"));
    EXPECT_FALSE(TokenMatches(token, std::string(63, 'a') + "b"));
    // A prefix followed by a zero byte must not pass for the token.
    EXPECT_FALSE(TokenMatches(token, token.substr(0, 63) + std::string(1, '\0')));
}

}  // namespace
}  // namespace velka::gateway
