// Importing contact files into the book and exporting the book, against a registry
// stand-in of the test's own.
#include "contact_files/contact_import.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "contact_files/contact_file.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/contact_files/parsed_rows.h"
#include "tests/support/temp_dir.h"

namespace velka::contact_files {
namespace {

using parsed_rows::Contacts;
using parsed_rows::Cp;

using contacts::Contact;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;

class ContactImport : public ::testing::Test {
  protected:
    std::vector<Contact> Stored(contacts::ContactBook& book) { return book.FullListing().rows; }
    ImportReport Import(ContactFormat format, const std::string& text,
                        ExistingNumber existing = ExistingNumber::Skip, std::string group = {}) {
        const ImportPlan plan = PlanImport(ParseContactFile(format, text), group, book_);
        EXPECT_FALSE(plan.error);
        return ApplyImport(plan, existing, book_);
    }

    testing::TempDir dir_;
    Registry registry_{dir_.File("registry.db")};
    contacts::ContactBook book_{registry_};
};

TEST_F(ContactImport, AVCardExportedAndImportedIntoAnEmptyBookGivesTheSameBook) {
    const std::vector<Contact> book = {
        {Cp("Иванов, Пётр; мл."), "+79123456789", Cp("Работа")},
        {Cp("Иванов, Пётр; мл."), "84951234567", Cp("Работа")},
        {Cp("Анна \"Ёлка\" \\ Щ"), "+79001112233", Cp("Друзья, близкие")},
        {"John Smith", "123", "Work; abroad"},
        {Cp(std::string(40, 'x') + "Длинное имя, которое сложится в несколько строк"), "5",
         Cp("нет")},
    };
    for (const Contact& contact : book) ASSERT_TRUE(book_.WriteContact(contact));
    for (const ContactFormat format : {ContactFormat::VCard, ContactFormat::Csv}) {
        const std::string name = format == ContactFormat::Csv ? "book.csv" : "book.vcf";
        const std::string file = dir_.File(name);
        ASSERT_TRUE(ExportContacts(book_, "", format, file));
        const auto text = files::ReadAll(file);
        ASSERT_TRUE(text);

        Registry empty_registry(dir_.File(name + ".db"));
        contacts::ContactBook empty(empty_registry);
        const ImportPlan plan = PlanImport(ParseContactFile(format, *text), "", empty);
        ASSERT_FALSE(plan.error);
        const ImportReport report = ApplyImport(plan, ExistingNumber::Skip, empty);
        EXPECT_EQ(report.imported, book.size());
        EXPECT_TRUE(report.bad.empty() && report.skipped.empty() && !report.stopped);
        EXPECT_THAT(Stored(empty), UnorderedElementsAreArray(Stored(book_))) << file;
    }
}

TEST_F(ContactImport, ExportsOneGroupOnly) {
    ASSERT_TRUE(book_.WriteContact({"A", "1", "Work"}));
    ASSERT_TRUE(book_.WriteContact({"B", "2", "Home"}));
    const std::string file = dir_.File("work.csv");
    ASSERT_TRUE(ExportContacts(book_, "Work", ContactFormat::Csv, file));
    EXPECT_EQ(*files::ReadAll(file), "name,number,group\r\nA,1,Work\r\n");
}

TEST_F(ContactImport, AnUnwritablePathIsToldWithItsName) {
    const std::string file = dir_.File("missing-folder/book.vcf");
    const auto saved = ExportContacts(book_, "", ContactFormat::VCard, file);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().source, ExportError::Source::File);
    EXPECT_THAT(saved.error().message, HasSubstr("missing-folder"));
}

TEST_F(ContactImport, ANumberTheGroupHoldsIsSkippedOrUpdatedAsChosen) {
    const std::string csv = "name,number,group\nAnna K,1,Work\nBoris,2,work\nCyril,3,Home\n";
    for (const ExistingNumber existing : {ExistingNumber::Skip, ExistingNumber::Update}) {
        const bool update = existing == ExistingNumber::Update;
        SCOPED_TRACE(update ? "update" : "skip");
        Registry registry(dir_.File(update ? "update.db" : "skip.db"));
        contacts::ContactBook book(registry);
        ASSERT_TRUE(book.WriteContact({"Anna", "1", "Work"}));
        ASSERT_TRUE(book.WriteContact({"Boris", "2", "Work"}));
        ASSERT_TRUE(book.WriteContact({"Cyril", "3", "Other"}));

        const ImportPlan plan = PlanImport(ParseContactFile(ContactFormat::Csv, csv), "", book);
        EXPECT_TRUE(plan.HasOtherNames());
        const ImportReport report = ApplyImport(plan, existing, book);

        EXPECT_EQ(report.imported, 1u);  // Cyril of Home: the same number in another group
        EXPECT_EQ(report.updated, update ? 1u : 0u);
        ASSERT_EQ(report.skipped.size(), update ? 1u : 2u);
        EXPECT_EQ(report.skipped.back().where, Cp("Строка 3"));  // Boris, already so
        EXPECT_THAT(Stored(book), UnorderedElementsAreArray(std::vector<Contact>{
                                      {update ? "Anna K" : "Anna", "1", "Work"},
                                      {"Boris", "2", "Work"},
                                      {"Cyril", "3", "Other"},
                                      {"Cyril", "3", "Home"}}));
    }
}

// A number stored in another group under another name is asked about too, with
// the group and name stored; writing it adds the file's contact to its own group.
TEST_F(ContactImport, ANumberAnotherGroupHoldsUnderAnotherNameIsAskedAbout) {
    const std::string csv = "name,number,group\nIvan Ivanov,1,Friends\nPetr,2,Friends\n";
    for (const ExistingNumber existing : {ExistingNumber::Skip, ExistingNumber::Update}) {
        const bool update = existing == ExistingNumber::Update;
        SCOPED_TRACE(update ? "update" : "skip");
        Registry registry(dir_.File(update ? "update.db" : "skip.db"));
        contacts::ContactBook book(registry);
        ASSERT_TRUE(book.WriteContact({"Ivanov", "1", "Work"}));
        ASSERT_TRUE(book.WriteContact({"Petr", "2", "Work"}));  // the same name: no question

        const ImportPlan plan = PlanImport(ParseContactFile(ContactFormat::Csv, csv), "", book);
        ASSERT_TRUE(plan.HasOtherNames());
        EXPECT_EQ(OtherNamesList(plan, 10),
                  Cp("1: \"Ivanov\" в группе \"Work\", в файле \"Ivan Ivanov\"\n"));
        const ImportReport report = ApplyImport(plan, existing, book);

        EXPECT_EQ(report.imported, update ? 2u : 1u);
        EXPECT_EQ(report.updated, 0u);
        if (!update) {
            ASSERT_EQ(report.skipped.size(), 1u);
            EXPECT_EQ(report.skipped[0].reason,
                      Cp("номер 1 уже есть в группе \"Work\" под именем \"Ivanov\""));
        }
        std::vector<Contact> expected = {
            {"Ivanov", "1", "Work"}, {"Petr", "2", "Work"}, {"Petr", "2", "Friends"}};
        if (update) expected.push_back({"Ivan Ivanov", "1", "Friends"});
        EXPECT_THAT(Stored(book), UnorderedElementsAreArray(expected));
    }
}

TEST_F(ContactImport, TheListOfOtherNamesShowsTheFirstFewAndCountsTheRest) {
    for (const char* number : {"1", "2", "3"})
        ASSERT_TRUE(book_.WriteContact({"Old", number, "G"}));
    const ImportPlan plan =
        PlanImport(ParseContactFile(ContactFormat::Csv, "name,number,group\nA,1,G\nB,2,G\nC,3,H\n"),
                   "", book_);
    EXPECT_EQ(OtherNamesList(plan, 2), Cp("1: \"Old\" в группе \"G\", в файле \"A\"\n"
                                          "2: \"Old\" в группе \"G\", в файле \"B\"\n"
                                          "и ещё 1\n"));
}

TEST_F(ContactImport, ANumberRepeatedInTheFileCountsAgainstItsFirstRow) {
    const std::string csv = "name,number,group\nFirst,1,G\nSecond,1,G\n";
    EXPECT_EQ(Import(ContactFormat::Csv, csv, ExistingNumber::Skip).skipped.size(), 1u);
    EXPECT_EQ(Stored(book_), (std::vector<Contact>{{"First", "1", "G"}}));
    const ImportReport report = Import(ContactFormat::Csv, csv, ExistingNumber::Update);
    EXPECT_EQ(report.updated, 1u);  // Second replaces First; First itself is already so
    EXPECT_EQ(Stored(book_), (std::vector<Contact>{{"Second", "1", "G"}}));
}

TEST_F(ContactImport, RowsBreakingTheContactRulesAreNamedAndTheOthersImported) {
    const std::string csv =
        "name,number,group\n"
        "Good,1,G\n"
        "Letters,12a,G\n"
        ",2,G\n"
        "Slash,3,A\\B\n"
        "NoGroup,4,\n";
    const ImportReport report = Import(ContactFormat::Csv, csv, ExistingNumber::Skip, "Picked");
    EXPECT_EQ(report.imported, 2u);
    ASSERT_EQ(report.bad.size(), 3u);
    EXPECT_EQ(report.bad[0].where, Cp("Строка 3"));
    EXPECT_THAT(report.bad[0].reason, HasSubstr("12a"));
    EXPECT_EQ(report.bad[1].where, Cp("Строка 4"));
    EXPECT_EQ(report.bad[2].where, Cp("Строка 5"));
    EXPECT_THAT(Stored(book_), UnorderedElementsAreArray(std::vector<Contact>{
                                   {"Good", "1", "G"}, {"NoGroup", "4", "Picked"}}));
    const std::string details = ReportDetails(report);
    EXPECT_THAT(details, HasSubstr(Cp("Строка 3: ")));
    EXPECT_THAT(ReportSummary(report), HasSubstr(Cp("С ошибками: 3")));
}

TEST_F(ContactImport, ACardWithoutAGroupGoesToTheDefaultGroupWhenNoneIsPicked) {
    Import(ContactFormat::VCard, "BEGIN:VCARD\nFN:A\nTEL:1\nEND:VCARD\n");
    EXPECT_EQ(Stored(book_), (std::vector<Contact>{{"A", "1", Cp("нет")}}));
    EXPECT_TRUE(NeedsGroup(
        ParseContactFile(ContactFormat::VCard, "BEGIN:VCARD\nFN:A\nTEL:1\nEND:VCARD\n")));
}

}  // namespace
}  // namespace velka::contact_files
