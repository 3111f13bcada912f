// An import the registry refuses part-way: it stops there, keeps what it wrote
// whole and says how much that was and why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contact_files/contact_import.h"
#include "platform/codepage.h"
#include "tests/support/registry_refusal.h"
#include "tests/support/temp_dir.h"

namespace velka::contact_files {
namespace {

using contacts::Contact;
using ::testing::HasSubstr;

TEST(RefusedImport, StopsAtTheRefusedGroupAndReportsWhatWasWritten) {
    testing::TempDir dir;
    Registry registry(dir.File("registry.db"));
    contacts::ContactBook book(registry);
    ASSERT_TRUE(book.WriteContact({"Old", "9", "Work"}));
    // The Work key exists; a new group's key is refused.
    testing::RefuseRegistryChanges(dir.File("registry.db"), testing::RegistryRefusal::NewKeys);

    const std::string csv = "name,number,group\nA,1,Work\nB,2,Home\nC,3,Work\nD,4,Friends\n";
    const ImportReport report =
        ApplyImport(PlanImport(ParseContactFile(ContactFormat::Csv, csv), "", book),
                    ExistingNumber::Skip, book);

    EXPECT_EQ(report.imported, 2u);
    EXPECT_EQ(report.not_written, 2u);
    ASSERT_TRUE(report.stopped);
    EXPECT_THAT(*report.stopped, HasSubstr(testing::kRefusalReason));
    const std::string summary = ReportSummary(report);
    EXPECT_THAT(summary, HasSubstr(codepage::FromUtf8("Записано до остановки: 2, не записано: 2")));
    EXPECT_EQ(book.FullListing().rows,
              (std::vector<Contact>{{"Old", "9", "Work"}, {"A", "1", "Work"}, {"C", "3", "Work"}}));
}

TEST(RefusedImport, ARefusedGroupWritesNoneOfItsContacts) {
    testing::TempDir dir;
    Registry registry(dir.File("registry.db"));
    contacts::ContactBook book(registry);
    ASSERT_TRUE(book.WriteContact({"Old", "9", "Work"}));
    testing::RefuseRegistryChanges(dir.File("registry.db"), testing::RegistryRefusal::EveryChange);

    const std::string csv = "name,number,group\nA,1,Work\nB,2,Work\n";
    const ImportReport report =
        ApplyImport(PlanImport(ParseContactFile(ContactFormat::Csv, csv), "", book),
                    ExistingNumber::Skip, book);
    EXPECT_EQ(report.imported, 0u);
    EXPECT_EQ(report.not_written, 2u);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(book.FullListing().rows, (std::vector<Contact>{{"Old", "9", "Work"}}));
}

}  // namespace
}  // namespace velka::contact_files
