// The JSON that velka-sms-cli prints for scripts: what a parser would misread if it
// were not escaped.
#include "tools/velka-sms-cli/json.h"

#include <gtest/gtest.h>

namespace velka::cli {
namespace {

TEST(JsonString, EscapesWhatWouldEndOrBreakTheString) {
    EXPECT_EQ(JsonString(R"(say "hi" \ bye)"), R"("say \"hi\" \\ bye")");
    EXPECT_EQ(JsonString("a\r\nb\tc"), R"("a\r\nb\tc")");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\0z", 4)), R"("\u0001\u001f\u0000z")");
    EXPECT_EQ(JsonString(""), R"("")");
}

TEST(JsonString, KeepsUtf8AndTheDeleteCharacterAsTheyAre) {
    EXPECT_EQ(JsonString("Привет \x7f"), "\"Привет \x7f\"");
}

TEST(JsonValues, ObjectsKeepTheirMembersOrderAndArraysTheirValues) {
    EXPECT_EQ(JsonObject({{"b", "1"}, {"a", JsonString("x")}, {"c", "null"}}),
              R"({"b": 1, "a": "x", "c": null})");
    EXPECT_EQ(JsonObject({}), "{}");
    EXPECT_EQ(JsonArray({}), "[]");
    EXPECT_EQ(JsonArray({"1", "{}"}), "[\n  1,\n  {}\n]");
}

}  // namespace
}  // namespace velka::cli
