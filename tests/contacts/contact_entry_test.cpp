#include "contacts/contact_entry.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace velka::contacts {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

TEST(CheckEntry, ANumberTakesDigitsAndPlusSignsAnywhere) {
    EXPECT_FALSE(CheckEntry({"A", "+7900+12+", "g"}));
    EXPECT_FALSE(CheckEntry({"A", "0123456789", ""}));
    EXPECT_EQ(CheckEntry({"A", "7900 12", "g"}), EntryProblem::InvalidNumber);
    EXPECT_EQ(CheckEntry({"A", "7900-12", "g"}), EntryProblem::InvalidNumber);
    EXPECT_EQ(CheckEntry({"A", W("7900я"), "g"}), EntryProblem::InvalidNumber);
}

TEST(CheckEntry, TheCharactersAreCheckedBeforeEmptiness) {
    EXPECT_EQ(CheckEntry({"", "12a", "g"}), EntryProblem::InvalidNumber);
    EXPECT_EQ(CheckEntry({"", "123", "g"}), EntryProblem::EmptyFields);
    EXPECT_EQ(CheckEntry({"A", "", "g"}), EntryProblem::EmptyFields);
}

TEST(CheckEntry, AGroupNameWithABackslashIsRefused) {
    EXPECT_EQ(CheckEntry({"A", "1", "Work\\Sub"}), EntryProblem::GroupWithBackslash);
    EXPECT_EQ(CheckEntry({"", "1", "Work\\Sub"}), EntryProblem::EmptyFields);
}

TEST(EntryTexts, AreTheWindowsOwn) {
    EXPECT_EQ(ProblemMessage(EntryProblem::InvalidNumber), W("Номер телефона задан неверно!"));
    EXPECT_EQ(ProblemMessage(EntryProblem::EmptyFields),
              W("Поля \"имя абонента\" и \"номер телефона\" не должны быть пустыми"));
    EXPECT_EQ(RemovalQuestion(W("Иван")), W("Удалить запись \"Иван\" из списка контактов"));
    EXPECT_EQ(GroupOrDefault("", EntryMode::Add), W("нет"));
    EXPECT_EQ(GroupOrDefault("", EntryMode::Edit), W("Нет"));
    EXPECT_EQ(GroupOrDefault("Work", EntryMode::Edit), "Work");
}

}  // namespace
}  // namespace velka::contacts
