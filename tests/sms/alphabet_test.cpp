// The GSM alphabet, septet packing and the hexadecimal helpers beneath the codec.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

std::string Septets(std::initializer_list<int> codes) {
    std::string septets;
    for (int code : codes) septets.push_back(static_cast<char>(code));
    return septets;
}

std::string SeptetsOfText(std::string_view cp1251) {
    std::string septets;
    for (char16_t unit : codepage::ToUtf16(cp1251))
        septets.push_back(static_cast<char>(AnsiToGsm(unit)));
    return septets;
}

TEST(GsmAlphabet, BasicCharactersMapBothWays) {
    EXPECT_EQ(AnsiToGsm(u'@'), 0x00);
    EXPECT_EQ(AnsiToGsm(u'$'), 0x02);
    EXPECT_EQ(AnsiToGsm(u'_'), 0x11);
    EXPECT_EQ(AnsiToGsm(u'\n'), 0x0A);
    EXPECT_EQ(AnsiToGsm(u'\r'), 0x0D);
    EXPECT_EQ(AnsiToGsm(u'\0'), 0x1B);
    EXPECT_EQ(AnsiToGsm(u'A'), 0x41);
    // £, è, Δ and à are not in Windows-1251: "?" in the text, whole in Unicode.
    bool lost = false;
    EXPECT_EQ(GsmToAnsi(Septets({0x00, 0x01, 0x02, 0x04, 0x10, 0x24, 0x5F, 0x7F}), lost),
              "@?$??\xA4\xA7?");
    EXPECT_TRUE(lost);
    EXPECT_EQ(GsmToUnicode(Septets({0x00, 0x01, 0x02, 0x04, 0x10, 0x24, 0x5F, 0x7F})),
              u"@\u00A3$\u00E8\u0394\u00A4\u00A7\u00E0");
    GsmToAnsi(Septets({0x41, 0x24, 0x1B, 0x65}), lost);
    EXPECT_FALSE(lost) << "A, \u00A4 and \u20AC are all in Windows-1251";
}

TEST(GsmAlphabet, ExtensionCharactersAreSentAsTheirBareExtensionCode) {
    EXPECT_EQ(SeptetsOfText("{a}"), Septets({0x28, 0x61, 0x29}));
    EXPECT_EQ(GsmToUnicode(SeptetsOfText("{a}[\\]~^|\f")), u"(a)</>=\u039B\u00A1\n");
    EXPECT_EQ(AnsiToGsm(u'['), 0x3C);
}

TEST(GsmAlphabet, CharactersWithoutACodeBecomeQuestionMarks) {
    EXPECT_EQ(SeptetsOfText("\x88\xAB`\x7F\x01"), "?????");  // €, «, `, DEL, a control
    EXPECT_EQ(SeptetsOfText("\xB3"), "V");                   // і is U+0456: its low byte is "V"
    EXPECT_EQ(SeptetsOfText("\xCF"), "?");  // П is U+041F: no code for its low byte 0x1F
    EXPECT_EQ(SeptetsOfText("\xFB"), "K");  // ы is U+044B: its low byte is "K"
}

TEST(GsmAlphabet, EscapeSequencesDecodeThroughTheExtensionTable) {
    EXPECT_EQ(GsmToAnsi(Septets({0x1B, 0x65})), "\x88");  // the euro of Windows-1251
    EXPECT_EQ(GsmToAnsi(Septets({0x1B, 0x28, 0x1B, 0x0A})), "{\f");
    EXPECT_EQ(GsmToAnsi(Septets({0x1B, 0x41})), "A") << "not an extension code: the main table's";
    EXPECT_EQ(GsmToAnsi(Septets({0x41, 0x1B})), "A");
    EXPECT_EQ(GsmToUnicode(Septets({0x1B, 0x65, 0x1B, 0x04, 0x1B})), u"\u20AC\u00E8");
}

// Every code whose character is ASCII is sent back as that code (or, for the codes
// the ASCII characters share, as one of the same character).
TEST(GsmAlphabet, EveryAsciiCharacterOfTheTableRoundTrips) {
    int round_trips = 0;
    for (int code = 0; code < 128; ++code) {
        const std::u16string character = GsmToUnicode(Septets({code}));
        if (code == 0x1B || character.at(0) >= 0x80) continue;
        EXPECT_EQ(GsmToUnicode(Septets({AnsiToGsm(character[0])})), character) << "code " << code;
        ++round_trips;
    }
    EXPECT_EQ(round_trips, 88);  // the other 39 codes are letters and signs beyond ASCII
}

TEST(DetectCoding, OnlyRussianLettersChooseUcs2) {
    EXPECT_EQ(DetectCoding(u"Hello, world!"), kCodingGsm7);
    EXPECT_EQ(DetectCoding(codepage::ToUtf16("\xA8\xB8\xB3\x88")), kCodingGsm7);  // Ё ё і €
    EXPECT_EQ(DetectCoding(codepage::ToUtf16("\xA8\xEB")), kCodingUcs2);          // Ёл
    EXPECT_EQ(DetectCoding(u"\u010C"), kCodingGsm7);  // not in the code page: "?"
}

TEST(SeptetPacking, TenLettersPackIntoNineOctetsAndBack) {
    EXPECT_EQ(PackSeptets("hellohello"), "E8329BFD4697D9EC37");
    EXPECT_EQ(UnpackSeptets("E8329BFD4697D9EC37"), "hellohello");
}

TEST(SeptetPacking, EightSeptetsShareSevenOctets) {
    EXPECT_EQ(PackSeptets("1234567").size(), 14u);
    EXPECT_EQ(PackSeptets("12345678").size(), 14u);
    EXPECT_EQ(UnpackSeptets(PackSeptets("12345678")), "12345678");
    EXPECT_EQ(PackSeptets(""), "");
}

TEST(SeptetPacking, UnpackingLeavesOutAZeroSeptetCompletingTheLastGroup) {
    EXPECT_EQ(PackSeptets(std::string(8, '\0')), "00000000000000");
    EXPECT_EQ(UnpackSeptets("00000000000000"), "@@@@@@@");
    EXPECT_EQ(UnpackSeptets("0000000000000000"), "@@@@@@@@@");  // not last: produced
}

TEST(SeptetPacking, EveryCodeAtEveryAlignmentRoundTrips) {
    std::string all;
    for (int code = 0; code < 128; ++code) all.push_back(static_cast<char>(code));
    for (size_t offset = 0; offset < 8; ++offset) {
        const std::string septets = std::string(offset, 'x') + all + "x";
        EXPECT_EQ(UnpackSeptets(PackSeptets(septets)), GsmToAnsi(septets)) << "offset " << offset;
    }
}

TEST(SeptetPacking, UnpackingStopsAtABadFirstDigitAndSkipsABadSecondOne) {
    EXPECT_EQ(UnpackSeptets("C832b9FD"), "He");
    EXPECT_EQ(UnpackSeptets("C8329BFD").substr(0, 3), "Hel");
    const std::string skipped = UnpackSeptets("C8329bFD");
    EXPECT_EQ(skipped.substr(0, 2), "He");
    EXPECT_NE(skipped, UnpackSeptets("C8329BFD"));
    EXPECT_EQ(UnpackSeptets("C8329bFD"), UnpackSeptets("C83209FD"));
    EXPECT_EQ(UnpackSeptets("C83"), "H");  // an odd last digit is not an octet
}

TEST(HexHelpers, BytesAndUcs2UnitsReadEitherCase) {
    EXPECT_EQ(HexToBytes("41ff00"), std::string("A\xFF\0", 3));
    EXPECT_EQ(HexToBytes("414"), "A");
    EXPECT_EQ(HexToUcs2("041F04400438"), u"\u041F\u0440\u0438");
    EXPECT_EQ(HexToUcs2("0041004"), u"A@");
    EXPECT_EQ(HexToUcs2(""), u"");
}

TEST(HexHelpers, NonHexadecimalDigitsRaiseAConversionError) {
    EXPECT_THROW(HexToBytes("4G"), EConvertError);
    EXPECT_THROW(HexToBytes("+1"), EConvertError);
    EXPECT_THROW(HexToUcs2("00 1"), EConvertError);
}

TEST(HexHelpers, SwapSemiOctetsExchangesCompletePairs) {
    EXPECT_EQ(SwapSemiOctets("12345"), "21435");
    EXPECT_EQ(SwapSemiOctets("7123456789F0"),
              "1732547698"
              "0F");
    EXPECT_EQ(SwapSemiOctets(""), "");
}

}  // namespace
}  // namespace velka
