// Reading and writing vCard and CSV contact files, as phones and spreadsheets write them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contact_files/contact_file.h"
#include "contact_files/contacts_csv.h"
#include "contact_files/vcard.h"
#include "platform/codepage.h"
#include "tests/contact_files/parsed_rows.h"

namespace velka::contact_files {
namespace {

using parsed_rows::Contacts;
using parsed_rows::Cp;

using contacts::Contact;
using ::testing::HasSubstr;

TEST(VCardReading, UnfoldsLinesUnescapesAndGivesOneContactPerNumber) {
    const std::string file =
        "\xEF\xBB\xBF"
        "BEGIN:VCARD\r\nVERSION:3.0\r\n"
        "FN:Иванов\\, Пётр\\; мл.\r\n"  // escaped comma and semicolon
        "N:Иванов;Пётр;;;\r\n"
        "item1.TEL;TYPE=CELL:+7 (912) 345-67-89\r\n"
        "TEL;TYPE=HOME:\r\n 8495\r\n\t1234567\r\n"  // folded, blank and tab
        "CATEGORIES:Работа\\, отдел,Друзья\r\n"
        "END:VCARD\r\n";
    const ParsedFile parsed = ParseVCards(file);
    EXPECT_FALSE(parsed.error);
    EXPECT_TRUE(parsed.bad.empty());
    const std::string name = Cp("Иванов, Пётр; мл.");
    const std::string group = Cp("Работа, отдел");
    EXPECT_EQ(Contacts(parsed),
              (std::vector<Contact>{{name, "+79123456789", group}, {name, "84951234567", group}}));
    EXPECT_EQ(parsed.rows[1].where, Cp("Карточка 1"));
}

TEST(VCardReading, TakesTheNameFromNWithoutFnAndLeavesTheGroupEmptyWithoutCategories) {
    const ParsedFile parsed =
        ParseVCards("BEGIN:VCARD\nVERSION:3.0\nN:Smith;John;Q;Dr.;Jr.\nTEL:123\nEND:VCARD\n");
    EXPECT_EQ(Contacts(parsed), (std::vector<Contact>{{"Dr. John Q Smith Jr.", "123", ""}}));
}

TEST(VCardReading, ReadsQuotedPrintableCardsOfVersion21) {
    // As phones export them: UTF-8 bytes in quoted-printable with a soft line
    // break, and a second card in Windows-1251 named by its charset.
    const std::string file =
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;=D0=90=D0=BD=\r\n=D0=BD=D0=B0;;;\r\n"
        "TEL;CELL;PREF:+79001112233\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN;CHARSET=WINDOWS-1251;QUOTED-PRINTABLE:=C1=EE=F0=E8=F1\r\n"
        "TEL;HOME:555\r\n"
        "END:VCARD\r\n";
    const ParsedFile parsed = ParseVCards(file);
    EXPECT_EQ(Contacts(parsed),
              (std::vector<Contact>{{Cp("Анна"), "+79001112233", ""}, {Cp("Борис"), "555", ""}}));
}

TEST(VCardReading, NamesCardsWithoutNumbersOrEndAndRefusesAFileWithoutCards) {
    const ParsedFile parsed = ParseVCards(
        "BEGIN:VCARD\nFN:Nobody\nEND:VCARD\n"
        "BEGIN:VCARD\nFN:Cut\nTEL:1\n"
        "BEGIN:VCARD\nFN:Fine\nTEL:2\nEND:VCARD\n"
        "BEGIN:VCARD\nFN:Tail\nTEL:3\n");
    EXPECT_EQ(Contacts(parsed), (std::vector<Contact>{{"Fine", "2", ""}}));
    ASSERT_EQ(parsed.bad.size(), 3u);
    EXPECT_EQ(parsed.bad[0].where, Cp("Карточка 1"));
    EXPECT_THAT(parsed.bad[0].reason, HasSubstr("TEL"));
    EXPECT_EQ(parsed.bad[1].where, Cp("Карточка 2"));
    EXPECT_THAT(parsed.bad[1].reason, HasSubstr("END:VCARD"));
    EXPECT_EQ(parsed.bad[2].where, Cp("Карточка 4"));

    EXPECT_TRUE(ParseVCards("name,number,group\nA,1,B\n").error);
}

TEST(VCardReading, ACharacterWindows1251LacksBecomesAQuestionMark) {
    const ParsedFile parsed =
        ParseVCards("BEGIN:VCARD\nFN:Zo\xC3\xAB \xF0\x9F\x98\x80\nTEL:1\nEND:VCARD\n");
    ASSERT_EQ(parsed.rows.size(), 1u);
    EXPECT_EQ(parsed.rows[0].contact.name, "Zo? ?");
}

TEST(VCardWriting, EscapesAndFoldsAt75OctetsWithoutSplittingACharacter) {
    const std::string long_name =
        Cp(std::string(30, 'a') + "; " + "Щукина-Ёлкина Александра Константиновна");
    const std::string text = VCardsText({{long_name, "+79123456789", Cp("Группа, вторая")}});
    EXPECT_THAT(text, HasSubstr("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
    EXPECT_THAT(text, HasSubstr("CATEGORIES:Группа\\, вторая\r\n"));
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        EXPECT_LE(line.size(), 75u) << line;
        EXPECT_TRUE(codepage::IsValidUtf8(line)) << line;  // no character cut in two
        start = end + 2;
    }
    EXPECT_NE(text.find("\r\n "), std::string::npos) << "the long name is folded";
    // What it writes it reads back the same.
    EXPECT_EQ(Contacts(ParseVCards(text)),
              (std::vector<Contact>{{long_name, "+79123456789", Cp("Группа, вторая")}}));
}

// N carries the name split as address books split one typed whole, not the whole
// name as a family name.
TEST(VCardWriting, TheStructuredNameSplitsGivenAndFamilyNames) {
    const std::string text = VCardsText({{Cp("Иван Петров"), "+79161234567", Cp("Друзья")},
                                         {Cp("Мария"), "+79031112233", Cp("Друзья")},
                                         {Cp("Анна Мария Шмидт"), "+79990000001", ""}});
    EXPECT_THAT(text, HasSubstr("FN:Иван Петров\r\nN:Петров;Иван;;;\r\n"));
    EXPECT_THAT(text, HasSubstr("FN:Мария\r\nN:;Мария;;;\r\n"));
    EXPECT_THAT(text, HasSubstr("N:Шмидт;Анна Мария;;;\r\n"));
}

TEST(CsvReading, FollowsQuotingAndTheHeaderAndNamesRowsByTheirFirstLine) {
    const std::string file =
        "\xEF\xBB\xBFgroup,Name,number\r\n"
        "\"Работа, отдел\",\"Иванов \"\"Пётр\"\"\",+7 912 345-67-89\r\n"
        "\r\n"
        ",\"Две\nстроки\",111\r\n"
        "Дом,Анна,12a\r\n";
    const ParsedFile parsed = ParseContactsCsv(file);
    EXPECT_FALSE(parsed.error);
    EXPECT_EQ(Contacts(parsed),
              (std::vector<Contact>{{Cp("Иванов \"Пётр\""), "+79123456789", Cp("Работа, отдел")},
                                    {Cp("Две\nстроки"), "111", ""},
                                    {Cp("Анна"), "12a", Cp("Дом")}}));
    EXPECT_EQ(parsed.rows[1].where, Cp("Строка 4"));
    EXPECT_EQ(parsed.rows[2].where, Cp("Строка 6"));
}

TEST(CsvReading, ReadsAWindows1251FileAsSuch) {
    const std::string file = Cp("name,number,group\nАнна,1,Друзья\n");
    ASSERT_FALSE(codepage::IsValidUtf8(file));
    EXPECT_EQ(Contacts(ParseContactsCsv(file)),
              (std::vector<Contact>{{Cp("Анна"), "1", Cp("Друзья")}}));
}

TEST(CsvReading, RefusesAFileWithoutTheHeaderAndNamesAnOpenQuote) {
    EXPECT_TRUE(ParseContactsCsv("Anna,1,Work\n").error);
    EXPECT_TRUE(ParseContactsCsv("").error);
    const ParsedFile parsed = ParseContactsCsv("name,number\nA,1\nB,\"2\n");
    EXPECT_EQ(Contacts(parsed), (std::vector<Contact>{{"A", "1", ""}}));
    ASSERT_EQ(parsed.bad.size(), 1u);
    EXPECT_EQ(parsed.bad[0].where, Cp("Строка 3"));
}

TEST(CsvWriting, WritesTheHeaderAndQuotesWhatNeedsIt) {
    EXPECT_EQ(ContactsCsvText({{Cp("Пётр, мл."), "+7912", "A"}}),
              "name,number,group\r\n\"Пётр, мл.\",+7912,A\r\n");
}

TEST(ContactFormats, TheExtensionPicksTheFormat) {
    EXPECT_EQ(FormatOfPath("/tmp/book.CSV"), ContactFormat::Csv);
    EXPECT_EQ(FormatOfPath("/tmp/book.vcf"), ContactFormat::VCard);
    EXPECT_EQ(FormatOfPath("csv"), ContactFormat::VCard);
}

}  // namespace
}  // namespace velka::contact_files
