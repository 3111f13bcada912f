// The JSON that velka-sms-cli prints for scripts: a text reaches the parser whole
// whatever bytes it holds, nothing a record holds makes the printing throw, and
// the members stand in the order scripts read them.
#include "tools/velka-sms-cli/json.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace velka::cli {
namespace {

// An 8-bit data message as the inbox keeps it (Windows-1251): zero bytes inside,
// other control characters, quotes, a backslash, a line break and Russian.
constexpr char kDataText[] = "A\0B\x01\x1f say \"hi\" \\ \r\n\t\xCF\xF0\xE8\xE2\xE5\xF2\0end";

TEST(JsonText, ATextWithZeroBytesAndControlCharactersReachesTheParserWhole) {
    const std::string utf8 = codepage::ToUtf8(std::string(kDataText, sizeof kDataText - 1));
    const std::string printed = JsonText(Json{{"text", utf8}});

    EXPECT_NE(printed.find(R"("A\u0000B\u0001\u001f say \"hi\" \\ \r\n\tПривет\u0000end")"),
              std::string::npos)
        << printed;
    // Inside a string a raw control character is invalid JSON; only the layout's
    // line breaks may stand raw.
    for (const char c : printed) {
        if (c != '\n') {
            ASSERT_GE(static_cast<unsigned char>(c), 0x20) << printed;
        }
    }
    EXPECT_EQ(Json::parse(printed).at("text").get<std::string>(), utf8);
}

TEST(JsonText, MalformedUtf8GetsTheReplacementCharacterInsteadOfAnException) {
    // A lone byte of the upper half, and a Cyrillic letter's first byte cut off at the end.
    const Json facts = {{"model", "E\xFF 173"}, {"operator", "Beeline \xD0"}};
    std::string printed;
    ASSERT_NO_THROW(printed = JsonText(facts));
    const Json parsed = Json::parse(printed);
    EXPECT_EQ(parsed.at("model").get<std::string>(), "E\xEF\xBF\xBD 173");
    EXPECT_EQ(parsed.at("operator").get<std::string>(), "Beeline \xEF\xBF\xBD");
}

TEST(JsonText, MembersStandInTheOrderAddedNotSorted) {
    Json message = {{"number", "+7"}, {"datetime", ""}, {"text", "x"}};
    message["state"] = "sent";
    EXPECT_EQ(JsonText(Json::array({message})),
              "[\n  {\n    \"number\": \"+7\",\n    \"datetime\": \"\",\n    \"text\": \"x\",\n"
              "    \"state\": \"sent\"\n  }\n]");
    EXPECT_EQ(JsonText(Json{{"signal", nullptr}, {"queue", 0}}),
              "{\n  \"signal\": null,\n  \"queue\": 0\n}");
    EXPECT_EQ(JsonText(Json::array()), "[]");
}

}  // namespace
}  // namespace velka::cli
