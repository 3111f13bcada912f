#include "platform/text.h"

#include <gtest/gtest.h>

namespace velka {
namespace {

TEST(TrimBlanks, StripsSpacesAndTabsAtBothEndsAndKeepsEverythingElse) {
    EXPECT_EQ(TrimBlanks(" \t OK \t"), "OK");
    EXPECT_EQ(TrimBlanks("a \t b"), "a \t b");        // blanks inside stay
    EXPECT_EQ(TrimBlanks("\rOK\n"), "\rOK\n");        // line ends are data, not blanks
    EXPECT_EQ(TrimBlanks("\xA0x\xA0"), "\xA0x\xA0");  // nor is the no-break space
    EXPECT_EQ(TrimBlanks(" \t "), "");
    EXPECT_EQ(TrimBlanks(""), "");
}

TEST(TrimTrailingBlanks, StripsTheEndOnly) {
    EXPECT_EQ(TrimTrailingBlanks(" key \t"), " key");
    EXPECT_EQ(TrimTrailingBlanks("\t "), "");
}

}  // namespace
}  // namespace velka
