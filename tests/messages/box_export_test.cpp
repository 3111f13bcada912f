#include "messages/box_export.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace velka::messages {
namespace {

TEST(BoxCsv, QuotesOnlyFieldsThatNeedItAndDoublesInnerQuotes) {
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
}

TEST(BoxCsv, OneLinePerMessageInUtf8WithTheContactsName) {
    const contacts::NumberNames names({{codepage::FromUtf8("Мария"), "+79161234567", "A"}});
    store::JoinedMessage named;
    named.number = "89161234567";
    named.datetime = "08.12.2026 9:05:00";
    named.text = codepage::FromUtf8("Привет,\r\nкак дела?");
    store::JoinedMessage unknown;
    unknown.number = "MTS";
    unknown.text = "Balance: 10";
    store::JoinedMessage smiling;  // what its record lost comes whole
    smiling.number = "+7999";
    smiling.text = "Hi ?";
    smiling.whole = u"Hi \U0001F600";
    EXPECT_EQ(MessagesCsv({named, unknown, smiling}, names),
              "number,name,date,text,state\r\n"
              "89161234567,Мария,08.12.2026 9:05:00,\"Привет,\r\nкак дела?\",\r\n"
              "MTS,,,Balance: 10,\r\n"
              "+7999,,,Hi \xF0\x9F\x98\x80,\r\n");
}

TEST(BoxCsv, TheStateColumnCarriesEachSentMessagesStateQuotedWhereItNeedsIt) {
    const contacts::NumberNames names(std::vector<contacts::Contact>{});
    store::JoinedMessage delivered;
    delivered.number = "+79161234567";
    delivered.text = "one";
    delivered.state = codepage::FromUtf8("доставлено 08.12.2026 14:40:01");
    store::JoinedMessage given_up = delivered;
    given_up.text = "two";
    given_up.state = codepage::FromUtf8("не доставлено: сеть перегружена, попытки прекращены");
    EXPECT_EQ(MessagesCsv({delivered, given_up}, names),
              "number,name,date,text,state\r\n"
              "+79161234567,,,one,доставлено 08.12.2026 14:40:01\r\n"
              "+79161234567,,,two,\"не доставлено: сеть перегружена, попытки прекращены\"\r\n");
}

}  // namespace
}  // namespace velka::messages
