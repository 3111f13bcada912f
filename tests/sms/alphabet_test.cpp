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
    return UnicodeToGsm(codepage::ToUtf16(cp1251));
}

TEST(GsmAlphabet, BasicCharactersMapBothWays) {
    EXPECT_EQ(UnicodeToGsm(u"@$_\n\rA\u00A3\u0394\u00E9"),
              Septets({0x00, 0x02, 0x11, 0x0A, 0x0D, 0x41, 0x01, 0x10, 0x05}));
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

// "[" once went out as "<" (its extension code without the escape): the recipient
// read another character than was typed.
TEST(GsmAlphabet, ExtensionCharactersAreSentAfterTheEscapeAndCountTwo) {
    EXPECT_EQ(SeptetsOfText("{a}"), Septets({0x1B, 0x28, 0x61, 0x1B, 0x29}));
    EXPECT_EQ(GsmToAnsi(SeptetsOfText("{a}[\\]~^|\f\x88")), "{a}[\\]~^|\f\x88");
    EXPECT_EQ(GsmSeptetCount(u"{a}\u20AC"), 7u);
    EXPECT_EQ(GsmSeptetsOf(u'['), 2u);
    EXPECT_EQ(GsmSeptetsOf(u'A'), 1u);
    EXPECT_EQ(GsmSeptetsOf(u'\u00AB'), 1u) << "a character the alphabet lacks is one \"?\"";
}

TEST(GsmAlphabet, CharactersWithoutACodeBecomeQuestionMarks) {
    EXPECT_EQ(SeptetsOfText("\xAB`\x7F\x01\xB3\xCF"), "??????");  // «, `, DEL, a control, і, П
    EXPECT_FALSE(InGsmAlphabet(u'`'));
    EXPECT_TRUE(InGsmAlphabet(u'\u20AC'));
}

TEST(GsmAlphabet, EscapeSequencesDecodeThroughTheExtensionTable) {
    EXPECT_EQ(GsmToAnsi(Septets({0x1B, 0x65})), "\x88");  // the euro of Windows-1251
    EXPECT_EQ(GsmToAnsi(Septets({0x1B, 0x28, 0x1B, 0x0A})), "{\f");
    EXPECT_EQ(GsmToAnsi(Septets({0x1B, 0x41})), "A") << "not an extension code: the main table's";
    EXPECT_EQ(GsmToAnsi(Septets({0x41, 0x1B})), "A");
    EXPECT_EQ(GsmToUnicode(Septets({0x1B, 0x65, 0x1B, 0x04, 0x1B})), u"\u20AC\u00E8");
}

// Every character of the alphabet and its extension table goes out as its code and
// comes back as itself.
TEST(GsmAlphabet, EveryCharacterRoundTrips) {
    int round_trips = 0;
    for (int code = 0; code < 128; ++code) {
        if (code == 0x1B) continue;
        const std::u16string character = GsmToUnicode(Septets({code}));
        EXPECT_EQ(UnicodeToGsm(character), Septets({code})) << "code " << code;
        ++round_trips;
    }
    for (const int code : {0x0A, 0x14, 0x28, 0x29, 0x2F, 0x3C, 0x3D, 0x3E, 0x40, 0x65}) {
        const std::u16string character = GsmToUnicode(Septets({0x1B, code}));
        EXPECT_EQ(UnicodeToGsm(character), Septets({0x1B, code})) << "extension " << code;
        ++round_trips;
    }
    EXPECT_EQ(round_trips, 127 + 10);
}

// A character the 7-bit alphabet cannot carry sends the whole text as UCS2, as a
// Russian letter does; "?" is never sent in its place.
TEST(DetectCoding, AnyCharacterTheAlphabetLacksChoosesUcs2) {
    EXPECT_EQ(DetectCoding(u"Hello, world! [x] \u20AC5 \u00E9\u0394"), kCodingGsm7);
    EXPECT_EQ(DetectCoding(codepage::ToUtf16("\xA8\xEB")), kCodingUcs2);  // Ёл
    EXPECT_EQ(DetectCoding(codepage::ToUtf16("He said \xABhi\xBB \x97 ok \xB9"
                                             "5")),
              kCodingUcs2);
    EXPECT_EQ(DetectCoding(u"\u010C"), kCodingUcs2);
    EXPECT_EQ(DetectCoding(u"tab\there"), kCodingUcs2);
    EXPECT_EQ(DetectCoding(u""), kCodingGsm7);
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
