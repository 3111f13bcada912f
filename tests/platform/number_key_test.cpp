#include "platform/number_key.h"

#include <gtest/gtest.h>

namespace velka {
namespace {

TEST(NumberKey, KeepsTheDigitsAndMakesARussianNationalNumberInternational) {
    EXPECT_EQ(NumberKey("+7 (916) 123-45-67"), "79161234567");
    EXPECT_EQ(NumberKey("89161234567"), "79161234567");
    EXPECT_EQ(NumberKey("+79161234567"), "79161234567");
    EXPECT_EQ(NumberKey("8916123456"), "8916123456") << "ten digits: not a national number";
    EXPECT_EQ(NumberKey("+89161234567"), "89161234567") << "written internationally already";
    EXPECT_EQ(NumberKey("MTS"), "");
}

}  // namespace
}  // namespace velka
