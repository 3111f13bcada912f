// The search WaitForString and the data triggers share, fed as they feed it.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "serial/ser_match.h"

namespace velka {
namespace {

// Where in `received` the search for `text` first completes (the index after its
// last character), or npos when it never does.
std::size_t FoundAfter(std::string_view text, std::string_view received, bool ignore_case) {
    std::size_t matched = 0;
    for (std::size_t i = 0; i < received.size(); ++i) {
        matched = AdvanceMatch(text, matched, received[i], ignore_case);
        if (matched == text.size()) return i + 1;
    }
    return std::string_view::npos;
}

TEST(AdvanceMatch, FindsAContiguousRunAfterNoise) {
    EXPECT_EQ(FoundAfter("OK", "AT\r\r\nOK\r\n", false), 7u);
    EXPECT_EQ(FoundAfter("OK", "OOK", false), 3u);  // a mismatch on the first restarts
    EXPECT_EQ(FoundAfter("OK", "OXK", false), std::string_view::npos);
}

// The restart search looks back no further than the character that broke a match.
TEST(AdvanceMatch, MissesAMatchThatBeganInsideAPartialOne) {
    EXPECT_EQ(FoundAfter("AAB", "AAAB", false), std::string_view::npos);
    EXPECT_EQ(FoundAfter("AAB", "AAXAAB", false), 6u);
}

TEST(AdvanceMatch, IgnoresLetterCaseOfLatinAndCyrillicOnlyWhenAsked) {
    EXPECT_EQ(FoundAfter("OK", "ok", true), 2u);
    EXPECT_EQ(FoundAfter("OK", "ok", false), std::string_view::npos);
    const std::string cyrillic = codepage::FromUtf8("ГОТОВ");
    EXPECT_EQ(FoundAfter(cyrillic, codepage::FromUtf8("модем готов"), true), 11u);
}

}  // namespace
}  // namespace velka
