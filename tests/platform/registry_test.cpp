#include "platform/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/support/temp_dir.h"

namespace velka {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Windows-1251 text from a UTF-8 literal of this source file.
std::string W(const char* utf8) {
    return codepage::FromUtf8(utf8);
}

const std::string kContacts = "\\SOFTWARE\\Velka\\ZEDOzadev\\Contacts";

std::vector<std::string> ValueNames(Registry& registry, const std::string& path) {
    std::vector<std::string> names;
    const auto values = registry.Values(path);
    for (const auto& value : values.value()) names.push_back(value.name);
    return names;
}

class RegistryTest : public ::testing::Test {
  protected:
    velka::testing::TempDir dir_;
    std::string file_ = dir_.File("registry.db");
    Registry registry_{file_};
};

TEST_F(RegistryTest, GroupNamesDifferingOnlyInCaseAreOneKey) {
    ASSERT_TRUE(registry_.CreateKey(kContacts + "\\" + W("Друзья")).ok());
    ASSERT_TRUE(registry_.CreateKey(kContacts + "\\" + W("дРУЗЬЯ")).ok());
    ASSERT_TRUE(
        registry_.WriteString(kContacts + "\\" + W("ДРУЗЬЯ"), "+79161234567", W("Иван")).ok());
    ASSERT_TRUE(registry_.CreateKey(kContacts + "\\" + W("Ёлка Їжак")).ok());

    EXPECT_THAT(registry_.SubKeys(kContacts).value(), ElementsAre(W("Ёлка Їжак"), W("Друзья")));
    EXPECT_TRUE(registry_.KeyExists(kContacts + "\\" + W("ёЛКА їЖАК")));
    EXPECT_EQ(
        registry_.ReadString("software\\VELKA\\zedozadev\\CONTACTS\\" + W("друзья"), "+79161234567")
            .value(),
        W("Иван"));
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    const std::string key = kContacts + "\\" + W("Работа");
    ASSERT_TRUE(registry_.WriteString(key, W("Имя"), "1").ok());
    ASSERT_TRUE(registry_.WriteString(key, W("иМЯ"), "2").ok());
    ASSERT_TRUE(registry_.WriteDWord("\\SOFTWARE\\Velka\\ZEDOzadev", "MessageRef", 7).ok());

    EXPECT_THAT(ValueNames(registry_, key), ElementsAre(W("Имя")));
    EXPECT_EQ(registry_.ReadString(key, W("ИМЯ")).value(), "2");
    EXPECT_EQ(registry_.ReadDWord("\\software\\velka\\zedozadev", "MESSAGEREF").value(), 7u);
    EXPECT_THAT(registry_.SubKeys("\\SOFTWARE\\Velka\\ZEDOzadev").value(), ElementsAre("Contacts"));
}

TEST_F(RegistryTest, ABatchWriteStoresEveryValueAsSingleWritesWould) {
    const std::string key = kContacts + "\\" + W("Новая");
    ASSERT_TRUE(registry_.WriteString(kContacts + "\\" + W("новая"), "2", "old").ok());
    const Registry::BatchWrite batch =
        registry_.WriteStrings(key, {{"1", W("Анна")}, {"2", W("Борис")}, {"3", "C"}, {"1", "A"}});
    ASSERT_TRUE(batch.status.ok());
    EXPECT_EQ(batch.written, 4u);
    // One value per name (the order is the system's on Windows); the last write wins.
    EXPECT_THAT(ValueNames(registry_, key), ::testing::UnorderedElementsAre("1", "2", "3"));
    EXPECT_EQ(registry_.ReadString(key, "2").value(), W("Борис"));
    EXPECT_EQ(registry_.ReadString(key, "1").value(), "A");
    const Registry::BatchWrite refused = registry_.WriteStrings("A\\\\B", {{"1", "x"}});
    EXPECT_FALSE(refused.status.ok());
    EXPECT_EQ(refused.written, 0u);
}

// As on Windows: the order of the upper-cased characters' Unicode values, so Latin
// before Cyrillic and "Ё" (U+0401) before "А" (U+0410).
TEST_F(RegistryTest, SubKeysEnumerateInNameOrderIgnoringCase) {
    for (const char* name : {"b", "Я", "C", "а", "Ёж", "A2", "a1", "е"}) {
        ASSERT_TRUE(registry_.CreateKey("\\Order\\" + W(name)).ok());
    }
    EXPECT_THAT(registry_.SubKeys("\\Order").value(),
                ElementsAre("a1", "A2", "b", "C", W("Ёж"), W("а"), W("е"), W("Я")));
}

TEST_F(RegistryTest, AValueOfTheOtherTypeIsReportedAsWrongType) {
    ASSERT_TRUE(registry_.WriteDWord("\\K", "Number", 42).ok());
    ASSERT_TRUE(registry_.WriteString("\\K", "Text", "42").ok());

    const auto as_string = registry_.ReadString("\\K", "Number");
    ASSERT_FALSE(as_string.ok());
    EXPECT_EQ(as_string.error().failure, RegistryFailure::WrongType);
    EXPECT_THAT(as_string.error().message, HasSubstr("Number"));
    const auto as_dword = registry_.ReadDWord("\\K", "Text");
    ASSERT_FALSE(as_dword.ok());
    EXPECT_EQ(as_dword.error().failure, RegistryFailure::WrongType);

    ASSERT_TRUE(registry_.WriteString("\\K", "Number", "now text").ok());
    EXPECT_EQ(registry_.ReadString("\\K", "Number").value(), "now text");
}

TEST_F(RegistryTest, DataRoundTripsEveryCodePageByteAndTheWholeDWordRange) {
    std::string every_byte;
    for (int byte = 1; byte < 256; ++byte) every_byte += static_cast<char>(byte);
    ASSERT_TRUE(registry_.WriteString("\\K", every_byte, every_byte).ok());
    ASSERT_TRUE(registry_.WriteDWord("\\K", "max", 0xFFFFFFFFu).ok());
    ASSERT_TRUE(registry_.WriteString("\\K", "empty", "").ok());

    Registry reopened(file_);
    EXPECT_EQ(reopened.ReadString("\\K", every_byte).value(), every_byte);
    EXPECT_EQ(reopened.ReadDWord("\\K", "max").value(), 0xFFFFFFFFu);
    EXPECT_EQ(reopened.ReadString("\\K", "empty").value(), "");
}

TEST_F(RegistryTest, DeletingAKeyRemovesEverythingUnderItAndNothingElse) {
    const std::string group = kContacts + "\\" + W("Семья");
    ASSERT_TRUE(registry_.WriteString(group, "+7001", "a").ok());
    ASSERT_TRUE(registry_.WriteString(group + "\\Deep\\Deeper", "v", "b").ok());
    ASSERT_TRUE(registry_.WriteDWord(group + "\\Deep", "n", 1).ok());
    ASSERT_TRUE(registry_.WriteString(kContacts + "\\" + W("Семьи"), "+7002", "kept").ok());

    ASSERT_TRUE(registry_.DeleteKey(kContacts + "\\" + W("СЕМЬЯ")).ok());

    EXPECT_FALSE(registry_.KeyExists(group));
    EXPECT_FALSE(registry_.KeyExists(group + "\\Deep\\Deeper"));
    EXPECT_THAT(registry_.SubKeys(kContacts).value(), ElementsAre(W("Семьи")));
    EXPECT_EQ(registry_.ReadString(kContacts + "\\" + W("Семьи"), "+7002").value(), "kept");
    // A key made again under the old name starts empty.
    ASSERT_TRUE(registry_.CreateKey(group + "\\Deep").ok());
    EXPECT_TRUE(registry_.Values(group + "\\Deep").value().empty());
    EXPECT_TRUE(registry_.Values(group).value().empty());
}

TEST_F(RegistryTest, MissingKeysAndValuesAreReportedAsSuch) {
    ASSERT_TRUE(registry_.CreateKey("\\A").ok());
    const auto failure_of = [](const auto& result) { return result.error().failure; };

    EXPECT_EQ(failure_of(registry_.ReadString("\\A\\B", "x")), RegistryFailure::KeyNotFound);
    EXPECT_EQ(failure_of(registry_.ReadDWord("\\A", "x")), RegistryFailure::ValueNotFound);
    EXPECT_EQ(failure_of(registry_.SubKeys("\\Nowhere")), RegistryFailure::KeyNotFound);
    EXPECT_EQ(failure_of(registry_.Values("\\Nowhere")), RegistryFailure::KeyNotFound);
    EXPECT_EQ(failure_of(registry_.DeleteKey("\\Nowhere")), RegistryFailure::KeyNotFound);
    EXPECT_EQ(failure_of(registry_.DeleteValue("\\A", "x")), RegistryFailure::ValueNotFound);
    EXPECT_EQ(failure_of(registry_.DeleteValue("\\Nowhere", "x")), RegistryFailure::KeyNotFound);
    EXPECT_FALSE(registry_.KeyExists("\\A\\B"));
    EXPECT_THAT(registry_.ReadString("\\A\\B", "x").error().message, HasSubstr("A\\B"));
}

TEST_F(RegistryTest, EmptyNamesInPathsAndTheRootAreRefused) {
    const auto failure_of = [](const auto& result) { return result.error().failure; };
    EXPECT_EQ(failure_of(registry_.CreateKey("\\A\\\\B")), RegistryFailure::InvalidName);
    EXPECT_EQ(failure_of(registry_.CreateKey("A\\")), RegistryFailure::InvalidName);
    EXPECT_EQ(failure_of(registry_.CreateKey("")), RegistryFailure::InvalidName);
    EXPECT_EQ(failure_of(registry_.DeleteKey("\\")), RegistryFailure::InvalidName);
    EXPECT_EQ(failure_of(registry_.WriteString("\\A\\\\B", "v", "x")),
              RegistryFailure::InvalidName);
    EXPECT_FALSE(registry_.KeyExists("\\A"));
    // The root itself can be listed.
    ASSERT_TRUE(registry_.CreateKey("SOFTWARE").ok());
    EXPECT_THAT(registry_.SubKeys("").value(), ElementsAre("SOFTWARE"));
}

}  // namespace
}  // namespace velka
