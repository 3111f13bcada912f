#include "contacts/number_names.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace velka::contacts {
namespace {

class NumberNamesTest : public ::testing::Test {
  protected:
    NumberNames names_{{{codepage::FromUtf8("Мария"), "+79161234567", "A"},
                        {"Second in another group", "89161234567", "B"},
                        {"Short", "900", "A"},
                        {"Letters", "MTS", "A"}}};
};

TEST_F(NumberNamesTest, ANumberFindsItsContactWrittenEitherWay) {
    EXPECT_EQ(codepage::ToUtf8(names_.NameOf("89161234567")), "Мария");
    EXPECT_EQ(codepage::ToUtf8(names_.NameOf("+79161234567")), "Мария") << "the first listed";
    EXPECT_EQ(names_.NameOf("900"), "Short");
}

TEST_F(NumberNamesTest, OtherNumbersAndSenderNamesHaveNoName) {
    EXPECT_EQ(names_.NameOf("+79161234568"), "");
    EXPECT_EQ(names_.NameOf("9161234567"), "") << "digits must match, not end alike";
    EXPECT_EQ(names_.NameOf("MTS"), "") << "no digits, no match";
}

TEST_F(NumberNamesTest, ShowsTheNameWithTheNumberOrTheNumberAlone) {
    EXPECT_EQ(codepage::ToUtf8(names_.Shown("89161234567")), "Мария (89161234567)");
    EXPECT_EQ(names_.Shown("+70000000000"), "+70000000000");
}

}  // namespace
}  // namespace velka::contacts
