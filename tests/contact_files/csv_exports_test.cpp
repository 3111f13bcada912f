// Reading the CSV exports of address books and phones, and the columns the user
// names for a header the reader does not know.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "contact_files/column_choices.h"
#include "contact_files/contacts_csv.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/contact_files/parsed_rows.h"
#include "tests/support/temp_dir.h"

namespace velka::contact_files {
namespace {

using parsed_rows::Contacts;
using parsed_rows::Cp;

using contacts::Contact;

TEST(CsvExports, GoogleGivesEveryNumberOfARowAndItsFirstOwnLabelAsTheGroup) {
    const std::string file =
        "Name,Given Name,Additional Name,Family Name,Group Membership,Phone 1 - Type,"
        "Phone 1 - Value,Phone 2 - Type,Phone 2 - Value\r\n"
        "Иван Петров,Иван,,Петров,* myContacts ::: Друзья ::: Работа,Mobile,"
        "+7 (916) 123-45-67,Home,8 495 111-22-33 ::: 8 495 444-55-66\r\n"
        ",Анна,,Смирнова,* myContacts ::: * starred,Mobile,+79030001122,,\r\n";
    const ParsedFile parsed = ParseContactsCsv(file);
    EXPECT_FALSE(parsed.error);
    EXPECT_EQ(Contacts(parsed), (std::vector<Contact>{
                                    {Cp("Иван Петров"), "+79161234567", Cp("Друзья")},
                                    {Cp("Иван Петров"), "84951112233", Cp("Друзья")},
                                    {Cp("Иван Петров"), "84954445566", Cp("Друзья")},
                                    {Cp("Анна Смирнова"), "+79030001122", ""},
                                }));
    EXPECT_EQ(parsed.rows[3].where, Cp("Строка 3"));

    const std::string newer =
        "First Name,Middle Name,Last Name,Labels,Phone 1 - Label,Phone 1 - Value\n"
        "Олег,,Ким,Семья ::: * myContacts,Mobile,+7 900 000-00-01\n";
    EXPECT_EQ(Contacts(ParseContactsCsv(newer)),
              (std::vector<Contact>{{Cp("Олег Ким"), "+79000000001", Cp("Семья")}}));
}

// The Russian edition of Outlook writes Windows-1251 and ';' between fields.
TEST(CsvExports, RussianOutlookJoinsTheNamePartsAndTakesTheFirstCategory) {
    const std::string file =
        Cp("\"Обращение\";\"Имя\";\"Отчество\";\"Фамилия\";\"Организация\";"
           "\"Рабочий телефон\";\"Домашний телефон\";\"Мобильный телефон\";\"Категории\"\r\n"
           "\"\";\"Пётр\";\"Ильич\";\"Чайковский\";\"Театр; опера\";\"+7 (495) 123-45-67\";"
           "\"\";\"8-916-765-43-21\";\"Музыка;Классика\"\r\n"
           "\"\";\"Без\";\"\";\"Номера\";\"\";\"\";\"\";\"\";\"\"\r\n");
    ASSERT_FALSE(codepage::IsValidUtf8(file));
    const ParsedFile parsed = ParseContactsCsv(file);
    EXPECT_FALSE(parsed.error);
    EXPECT_EQ(Contacts(parsed),
              (std::vector<Contact>{{Cp("Пётр Ильич Чайковский"), "+74951234567", Cp("Музыка")},
                                    {Cp("Пётр Ильич Чайковский"), "89167654321", Cp("Музыка")},
                                    // Left for the contact rules to refuse, named by its line.
                                    {Cp("Без Номера"), "", ""}}));
}

TEST(CsvExports, EnglishOutlookAndAPhonesPlainListAreKnownToo) {
    const std::string outlook =
        "\"First Name\",\"Middle Name\",\"Last Name\",\"Business Phone\",\"Home Phone\","
        "\"Mobile Phone\",\"Primary Phone\",\"Categories\"\n"
        "John,,Smith,,,+1 555 0100,,Work;Golf\n";
    EXPECT_EQ(Contacts(ParseContactsCsv(outlook)),
              (std::vector<Contact>{{"John Smith", "+15550100", "Work"}}));
    EXPECT_EQ(Contacts(ParseContactsCsv("Имя;Телефон\nМама;+7 916 000-00-01\n")),
              (std::vector<Contact>{{Cp("Мама"), "+79160000001", ""}}));
    EXPECT_EQ(Contacts(ParseContactsCsv("Name,Mobile,Группа\nPat,8 900 1,Дом\n")),
              (std::vector<Contact>{{"Pat", "89001", Cp("Дом")}}));
}

// Counting separators inside quotes would take this header for a comma-separated one.
TEST(CsvExports, TheSeparatorIsTheOneTheHeaderUsesOutsideQuotes) {
    const std::string file = "\r\nName;Phone;\"Notes, misc, more\"\r\nAnn, Lee;+7 1;x\r\n";
    EXPECT_EQ(Contacts(ParseContactsCsv(file)), (std::vector<Contact>{{"Ann, Lee", "+71", ""}}));
}

// The program's own header reads only its three columns, as it always has, even
// beside columns an export would give numbers from.
TEST(CsvExports, TheProgramsOwnHeaderIgnoresOtherKnownColumns) {
    const std::string file = "name,number,group,Mobile Phone,Categories\nA,1,G,2,X\n";
    EXPECT_EQ(Contacts(ParseContactsCsv(file)), (std::vector<Contact>{{"A", "1", "G"}}));
}

TEST(UnknownCsvHeader, IsRefusedWithItsTitlesAndReadThroughTheColumnsChosen) {
    const std::string file = "Кто;Заметка;Куда\nАнна;x;+7 900 1\n";
    const ParsedFile refused = ParseContactsCsv(file);
    EXPECT_TRUE(refused.error);
    EXPECT_TRUE(refused.rows.empty());
    ASSERT_TRUE(refused.unknown_header);
    EXPECT_EQ(*refused.unknown_header,
              (std::vector<std::string>{Cp("Кто"), Cp("Заметка"), Cp("Куда")}));

    ColumnChoices choices;
    choices.Remember({Cp("КТО"), Cp("заметка "), Cp("Куда")}, {0, 2});  // case and blanks aside
    const ParsedFile read = ParseContactsCsv(file, choices);
    EXPECT_FALSE(read.error);
    EXPECT_EQ(Contacts(read), (std::vector<Contact>{{Cp("Анна"), "+79001", ""}}));
}

// A choice the user made wins over what the reader would make of the header.
TEST(UnknownCsvHeader, AChosenMappingOverridesAKnownHeader) {
    ColumnChoices choices;
    choices.Remember({"Name", "Phone", "Other"}, {0, 2});
    EXPECT_EQ(Contacts(ParseContactsCsv("Name,Phone,Other\nA,1,2\n", choices)),
              (std::vector<Contact>{{"A", "2", ""}}));
}

TEST(UnknownCsvHeader, AOneColumnOrEmptyFileHasNothingToChooseFrom) {
    for (const std::string file : {"Anna\n", ""}) {
        const ParsedFile parsed = ParseContactsCsv(file);
        EXPECT_TRUE(parsed.error) << file;
        EXPECT_FALSE(parsed.unknown_header) << file;
    }
}

class ColumnChoicesFile : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    std::string path_ = dir_.File("csv-columns.txt");
};

TEST_F(ColumnChoicesFile, AMissingFileHoldsNoChoicesAndASavedOneReadsBack) {
    auto empty = ColumnChoices::Load(path_);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->Find({"a", "b"}));

    ColumnChoices choices;
    choices.Remember({Cp("Кто"), "Tab\there", "Number"}, {2, 0});
    choices.Remember({"x", "y"}, {0, 1});
    choices.Remember({"x", "y"}, {1, 0});  // asked again: the later answer counts
    ASSERT_TRUE(choices.Save(path_));
    EXPECT_EQ(*files::ReadAll(path_), "3\t1\tКто\tTab here\tNumber\n2\t1\tx\ty\n");
    const auto loaded = ColumnChoices::Load(path_);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Find({Cp("кто"), "Tab here", "number"}), (ColumnChoice{2, 0}));
    EXPECT_EQ(loaded->Find({"x", "y"}), (ColumnChoice{1, 0}));
    EXPECT_FALSE(loaded->Find({"x", "y", "z"}));
}

TEST_F(ColumnChoicesFile, LinesThatAreNoChoiceAreKeptAndNotBelieved) {
    const std::string kept = "a note\n1\t1\tsame\tcolumn\n3\t1\tout\tof range\n0\t1\ta\tb\n";
    ASSERT_TRUE(files::SaveDurably(path_, kept));
    auto loaded = ColumnChoices::Load(path_);
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(loaded->Find({"same", "column"}));
    EXPECT_FALSE(loaded->Find({"out", "of range"}));
    EXPECT_FALSE(loaded->Find({"a", "b"}));
    loaded->Remember({"a", "b"}, {1, 0});
    ASSERT_TRUE(loaded->Save(path_));
    EXPECT_EQ(*files::ReadAll(path_), kept + "2\t1\ta\tb\n");
}

TEST_F(ColumnChoicesFile, AnUnreadableFileIsAnError) {
    ASSERT_TRUE(std::filesystem::create_directory(path_));
    EXPECT_FALSE(ColumnChoices::Load(path_));
}

}  // namespace
}  // namespace velka::contact_files
