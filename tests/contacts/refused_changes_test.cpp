// What the contact book reports, and leaves stored, when the registry refuses a change.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contacts/contact_book.h"
#include "tests/support/registry_refusal.h"
#include "tests/support/temp_dir.h"

namespace velka::contacts {
namespace {

using ::testing::HasSubstr;
using testing::RegistryRefusal;

class RefusedChangesTest : public ::testing::Test {
  protected:
    RefusedChangesTest() { EXPECT_TRUE(book_.WriteContact(anna_)); }

    void Refuse(RegistryRefusal refusal) {
        testing::RefuseRegistryChanges(dir_.File("registry.db"), refusal);
    }
    std::vector<Contact> Stored() { return book_.FullListing().rows; }
    static void ExpectRefusal(const RegistryStatus& status) {
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().failure, RegistryFailure::StoreFailed);
        EXPECT_THAT(status.error().message, HasSubstr(testing::kRefusalReason));
    }

    testing::TempDir dir_;
    Registry registry_{dir_.File("registry.db")};
    ContactBook book_{registry_};
    const Contact anna_{"Anna", "1", "Work"};
    const Contact boris_{"Boris", "2", "Home"};
};

TEST_F(RefusedChangesTest, ARefusedWriteGivesTheReasonAndStoresNothing) {
    Refuse(RegistryRefusal::EveryChange);
    ExpectRefusal(book_.WriteContact(boris_));
    EXPECT_EQ(Stored(), std::vector<Contact>{anna_});
}

TEST_F(RefusedChangesTest, AMoveWhoseWriteIsRefusedKeepsTheOldContact) {
    Refuse(RegistryRefusal::EveryChange);
    const ContactMove move = book_.MoveContact(anna_, boris_);
    ExpectRefusal(move.written);
    EXPECT_EQ(Stored(), std::vector<Contact>{anna_});
}

TEST_F(RefusedChangesTest, AMoveWhoseDeleteIsRefusedKeepsBothContacts) {
    Refuse(RegistryRefusal::Deletions);
    const ContactMove move = book_.MoveContact(anna_, boris_);
    EXPECT_TRUE(move.written);
    ExpectRefusal(move.old_deleted);
    EXPECT_EQ(Stored(), (std::vector<Contact>{boris_, anna_}));
}

// Old and new are one value here (group names ignore letter case): deleting the
// old one after the write would delete the new one.
TEST_F(RefusedChangesTest, AMoveWithinOneValueOnlyWritesIt) {
    Refuse(RegistryRefusal::Deletions);
    const ContactMove move = book_.MoveContact(anna_, {"Anna K", "1", "WORK"});
    EXPECT_TRUE(move.written);
    EXPECT_TRUE(move.old_deleted);
    EXPECT_EQ(Stored(), (std::vector<Contact>{{"Anna K", "1", "Work"}}));
}

TEST_F(RefusedChangesTest, ARefusedDeleteGivesTheReasonAndKeepsTheContact) {
    Refuse(RegistryRefusal::Deletions);
    ExpectRefusal(book_.DeleteContact(anna_.group, anna_.number));
    EXPECT_EQ(Stored(), std::vector<Contact>{anna_});
}

}  // namespace
}  // namespace velka::contacts
