#include "contacts/contact_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/support/temp_dir.h"

namespace velka::contacts {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

std::string GroupKey(const std::string& group) {
    return std::string(kContactKey) + "\\" + group;
}

class ContactBookTest : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    Registry registry_{dir_.File("registry.db")};
    ContactBook book_{registry_};

    void Write(const std::string& group, const std::string& number, const std::string& name) {
        ASSERT_TRUE(book_.WriteContact({name, number, group}));
    }
    std::vector<Contact> Full() {
        Listing listing = book_.FullListing();
        EXPECT_FALSE(listing.error);
        return listing.rows;
    }
    std::vector<Contact> Filtered(std::string_view name, std::string_view group) {
        Listing listing = book_.FilteredListing(name, group);
        EXPECT_FALSE(listing.error);
        return listing.rows;
    }
};

TEST_F(ContactBookTest, WithoutAContactKeyEveryListingIsEmpty) {
    EXPECT_TRUE(book_.GroupNames().empty());
    EXPECT_TRUE(Full().empty());
    EXPECT_TRUE(Filtered("a", "").empty());
    EXPECT_TRUE(Filtered("", "work").empty());
    EXPECT_FALSE(registry_.KeyExists(kContactKey));
}

TEST_F(ContactBookTest, FullListingShowsNameNumberAndGroupOfEveryContact) {
    Write("Work", "+7900111", W("Иван"));
    Write("Work", "+7900222", "Anna");
    Write("Family", "+7900111", W("Мама"));  // the same number in another group
    const std::vector<Contact> expected = {{W("Мама"), "+7900111", "Family"},
                                           {W("Иван"), "+7900111", "Work"},
                                           {"Anna", "+7900222", "Work"}};
    EXPECT_EQ(Full(), expected);
    EXPECT_EQ(book_.GroupNames(), (std::vector<std::string>{"Family", "Work"}));
}

TEST_F(ContactBookTest, WritingTheSameNumberInTheSameGroupReplacesTheName) {
    Write("Work", "123", "Old");
    Write("WORK", "123", "New");  // group names ignore letter case
    EXPECT_EQ(Full(), (std::vector<Contact>{{"New", "123", "Work"}}));
}

TEST_F(ContactBookTest, AnEmptiedGroupIsOfferedUntilTheNextFullListing) {
    Write("Old", "1", "A");
    Write("Kept", "2", "B");
    ASSERT_TRUE(book_.DeleteContact("Old", "1"));
    EXPECT_TRUE(registry_.KeyExists(GroupKey("Old")));
    EXPECT_EQ(book_.GroupNames(), (std::vector<std::string>{"Kept", "Old"}));

    EXPECT_EQ(Full(), (std::vector<Contact>{{"B", "2", "Kept"}}));
    EXPECT_EQ(book_.GroupNames(), (std::vector<std::string>{"Kept"}));
}

TEST_F(ContactBookTest, DeletingFromAMissingGroupSucceedsAndLeavesAnEmptyGroupKey) {
    EXPECT_TRUE(book_.DeleteContact("Nobody", "1"));
    EXPECT_TRUE(registry_.KeyExists(GroupKey("Nobody")));
    EXPECT_TRUE(Full().empty());
    EXPECT_FALSE(registry_.KeyExists(GroupKey("Nobody")));
}

TEST_F(ContactBookTest, ANameSearchIsAPrefixTestIgnoringLetterCase) {
    Write("Work", "1", W("Ёжиков Пётр"));
    Write("Work", "2", "Anna Smith");
    Write("Home", "3", W("Юлия"));
    EXPECT_EQ(Filtered(W("ёЖИК"), ""), (std::vector<Contact>{{W("Ёжиков Пётр"), "1", "Work"}}));
    EXPECT_EQ(Filtered("aNNA s", ""), (std::vector<Contact>{{"Anna Smith", "2", "Work"}}));
    EXPECT_TRUE(Filtered("Smith", "").empty());        // not at the start
    EXPECT_TRUE(Filtered("Anna Smiths", "").empty());  // longer than the name
    EXPECT_EQ(Filtered(W("ю"), "").size(), 1u);
}

TEST_F(ContactBookTest, AGroupSearchShowsTheGroupAsTyped) {
    Write("Work", "1", "Anna");
    Write("Work", "2", "Boris");
    Write("Home", "3", "Anton");
    EXPECT_EQ(Filtered("", "wORK"),
              (std::vector<Contact>{{"Anna", "1", "wORK"}, {"Boris", "2", "wORK"}}));
    EXPECT_EQ(Filtered("an", "work"), (std::vector<Contact>{{"Anna", "1", "work"}}));
    EXPECT_TRUE(Filtered("", "Nowhere").empty());
}

TEST_F(ContactBookTest, OnlyListingsOverEveryGroupDeleteEmptyGroups) {
    Write("Gone", "1", "A");
    ASSERT_TRUE(book_.DeleteContact("Gone", "1"));
    EXPECT_TRUE(Filtered("", "Gone").empty());
    EXPECT_TRUE(Filtered("x", "Gone").empty());
    EXPECT_TRUE(registry_.KeyExists(GroupKey("Gone")));
    EXPECT_TRUE(Filtered("x", "").empty());
    EXPECT_FALSE(registry_.KeyExists(GroupKey("Gone")));
}

TEST_F(ContactBookTest, AValueThatIsNotAStringStopsTheListingWithAMessage) {
    Write("A", "1", "First");
    ASSERT_TRUE(registry_.WriteDWord(GroupKey("B"), "777", 5));
    Write("C", "3", "Never listed");
    Listing listing = book_.FullListing();
    EXPECT_EQ(listing.rows, (std::vector<Contact>{{"First", "1", "A"}}));
    EXPECT_EQ(listing.error, "Invalid data type for '777'");
}

TEST_F(ContactBookTest, AGroupNameWithABackslashIsNeverWrittenNorDeletedFrom) {
    for (const char* group : {"Work\\Sub", ""}) {
        const RegistryStatus written = book_.WriteContact({"Name", "1", group});
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().failure, RegistryFailure::InvalidName);
        EXPECT_FALSE(book_.DeleteContact(group, "1"));
    }
    EXPECT_FALSE(registry_.KeyExists(kContactKey));
}

TEST_F(ContactBookTest, MovingAContactStoresTheNewOneAndDeletesTheOld) {
    Write("Work", "1", "Anna");
    Write("Work", "2", "Boris");
    const ContactMove move = book_.MoveContact({"Anna", "1", "Work"}, {"Anna K", "3", "Home"});
    EXPECT_TRUE(move.written);
    EXPECT_TRUE(move.old_deleted);
    EXPECT_EQ(Full(), (std::vector<Contact>{{"Anna K", "3", "Home"}, {"Boris", "2", "Work"}}));
}

// The same value rewritten in place keeps its place among the group's values.
TEST_F(ContactBookTest, MovingAContactOntoItsOwnValueKeepsOneValueInItsPlace) {
    Write(W("нет"), "1", "Anna");
    Write(W("нет"), "2", "Boris");
    const ContactMove move = book_.MoveContact({"Anna", "1", W("нет")}, {"Anna K", "1", W("Нет")});
    EXPECT_TRUE(move.written);
    EXPECT_TRUE(move.old_deleted);
    EXPECT_EQ(Full(), (std::vector<Contact>{{"Anna K", "1", W("нет")}, {"Boris", "2", W("нет")}}));
}

TEST(IsSameStoredContact, ComparesGroupAndNumberIgnoringCaseButNotTheName) {
    EXPECT_TRUE(IsSameStoredContact({"A", "1", W("Нет")}, {"B", "1", W("нет")}));
    EXPECT_FALSE(IsSameStoredContact({"A", "1", "g"}, {"A", "2", "g"}));
    EXPECT_FALSE(IsSameStoredContact({"A", "1", "g"}, {"A", "1", "h"}));
}

TEST_F(ContactBookTest, AGroupKeyWithKeysBelowItIsNotDeletedAsEmpty) {
    // Nested keys as an older version left them for the group name "Work\Sub".
    ASSERT_TRUE(registry_.WriteString(GroupKey("Work") + "\\Sub", "1", "Hidden"));
    EXPECT_TRUE(Full().empty());
    EXPECT_EQ(*registry_.ReadString(GroupKey("Work") + "\\Sub", "1"), "Hidden");
}

TEST(NameMatches, ComparesLatinAndCyrillicIgnoringCase) {
    EXPECT_TRUE(NameMatches("Anna", ""));
    EXPECT_TRUE(NameMatches(W("Щука"), W("щУ")));
    EXPECT_TRUE(NameMatches(W("їжак"), W("Ї")));  // Ukrainian letters
    EXPECT_FALSE(NameMatches("An", "Ann"));
    EXPECT_FALSE(NameMatches(W("Ель"), W("Ёль")));  // Ё is its own letter
}

}  // namespace
}  // namespace velka::contacts
