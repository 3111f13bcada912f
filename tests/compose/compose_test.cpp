#include "compose/compose.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "sms/text_plan.h"

namespace velka::compose {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

std::string Utf8Counter(std::string_view cp1251_text) {
    return codepage::ToUtf8(CounterText(cp1251_text));
}

// A text of `length` characters: Latin, or Latin with one Russian letter at its end.
std::string Latin(std::size_t length) {
    return std::string(length, 'a');
}
std::string WithOneRussianLetter(std::size_t length) {
    return std::string(length - 1, 'a') + W("ж");
}

// The signature goes out in front of every text, so it takes its share of the
// first message: 38 Latin characters.
constexpr std::size_t kSig = kSignature.size();

TEST(Counter, CountsTheSignatureThatGoesOutInFrontOfTheText) {
    ASSERT_EQ(kSig, 38u);
    EXPECT_EQ(Utf8Counter(""), "Сообщений: 1  Знаков: 0");
    EXPECT_EQ(Utf8Counter(Latin(160 - kSig)), "Сообщений: 1  Знаков: 122");
    EXPECT_EQ(Utf8Counter(Latin(161 - kSig)), "Сообщений: 2  Знаков: 123")
        << "160 Latin characters with the signature no longer fit one message";
    EXPECT_EQ(Utf8Counter(Latin(306 - kSig)), "Сообщений: 2  Знаков: 268");
    EXPECT_EQ(Utf8Counter(Latin(307 - kSig)), "Сообщений: 3  Знаков: 269");
    EXPECT_EQ(Utf8Counter(Latin(1024)), "Сообщений: 7  Знаков: 1024");
}

TEST(Counter, OneRussianLetterCountsTheSignatureAndTextIn70And63) {
    EXPECT_EQ(Utf8Counter(WithOneRussianLetter(70 - kSig)), "Сообщений: 1  Знаков: 32");
    EXPECT_EQ(Utf8Counter(WithOneRussianLetter(71 - kSig)), "Сообщений: 2  Знаков: 33");
    EXPECT_EQ(Utf8Counter(WithOneRussianLetter(69)), "Сообщений: 2  Знаков: 69")
        << "69 Russian letters go out as two messages, not one";
    EXPECT_EQ(Utf8Counter(WithOneRussianLetter(126 - kSig)), "Сообщений: 2  Знаков: 88");
    EXPECT_EQ(Utf8Counter(WithOneRussianLetter(127 - kSig)), "Сообщений: 3  Знаков: 89");
    EXPECT_EQ(Utf8Counter(WithOneRussianLetter(1024)), "Сообщений: 17  Знаков: 1024");
    EXPECT_EQ(MessageCount(W("я") + Latin(32)), 2u) << "the letter counts wherever it stands";
}

// Ё, №, « and » are not in the 7-bit alphabet: they went out as "?" in 7-bit, and
// now count as the UCS2 they go out in. The euro is in its extension table and
// takes two septets.
TEST(Counter, WhatTheAlphabetLacksCountsAsUcs2AndItsExtensionTwice) {
    EXPECT_EQ(MessageCount(W("ё") + Latin(69 - kSig)), 1u);
    EXPECT_EQ(MessageCount(W("Ё") + Latin(70 - kSig)), 2u);
    EXPECT_EQ(MessageCount(W("№«»") + Latin(67 - kSig)), 1u);
    EXPECT_EQ(MessageCount(W("€") + Latin(158 - kSig)), 1u);
    EXPECT_EQ(MessageCount(W("€") + Latin(159 - kSig)), 2u);
}

// A text with a character the code page lacks keeps "?" in its record and goes out
// whole: the counter counts the whole text, an emoji as one character of the
// record and two UCS2 units of the message. "ü" is no Windows-1251 letter but is
// in the 7-bit alphabet, so a German text stays 7-bit.
TEST(Counter, ATextBeyondTheCodePageIsKeptWholeAndCountedAsItGoesOut) {
    const TypedText emoji = KeptFormOf(u"ok \U0001F44D");
    EXPECT_EQ(emoji.text, "ok ?");
    EXPECT_EQ(emoji.whole, u"ok \U0001F44D");
    EXPECT_EQ(codepage::ToUtf8(CounterText(emoji.text, SegmentRoom::Designed, emoji.whole)),
              "Сообщений: 1  Знаков: 4");
    const std::u16string fills_one = std::u16string(70 - kSig - 2, u'a') + u"\U0001F44D";
    const TypedText full = KeptFormOf(fills_one);
    EXPECT_EQ(MessageCount(full.text, SegmentRoom::Designed, full.whole), 1u);
    const TypedText over = KeptFormOf(u"a" + fills_one);
    EXPECT_EQ(MessageCount(over.text, SegmentRoom::Designed, over.whole), 2u)
        << "the \"?\" of the record would have fitted; the emoji's two units do not";

    const TypedText german = KeptFormOf(u"Gr\u00FC\u00DFe");
    EXPECT_EQ(german.whole, u"Gr\u00FC\u00DFe");
    EXPECT_EQ(MessageCount(std::string(160 - kSig - 5, 'a') + german.text, SegmentRoom::Designed,
                           codepage::ToUtf16(std::string(160 - kSig - 5, 'a')) + german.whole),
              1u);
    EXPECT_TRUE(KeptFormOf(codepage::ToUtf16(W("Привет, «мир» №5"))).whole.empty())
        << "what Windows-1251 holds is kept in the record alone";
}

TEST(Counter, StartsWithNoMessages) {
    EXPECT_EQ(codepage::ToUtf8(InitialCounterText()), "Сообщений: 0");
}

TEST(AddingRecipients, JoinsNumbersWithACommaInTheOrderAdded) {
    std::string list;
    AddRecipient(list, "+79161234567");
    AddRecipient(list, "+79990000002");
    EXPECT_EQ(list, "+79161234567,+79990000002");
}

TEST(AddingRecipients, SkipsANumberFoundAnywhereInTheList) {
    std::string list = "+79161234567";
    AddRecipient(list, "+79161234567");
    AddRecipient(list, "9161234567");  // the same number without its country prefix
    AddRecipient(list, "1234");        // any run of its digits
    EXPECT_EQ(list, "+79161234567");
    AddRecipient(list, "+7916123456");  // a number that is a prefix of one present
    EXPECT_EQ(list, "+79161234567");
    AddRecipient(list, "+791612345678");  // longer: not inside, so added
    EXPECT_EQ(list, "+79161234567,+791612345678");
}

using Items = std::vector<std::string>;

TEST(CommaText, CommasBlanksOrBothSeparateItems) {
    EXPECT_EQ(SplitCommaText("111,222"), (Items{"111", "222"}));
    EXPECT_EQ(SplitCommaText("111 222"), (Items{"111", "222"}));
    EXPECT_EQ(SplitCommaText("  111 , 222  "), (Items{"111", "222"}));
    EXPECT_EQ(SplitCommaText("111\t\r\n222"), (Items{"111", "222"}));
    EXPECT_EQ(SplitCommaText("111"), (Items{"111"}));
}

TEST(CommaText, EmptyItemsComeFromDoubledAndTrailingCommas) {
    EXPECT_EQ(SplitCommaText("111,,222"), (Items{"111", "", "222"}));
    EXPECT_EQ(SplitCommaText("111,"), (Items{"111", ""}));
    EXPECT_EQ(SplitCommaText(",111"), (Items{"", "111"}));
    EXPECT_EQ(SplitCommaText("111, "), (Items{"111"})) << "the comma is not the last character";
    EXPECT_EQ(SplitCommaText(""), Items{});
    EXPECT_EQ(SplitCommaText("   "), Items{});
}

TEST(CommaText, QuotedItemsKeepBlanksCommasAndDoubledQuotes) {
    EXPECT_EQ(SplitCommaText(R"("a b,c",d)"), (Items{"a b,c", "d"}));
    EXPECT_EQ(SplitCommaText(R"("say ""hi""")"), (Items{R"(say "hi")"}));
    EXPECT_EQ(SplitCommaText(R"("open)"), (Items{"open"})) << "an unclosed quote runs to the end";
    EXPECT_EQ(SplitCommaText(R"("ab"cd)"), (Items{"ab", "cd"}));
}

constexpr char kTwentyOneDigits[] = "+123456789012345678901";

TEST(CheckingRecipients, KeepsNumbersAndNamesWhatCanNeverBeSent) {
    const RecipientCheck check =
        CheckRecipients({"+79161234567", "", "112", "8-916", "++7", "+", W("Иван"),
                         kTwentyOneDigits, std::string(20, '1')});
    EXPECT_EQ(check.sendable, (Items{"+79161234567", "112", std::string(20, '1')}));
    EXPECT_EQ(check.rejected,
              (std::vector<RejectedRecipient>{{"", RecipientProblem::Empty},
                                              {"8-916", RecipientProblem::NotANumber},
                                              {"++7", RecipientProblem::NotANumber},
                                              {"+", RecipientProblem::NotANumber},
                                              {W("Иван"), RecipientProblem::NotANumber},
                                              {kTwentyOneDigits, RecipientProblem::TooLong}}));
}

TEST(CheckingRecipients, TheWarningNamesEachItemAndWhy) {
    const std::string warning = codepage::ToUtf8(RejectionWarning(
        {{"", RecipientProblem::Empty}, {W("Иван"), RecipientProblem::NotANumber}}));
    EXPECT_EQ(warning,
              "Сообщение не будет отправлено этим получателям:\n"
              "\"\": пустой номер\n"
              "\"Иван\": не номер телефона: допустимы только цифры и \"+\" в начале");
}

TEST(OutgoingRecord, CarriesTheNumberTheTimeAndTheWholeText) {
    const DateTime when = *MakeDateTime(2026, 12, 7, 9, 5, 3);
    const std::string text = W("Привет\r\n") + std::string(1100, 'x');
    const packet record = MakeOutgoingRecord("+79161234567", when, text);
    EXPECT_EQ(record.state, kPacketStored);
    EXPECT_EQ(record.number_text(), "+79161234567");
    EXPECT_EQ(record.datetime_text(), "07.12.2026 9:05:03");
    EXPECT_EQ(record.text_len, kMaxMessageLength);
    EXPECT_EQ(record.text_text(), text.substr(0, kMaxMessageLength));
}

}  // namespace
}  // namespace velka::compose
