#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace velka::codepage {
namespace {

TEST(Codepage, EveryByteRoundTripsThroughUtf16AndUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(FromUtf16(ToUtf16(all)), all);
    EXPECT_EQ(FromUtf8(ToUtf8(all)), all);
}

TEST(Codepage, RussianLettersMapToTheCyrillicBlock) {
    EXPECT_EQ(ToUnicode(0xC0), u'\u0410');  // А
    EXPECT_EQ(ToUnicode(0xFF), u'\u044F');  // я
    EXPECT_EQ(ToUnicode(0xA8), u'\u0401');  // Ё
    EXPECT_EQ(ToUnicode(0xB8), u'\u0451');  // ё
    EXPECT_EQ(ToUnicode(0x88), u'\u20AC');  // €
    EXPECT_EQ(ToUtf8("\xCF\xF0\xE8"), "При");
    EXPECT_EQ(FromUtf8("При"), "\xCF\xF0\xE8");
}

TEST(Codepage, CharactersTheCodePageLacksBecomeQuestionMarks) {
    EXPECT_EQ(FromUnicode(0x010C), '?');  // no best fit to 'C'
    EXPECT_EQ(FromUtf16(u"A\u010CB"), "A?B");
    EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80!"), "?!");        // one character beyond the BMP
    EXPECT_EQ(FromUtf16(u"\xD83D\xDE00!"), "?!");          // the same as a surrogate pair
    EXPECT_EQ(FromUtf16(std::u16string(1, 0xD800)), "?");  // a lone surrogate
}

TEST(Codepage, MalformedUtf8GivesOneQuestionMarkPerBadByteAndKeepsTheRest) {
    EXPECT_EQ(FromUtf8("a\xFFz"), "a?z");
    EXPECT_EQ(FromUtf8("a\xD0"), "a?");            // cut short at the end
    EXPECT_EQ(FromUtf8("\xC0\xAF"), "??");         // over-long form of '/'
    EXPECT_EQ(FromUtf8("\xED\xA0\x80x"), "???x");  // an encoded surrogate
}

TEST(Codepage, Utf8IsToldApartFromWindows1251) {
    EXPECT_TRUE(codepage::IsValidUtf8(""));
    EXPECT_TRUE(codepage::IsValidUtf8("plain ASCII"));
    EXPECT_TRUE(codepage::IsValidUtf8("Ёлка \xEF\xBF\xBD \xF0\x9F\x98\x80"));  // U+FFFD itself
    EXPECT_FALSE(codepage::IsValidUtf8(codepage::FromUtf8("Ёлка")));
    EXPECT_FALSE(codepage::IsValidUtf8("\xD0"));          // cut short
    EXPECT_FALSE(codepage::IsValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(codepage::IsValidUtf8("\xED\xA0\x80"));  // a surrogate
}

TEST(Codepage, UpperCaseCoversLatinRussianUkrainianAndBelarusianLetters) {
    EXPECT_EQ(Upper("abc xyz"), "ABC XYZ");
    EXPECT_EQ(Upper(FromUtf8("привет ёж")), FromUtf8("ПРИВЕТ ЁЖ"));
    EXPECT_EQ(Upper(FromUtf8("їжак ґанок єнот і ў")), FromUtf8("ЇЖАК ҐАНОК ЄНОТ І Ў"));
    EXPECT_EQ(Upper(FromUtf8("ђ ѓ љ њ ќ ћ џ ј ѕ")), FromUtf8("Ђ Ѓ Љ Њ Ќ Ћ Џ Ј Ѕ"));
    EXPECT_EQ(Upper("1+@[]"), "1+@[]");
    EXPECT_EQ(UpperByte(0xB5), 0xB5);  // µ has no capital in the code page
}

TEST(Codepage, EqualIgnoreCaseComparesThroughTheUpperCaseTable) {
    EXPECT_TRUE(EqualIgnoreCase(FromUtf8("Друзья"), FromUtf8("дРУЗЬЯ")));
    EXPECT_TRUE(EqualIgnoreCase(FromUtf8("Ёлка"), FromUtf8("ёЛКА")));
    EXPECT_FALSE(EqualIgnoreCase(FromUtf8("Елка"), FromUtf8("Ёлка")));
    EXPECT_FALSE(EqualIgnoreCase("abc", "abcd"));
}

}  // namespace
}  // namespace velka::codepage
