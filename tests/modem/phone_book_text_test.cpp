// The SIM's phone book as modems write it, without a modem: names in each
// character set of AT+CSCS (3GPP TS 27.007), the SIM's alpha forms they may pass
// through (TS 31.102 annex A), the default alphabet and its extension (TS 23.038),
// and the lines of +CPBS, +CPBR and +CSCS.
#include "modem/phone_book_text.h"

#include <gtest/gtest.h>

#include <string>

#include "modem/phone_book.h"

namespace velka::modem {
namespace {

// "Иван" in UTF-8, and its UTF-16 units U+0418 U+0432 U+0430 U+043D.
const std::string kIvan = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";

std::string Octets(std::initializer_list<unsigned> values) {
    std::string octets;
    for (const unsigned value : values) octets += static_cast<char>(value);
    return octets;
}

TEST(PhoneBookNameTest, Ucs2HexadecimalGivesAnyScriptAndSurrogatePairsWhole) {
    EXPECT_EQ(DecodeName("041804320430043D", Charset::Ucs2), kIvan);
    EXPECT_EQ(DecodeName("041804320430043d", Charset::Ucs2), kIvan);
    EXPECT_EQ(DecodeName("004100200042FFFF", Charset::Ucs2), "A B");
    // U+1F600 as the pair D83D DE00.
    EXPECT_EQ(DecodeName("D83DDE00", Charset::Ucs2), "\xF0\x9F\x98\x80");
    EXPECT_EQ(DecodeName("", Charset::Ucs2), "");
}

TEST(PhoneBookNameTest, Ucs2ThatIsNoWholeNumberOfCharactersOrNoHexadecimalIsRefused) {
    for (const char* field : {"04180", "0418043", "Ivan", "04 18", "0418G432"}) {
        EXPECT_FALSE(DecodeName(field, Charset::Ucs2)) << field;
    }
}

// Modems that pass the SIM's record through in UCS2 mode: each of the three forms.
TEST(PhoneBookNameTest, TheSimsOwnUcs2FormsPassedThroughAreRead) {
    // 0x80, then UTF-16 big endian: an odd count of octets, with the padding.
    EXPECT_EQ(DecodeName("80041804320430043D", Charset::Ucs2), kIvan);
    EXPECT_EQ(DecodeName("80041804320430043DFFFF", Charset::Ucs2), kIvan);
    EXPECT_EQ(DecodeName("80041804320430043DFF", Charset::Ucs2), kIvan);
    EXPECT_EQ(DecodeName("81040898B2B0BDFFFF", Charset::Ucs2), kIvan);
    // 0x81: four characters on the half page 0x08 (U+0400), then a GSM space and "2".
    EXPECT_EQ(DecodeName("81060898B2B0BD2032", Charset::Ucs2), kIvan + " 2");
    // 0x82: four characters from the base U+0410.
    EXPECT_EQ(DecodeName("8204041088A2A0AD", Charset::Ucs2), kIvan);
    // A name of ordinary characters from U+8100 is not taken for a record.
    EXPECT_EQ(DecodeName("81008101", Charset::Ucs2), "\xE8\x84\x80\xE8\x84\x81");
}

TEST(SimAlphaTest, TheDefaultAlphabetStopsAtThePaddingAndKeepsItsExtension) {
    // "Cost 10€": the euro is the escape 0x1B and 0x65; "@" is 0x00, "_" 0x11.
    EXPECT_EQ(DecodeSimAlpha(Octets({'C', 'o', 's', 't', ' ', '1', '0', 0x1B, 0x65, 0xFF, 0xFF})),
              "Cost 10\xE2\x82\xAC");
    EXPECT_EQ(DecodeSimAlpha(Octets({0x00, 0x11, 0x10, 0x7B})), "@_\xCE\x94\xC3\xA4");
    EXPECT_EQ(DecodeSimAlpha(Octets({0xFF, 0xFF})), "");
}

TEST(SimAlphaTest, AFormWhoseCountRunsPastTheRecordIsRefused) {
    EXPECT_FALSE(DecodeSimAlpha(Octets({0x81, 0x05, 0x08, 0x98})));
    EXPECT_FALSE(DecodeSimAlpha(Octets({0x82, 0x02, 0x04})));
    EXPECT_FALSE(DecodeSimAlpha(Octets({0x81, 0x01})));
}

TEST(PhoneBookNameTest, GsmGivesTheDefaultAlphabetAndItsExtension) {
    EXPECT_EQ(DecodeName(Octets({'A', 0x1B, 0x3C, 0x1B, 0x3E, 0x02, 0x00}), Charset::Gsm), "A[]$@");
    // An octet with bit 8 set is no character of the alphabet.
    EXPECT_EQ(DecodeName(Octets({'A', 0xC0}), Charset::Gsm), "A\xEF\xBF\xBD");
}

TEST(PhoneBookNameTest, IraIsAsciiAndAnythingBeyondItIsMarkedLost) {
    EXPECT_EQ(DecodeName("Ivan \"Big\"", Charset::Ira), "Ivan \"Big\"");
    EXPECT_EQ(DecodeName(Octets({'I', 0xC8}), Charset::Ira), "I\xEF\xBF\xBD");
}

TEST(PhoneBookNameTest, HexGivesTheSimsOctetsInEveryForm) {
    EXPECT_EQ(DecodeName("4976616EFFFF", Charset::Hex), "Ivan");
    EXPECT_EQ(DecodeName("80041804320430043D", Charset::Hex), kIvan);
    EXPECT_EQ(DecodeName("81040898B2B0BD", Charset::Hex), kIvan);
    EXPECT_EQ(DecodeName("1B65", Charset::Hex), "\xE2\x82\xAC");
    EXPECT_FALSE(DecodeName("4976616", Charset::Hex));
    EXPECT_FALSE(DecodeName("Ivan", Charset::Hex));
}

TEST(PhoneBookNumberTest, AnInternationalTypeGivesThePlusOnce) {
    EXPECT_EQ(NumberWithType("79123456789", 145), "+79123456789");
    EXPECT_EQ(NumberWithType("+79123456789", 145), "+79123456789");
    EXPECT_EQ(NumberWithType("89123456789", 129), "89123456789");
    EXPECT_EQ(NumberWithType("0500", 161), "0500");  // national
    EXPECT_EQ((PhoneBookEntry{1, "4951234567", 145, "x"}.Dialled()), "+4951234567");
}

TEST(PhoneBookLineTest, AnEntryLineGivesItsFieldsAndReadsPastLaterOnes) {
    const auto entry = ParseEntryLine("+CPBR: 3,\"+79123456789\",145,\"041804320430043D\"");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->index, 3);
    EXPECT_EQ(entry->number, "+79123456789");
    EXPECT_EQ(entry->type, 145);
    EXPECT_EQ(entry->name, "041804320430043D");
    const auto hidden = ParseEntryLine("+cpbr: 12, \"0500\" ,129, \"Bob\",0,\"Work\"");
    ASSERT_TRUE(hidden);
    EXPECT_EQ(hidden->index, 12);
    EXPECT_EQ(hidden->name, "Bob");
}

TEST(PhoneBookLineTest, ANameInIraOrGsmMayHoldQuotesAndCommas) {
    const auto entry = ParseEntryLine("+CPBR: 2,\"555\",129,\"Say \"hi\", Bob\"");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Say \"hi\", Bob");
    const auto empty = ParseEntryLine("+CPBR: 4,\"555\",129,\"\"");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->name, "");
}

TEST(PhoneBookLineTest, MalformedEntryLinesAreRefused) {
    for (const char* line :
         {"+CPBR: 3,\"555\",129", "+CPBR: x,\"555\",129,\"A\"", "+CPBR: 3,555,129,\"A\"",
          "+CPBR: 3,\"555\",,\"A\"", "+CPBR: 3,\"555\",129,\"A", "+CPBS: 3,\"555\",129,\"A\"",
          "+CPBR 3,\"555\",129,\"A\""}) {
        EXPECT_FALSE(ParseEntryLine(line)) << line;
    }
}

TEST(PhoneBookLineTest, TheRangeAndTheLengthsAreRead) {
    const auto range = ParseRangeLine("+CPBR: (1-250),40,18");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, 1);
    EXPECT_EQ(range->last, 250);
    EXPECT_EQ(range->number_length, 40);
    EXPECT_EQ(range->name_length, 18);
    const auto bare = ParseRangeLine("+CPBR: (0-99)");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->first, 0);
    EXPECT_EQ(bare->last, 99);
    EXPECT_EQ(bare->name_length, -1);
    for (const char* line : {"+CPBR: 1-250,40,18", "+CPBR: (250-1),40,18", "+CPBR: (a-b)",
                             "+CPBR: (1-250", "+CSCS: (1-250)"}) {
        EXPECT_FALSE(ParseRangeLine(line)) << line;
    }
}

TEST(PhoneBookLineTest, TheStorageAndItsCountsAreRead) {
    const auto counted = ParseStorageLine("+CPBS: \"SM\",12,250");
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->storage, "SM");
    EXPECT_EQ(counted->used, 12);
    EXPECT_EQ(counted->total, 250);
    const auto bare = ParseStorageLine("+CPBS: \"ME\"");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->storage, "ME");
    EXPECT_EQ(bare->used, -1);
    EXPECT_FALSE(ParseStorageLine("+CPBS: SM,1,2"));
    EXPECT_FALSE(ParseStorageLine("+CPBS: \"\""));
}

TEST(CharsetTest, TheOfferedSetsAreTakenInTheOrderOfPreference) {
    const auto offered = OfferedCharsets("+CSCS: (\"IRA\",\"GSM\",\"ucs2\",\"PCCP437\")");
    EXPECT_EQ(offered, (std::vector<std::string>{"IRA", "GSM", "ucs2", "PCCP437"}));
    EXPECT_EQ(ByPreference(offered),
              (std::vector<Charset>{Charset::Ucs2, Charset::Gsm, Charset::Ira}));
    EXPECT_EQ(ByPreference(OfferedCharsets("+CSCS: (\"GSM\",\"HEX\",\"IRA\")")),
              (std::vector<Charset>{Charset::Hex, Charset::Gsm, Charset::Ira}));
    EXPECT_TRUE(ByPreference(OfferedCharsets("+CSCS: (\"8859-1\",\"PCCP437\")")).empty());
    EXPECT_EQ(OfferedCharsets("+CSCS: \"GSM\""), (std::vector<std::string>{"GSM"}));
    EXPECT_EQ(OfferedCharsets("+CSCS: GSM"), (std::vector<std::string>{"GSM"}));
    EXPECT_TRUE(OfferedCharsets("+CSCS: ()").empty());
    EXPECT_EQ(CharsetNamed(" Hex "), Charset::Hex);
    EXPECT_FALSE(CharsetNamed("UTF-8"));
}

}  // namespace
}  // namespace velka::modem
