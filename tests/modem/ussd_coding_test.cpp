// USSD texts as modems write them: the "+CUSD:" fields of 3GPP TS 27.007, the
// cell-broadcast coding schemes of 3GPP TS 23.038, 5, the USSD packing of 6.1.2.3.1,
// and the forms the makers' manuals give (text, packed and unpacked hexadecimal,
// UCS2 hexadecimal). The hexadecimal below was worked out by hand from the
// standards' bit layouts, not by the code under test.
#include "modem/ussd_coding.h"

#include <gtest/gtest.h>

#include <string>

namespace velka::modem {
namespace {

constexpr int kGsm7 = 0x0F;        // default alphabet, language unspecified
constexpr int kUcs2 = 0x48;        // general coding, UCS2
constexpr int kData8 = 0x44;       // general coding, 8-bit data
constexpr int kGsm7Lang = 0x10;    // default alphabet, language first
constexpr int kUcs2Lang = 0x11;    // UCS2, language first
constexpr int kCompressed = 0x60;  // general coding, compressed

// "Balance 99.00 RUB" in each form a modem writes a 7-bit text in.
constexpr const char* kBalanceText = "Balance 99.00 RUB";
constexpr const char* kBalancePacked = "C2303BEC1E9741B99C0B060349AB42";
constexpr const char* kBalanceUnpacked = "42616C616E63652039392E303020525542";
constexpr const char* kBalanceUcs2 =
    "00420061006C0061006E00630065002000390039002E003000300020005200550042";
// "Баланс: 57,10 р." in UCS2.
constexpr const char* kRussianUcs2 =
    "04110430043B0430043D0441003A002000350037002C0031003000200440002E";

std::u16string Decoded(std::string_view text, std::optional<int> scheme) {
    return DecodeUssdText(text, scheme).value_or(u"<unreadable>");
}

TEST(UssdCodingSchemes, EachGroupOfTheCellBroadcastSchemesNamesItsAlphabet) {
    struct Case {
        int scheme;
        UssdCoding coding;
    };
    const Case cases[] = {
        {0x00, {UssdAlphabet::Gsm7, false}},  // German, 7-bit
        {0x0F, {UssdAlphabet::Gsm7, false}},  // language unspecified
        {0x10, {UssdAlphabet::Gsm7, true}},   // language first, 7-bit
        {0x11, {UssdAlphabet::Ucs2, true}},   // language first, UCS2
        {0x1F, {UssdAlphabet::Gsm7, false}},  // reserved in group 0001
        {0x23, {UssdAlphabet::Gsm7, false}},  // Russian, 7-bit
        {0x3F, {UssdAlphabet::Gsm7, false}},  // reserved languages
        {0x40, {UssdAlphabet::Gsm7, false}},  // general coding, 7-bit
        {0x44, {UssdAlphabet::Data8, false}},      {0x48, {UssdAlphabet::Ucs2, false}},
        {0x4C, {UssdAlphabet::Gsm7, false}},  // reserved alphabet
        {0x5A, {UssdAlphabet::Ucs2, false}},  // UCS2 with a class
        {0x60, {UssdAlphabet::Compressed, false}}, {0x68, {UssdAlphabet::Compressed, false}},
        {0x80, {UssdAlphabet::Gsm7, false}},   // reserved group
        {0x94, {UssdAlphabet::Data8, false}},  // with a header, 8-bit
        {0x98, {UssdAlphabet::Ucs2, false}},   // with a header, UCS2
        {0xA5, {UssdAlphabet::Gsm7, false}},   // reserved group
        {0xE5, {UssdAlphabet::Data8, false}},  // defined by WAP
        {0xF0, {UssdAlphabet::Gsm7, false}},       {0xF4, {UssdAlphabet::Data8, false}},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadUssdCoding(c.scheme), c.coding) << c.scheme;
}

TEST(UssdResults, FieldsAreReadAsTheModemsWriteThem) {
    auto result = ParseUssdResult("+CUSD: 0,\"Balance: 5, valid\",15");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 0);
    EXPECT_EQ(result->text, "Balance: 5, valid");
    EXPECT_EQ(result->coding, 15);

    result = ParseUssdResult("  +cusd: 4  ");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 4);
    EXPECT_FALSE(result->text);
    EXPECT_FALSE(result->coding);

    // A quote inside the text runs to the last quote of the line.
    result = ParseUssdResult("+CUSD: 1,\"Say \"yes\"\",15");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, "Say \"yes\"");

    // Without quotes, as some firmware writes hexadecimal, and without a scheme.
    result = ParseUssdResult("+CUSD: 0,AA180C3602,15");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, "AA180C3602");
    EXPECT_EQ(result->coding, 15);
    result = ParseUssdResult("+CUSD: 2,\"Ended\"");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, "Ended");
    EXPECT_FALSE(result->coding);
}

TEST(UssdResults, WhatIsNoResultIsRefused) {
    EXPECT_FALSE(ParseUssdResult("+CUSD: x,\"text\",15"));
    EXPECT_FALSE(ParseUssdResult("+CUSD:"));
    EXPECT_FALSE(ParseUssdResult("+CMTI: \"SM\",1"));
    EXPECT_FALSE(IsUssdResult("OK"));
    EXPECT_TRUE(IsUssdResult(" +cusd: 0"));
}

TEST(UssdResults, AResultIsWholeOnlyOnceItsQuotesClose) {
    EXPECT_FALSE(UssdResultComplete("+CUSD: 1,\"Menu:"));
    EXPECT_FALSE(UssdResultComplete("+CUSD: 1,\"Menu:\n1 Balance"));
    EXPECT_TRUE(UssdResultComplete("+CUSD: 1,\"Menu:\n1 Balance\",15"));
    EXPECT_TRUE(UssdResultComplete("+CUSD: 4"));
}

TEST(UssdTexts, ASevenBitTextReadsTheSameInEveryFormAModemWritesIt) {
    for (const char* form : {kBalanceText, kBalancePacked, kBalanceUnpacked, kBalanceUcs2}) {
        EXPECT_EQ(Decoded(form, kGsm7), u"Balance 99.00 RUB") << form;
        EXPECT_EQ(Decoded(form, std::nullopt), u"Balance 99.00 RUB") << form;
    }
    // Lower-case digits, as some firmware writes them.
    EXPECT_EQ(Decoded("aa180c3602", kGsm7), u"*100#");
}

TEST(UssdTexts, HexadecimalDigitsThatReadAsNoWordsStayAsTheyCame) {
    EXPECT_EQ(Decoded("1234", kGsm7), u"1234");
    EXPECT_EQ(Decoded("CAFE", kGsm7), u"CAFE");
    EXPECT_EQ(Decoded("100", kGsm7), u"100");
}

TEST(UssdTexts, TheCarriageReturnThatPadsSevenSpareBitsIsNoCharacter) {
    // 7 septets with a CR in the spare bits (6.1.2.3.1), and with zeros as networks
    // that ignore the rule leave them: neither is "@" nor a line break.
    EXPECT_EQ(Decoded("31D98C56B3DD1A", kGsm7), u"1234567");
    EXPECT_EQ(Decoded("31D98C56B3DD00", kGsm7), u"1234567");
}

TEST(UssdTexts, UcsTwoAnswersReadInRussian) {
    EXPECT_EQ(Decoded(kRussianUcs2, kUcs2), u"Баланс: 57,10 р.");
    // A modem whose character set is UCS2 writes a 7-bit answer so too.
    EXPECT_EQ(Decoded(kRussianUcs2, kGsm7), u"Баланс: 57,10 р.");
}

TEST(UssdTexts, TheLanguageAtTheStartIsTakenOff) {
    // Scheme 0x10: "ru" and a carriage return, then the text, packed.
    EXPECT_EQ(Decoded("F27A035966B3DF", kGsm7Lang), u"Hello");
    EXPECT_EQ(Decoded("ru\rHello", kGsm7Lang), u"Hello");
    // Scheme 0x11: "ru" packed into two octets, then UCS2.
    EXPECT_EQ(Decoded(std::string("F23A") + kRussianUcs2, kUcs2Lang), u"Баланс: 57,10 р.");
}

TEST(UssdTexts, EightBitDataReadsAsUtf8ElseAsTheRussianCodePage) {
    EXPECT_EQ(Decoded("D091D0B0D0BBD0B0D0BDD181", kData8), u"Баланс");
    EXPECT_EQ(Decoded("C1E0EBE0EDF13A2035372C313020F02E", kData8), u"Баланс: 57,10 р.");
}

TEST(UssdTexts, ACompressedTextCannotBeRead) {
    EXPECT_FALSE(DecodeUssdText("C2303BEC", kCompressed));
}

TEST(UssdTexts, LineBreaksBecomeNewlinesAndTheLastOnesGo) {
    // "Line one\r\nLine two", packed.
    EXPECT_EQ(Decoded("CCB4BB0C7ABBCB0D0533ED2E83E8F737", kGsm7), u"Line one\nLine two");
    EXPECT_EQ(Decoded("Menu:\r1 A\r2 B\r\n", kGsm7), u"Menu:\n1 A\n2 B");
}

TEST(UssdRequests, HuaweiModemsGetPackedRequestsAndTheOthersText) {
    EXPECT_EQ(RequestFormFor("huawei"), UssdRequestForm::Packed);
    EXPECT_EQ(RequestFormFor("HUAWEI TECHNOLOGIES CO., LTD"), UssdRequestForm::Packed);
    EXPECT_EQ(RequestFormFor("ZTE CORPORATION"), UssdRequestForm::Text);
    EXPECT_EQ(RequestFormFor("Quectel"), UssdRequestForm::Text);
    EXPECT_EQ(RequestFormFor(""), UssdRequestForm::Text);
}

TEST(UssdRequests, APackedRequestFollowsTheUssdPadding) {
    EXPECT_EQ(EncodeUssdRequest(u"*100#", UssdRequestForm::Packed), "AA180C3602");
    // 8n - 1 septets: the spare bits hold a carriage return, not zeros.
    EXPECT_EQ(EncodeUssdRequest(u"1234567", UssdRequestForm::Packed), "31D98C56B3DD1A");
    EXPECT_EQ(EncodeUssdRequest(u"*100#", UssdRequestForm::Text), "*100#");
}

TEST(UssdRequests, WhatACommandLineOrTheAlphabetCannotCarryIsRefused) {
    EXPECT_FALSE(EncodeUssdRequest(u"", UssdRequestForm::Text));
    EXPECT_FALSE(EncodeUssdRequest(u"", UssdRequestForm::Packed));
    EXPECT_FALSE(EncodeUssdRequest(u"say \"1\"", UssdRequestForm::Text));
    EXPECT_FALSE(EncodeUssdRequest(u"да", UssdRequestForm::Text));
    EXPECT_FALSE(EncodeUssdRequest(u"да", UssdRequestForm::Packed));
    EXPECT_FALSE(EncodeUssdRequest(u"a\rb", UssdRequestForm::Text));
    // The 7-bit alphabet has "è", which a text command line does not carry as it is.
    EXPECT_FALSE(EncodeUssdRequest(u"è", UssdRequestForm::Text));
    EXPECT_TRUE(EncodeUssdRequest(u"è", UssdRequestForm::Packed));
}

}  // namespace
}  // namespace velka::modem
