#include <QDialog>

#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/support/box_held.h"
#include "tests/support/registry_refusal.h"

namespace velka::gui::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// A form script that types a contact into the contact dialog and presses a button.
ScriptedDialogs::FormScript Type(QString name, QString number, QString group,
                                 int result = QDialog::Accepted) {
    return [=](QDialog& form) {
        form.findChild<QLineEdit*>("NameEdit")->setText(name);
        form.findChild<QLineEdit*>("NumEdit")->setText(number);
        form.findChild<QComboBox*>("GroupSelect")->setEditText(group);
        return result;
    };
}

class ContactEditing : public MainFormTest {
  protected:
    // The stored contacts as a fresh full listing shows them, in UTF-8.
    Rows Stored() {
        Rows rows;
        for (const contacts::Contact& c : Book().FullListing().rows)
            rows.push_back({codepage::ToUtf8(c.name), c.number, codepage::ToUtf8(c.group)});
        return rows;
    }
    void ExpectOneWarning(const QString& text) {
        ASSERT_EQ(dialogs_.Messages().size(), 1u);
        EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Warning);
        EXPECT_EQ(dialogs_.Messages()[0].text, text);
    }
};

TEST_F(ContactEditing, AddAppendsARowAndStoresIt) {
    AddStored("Work", "1", "Anna");
    QStringList offered;
    QString caption;
    dialogs_.AnswerForm([&](QDialog& form) {
        caption = form.windowTitle();
        auto* groups = form.findChild<QComboBox*>("GroupSelect");
        for (int i = 0; i < groups->count(); ++i) offered << groups->itemText(i);
        return Type("Пётр", "+7900+1", "Друзья")(form);
    });
    Window().actContactAddExecute();
    EXPECT_EQ(caption, "Создать новый");
    EXPECT_EQ(offered, QStringList({"Work"}));
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "Work"}, {"Пётр", "+7900+1", "Друзья"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "Work"}, {"Пётр", "+7900+1", "Друзья"}}));
}

TEST_F(ContactEditing, AddWithAnEmptyGroupUsesLowerCaseNet) {
    dialogs_.AnswerForm(Type("Anna", "1", ""));
    Window().actContactAddExecute();
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "нет"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "нет"}}));
}

TEST_F(ContactEditing, CancellingAddChangesNothing) {
    dialogs_.AnswerForm(Type("Anna", "1", "g", QDialog::Rejected));
    Window().actContactAddExecute();
    EXPECT_TRUE(ContactRows().empty());
    EXPECT_TRUE(Stored().empty());
    EXPECT_TRUE(dialogs_.Messages().empty());
}

struct BadEntry {
    const char* name;
    const char* number;
    const char* group;
    const char* warning;
};

class RefusedAdd : public ContactEditing, public ::testing::WithParamInterface<BadEntry> {};

// After the warning the dialog comes back with the fields as typed, so that nothing
// typed is lost; cancelled then, nothing is stored.
TEST_P(RefusedAdd, WarnsComesBackAsTypedAndStoresNothing) {
    const BadEntry& entry = GetParam();
    dialogs_.AnswerForm(Type(entry.name, entry.number, entry.group));
    dialogs_.AnswerForm([&](QDialog& form) {
        EXPECT_EQ(form.findChild<QLineEdit*>("NameEdit")->text(), QString::fromUtf8(entry.name));
        EXPECT_EQ(form.findChild<QLineEdit*>("NumEdit")->text(), QString::fromUtf8(entry.number));
        EXPECT_EQ(form.findChild<QComboBox*>("GroupSelect")->currentText(),
                  QString::fromUtf8(entry.group));
        return QDialog::Rejected;
    });
    Window().actContactAddExecute();
    ExpectOneWarning(QString::fromUtf8(entry.warning));
    EXPECT_EQ(dialogs_.FormsShown(), 2);
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
    EXPECT_TRUE(ContactRows().empty());
    EXPECT_TRUE(Stored().empty());
}

constexpr char kInvalidNumber[] = "Номер телефона задан неверно!";
constexpr char kEmptyFields[] = "Поля \"имя абонента\" и \"номер телефона\" не должны быть пустыми";
constexpr char kBackslash[] = "Название группы не должно содержать знак \"\\\"";

INSTANTIATE_TEST_SUITE_P(Entries, RefusedAdd,
                         ::testing::Values(BadEntry{"Anna", "+7 900", "g", kInvalidNumber},
                                           BadEntry{"Anna", "7-900", "g", kInvalidNumber},
                                           BadEntry{"", "12a", "g", kInvalidNumber},
                                           BadEntry{"", "123", "g", kEmptyFields},
                                           BadEntry{"Anna", "", "g", kEmptyFields},
                                           BadEntry{"Anna", "123", "Work\\Sub", kBackslash}));

TEST_F(ContactEditing, AddingAStoredNumberToItsGroupReplacesTheName) {
    AddStored("Work", "1", "Old");
    dialogs_.AnswerForm(Type("New", "1", "WORK"));
    Window().actContactAddExecute();
    EXPECT_EQ(ContactRows(), (Rows{{"Old", "1", "Work"}, {"New", "1", "WORK"}}));
    EXPECT_EQ(Stored(), (Rows{{"New", "1", "Work"}}));
}

TEST_F(ContactEditing, EditWithoutASelectedRowDoesNothing) {
    AddStored("Work", "1", "Anna");
    Window().actContactEditExecute();
    Window().actContactRemoveExecute();
    EXPECT_EQ(dialogs_.FormsShown(), 0);
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(ContactEditing, EditFillsTheDialogAndMovesTheContact) {
    AddStored("Work", "1", "Anna");
    AddStored("Work", "2", "Boris");
    Window();
    SelectContact(0);
    QStringList shown;
    dialogs_.AnswerForm([&](QDialog& form) {
        shown << form.windowTitle() << form.findChild<QLineEdit*>("NameEdit")->text()
              << form.findChild<QLineEdit*>("NumEdit")->text()
              << form.findChild<QComboBox*>("GroupSelect")->currentText();
        return Type("Anna K", "+11", "Home")(form);
    });
    Window().actContactEditExecute();
    EXPECT_EQ(shown, QStringList({"Редактировать", "Anna", "1", "Work"}));
    EXPECT_EQ(ContactRows(), (Rows{{"Anna K", "+11", "Home"}, {"Boris", "2", "Work"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna K", "+11", "Home"}, {"Boris", "2", "Work"}}));
}

TEST_F(ContactEditing, EditWithAnEmptyGroupUsesCapitalNetInTheSameKey) {
    dialogs_.AnswerForm(Type("Anna", "1", ""));
    Window().actContactAddExecute();
    dialogs_.AnswerForm(Type("Boris", "2", ""));
    Window().actContactAddExecute();
    SelectContact(1);
    dialogs_.AnswerForm(Type("Boris", "2", ""));
    Window().actContactEditExecute();
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "нет"}, {"Boris", "2", "Нет"}}));
    EXPECT_EQ(Book().GroupNames().size(), 1u);
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "нет"}, {"Boris", "2", "нет"}}));
}

TEST_F(ContactEditing, ANumberMendedInTheReturnedDialogIsStored) {
    dialogs_.AnswerForm(Type("Boris", "12 34", "Work"));
    dialogs_.AnswerForm(Type("Boris", "1234", "Work"));
    Window().actContactAddExecute();
    ExpectOneWarning(kInvalidNumber);
    EXPECT_EQ(Stored(), (Rows{{"Boris", "1234", "Work"}}));
}

TEST_F(ContactEditing, ARefusedEditLeavesRowAndStoreUnchanged) {
    AddStored("Work", "1", "Anna");
    Window();
    SelectContact(0);
    dialogs_.AnswerForm(Type("Anna", "1 2", "Work"));
    dialogs_.AnswerForm(Type("Anna", "1 2", "Work", QDialog::Rejected));  // back, then cancelled
    Window().actContactEditExecute();
    ExpectOneWarning(kInvalidNumber);
    SelectContact(0);
    dialogs_.AnswerForm(Type("Anna", "1", "Work\\Sub"));
    dialogs_.AnswerForm(Type("Anna", "1", "Work\\Sub", QDialog::Rejected));
    Window().actContactEditExecute();
    dialogs_.AnswerForm(Type("Other", "9", "Home", QDialog::Rejected));
    Window().actContactEditExecute();
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "Work"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "Work"}}));
}

TEST_F(ContactEditing, AnEmptiedGroupLeavesAtTheNextFullListing) {
    AddStored("Old", "1", "Anna");
    Window();
    SelectContact(0);
    dialogs_.AnswerForm(Type("Anna", "1", "New"));
    Window().actContactEditExecute();
    EXPECT_EQ(Book().GroupNames().size(), 2u);  // "Old" stays offered
    Stored();
    EXPECT_EQ(Book().GroupNames(), std::vector<std::string>{"New"});
}

TEST_F(ContactEditing, RemoveAsksAndDeletesOnlyOnOK) {
    AddStored("Work", "1", "Иван");
    Window();
    SelectContact(0);
    dialogs_.AnswerConfirm(false);
    Window().actContactRemoveExecute();
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Confirm);
    EXPECT_EQ(dialogs_.Messages()[0].text, "Удалить запись \"Иван\" из списка контактов");
    EXPECT_EQ(ContactRows().size(), 1u);
    EXPECT_EQ(Stored().size(), 1u);

    dialogs_.AnswerConfirm(true);
    Window().actContactRemoveExecute();
    EXPECT_TRUE(ContactRows().empty());
    EXPECT_TRUE(Stored().empty());
}

// The registry refuses changes here; the list must show what it really holds, and
// the user must learn what was not done and why.
class RefusedContactChange : public ContactEditing {
  protected:
    void SetUp() override {
        AddStored("Work", "1", "Anna");
        Window();
        SelectContact(0);
    }
    void Refuse(::velka::testing::RegistryRefusal refusal) {
        ::velka::testing::RefuseRegistryChanges(home_.File("registry.db"), refusal);
    }
    // One warning: what was not done, the registry's reason, what the list shows.
    void ExpectRefusalWarning(const char* what, const char* outcome) {
        ASSERT_EQ(dialogs_.Messages().size(), 1u);
        EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Warning);
        const QStringList lines = dialogs_.Messages()[0].text.split('\n');
        ASSERT_EQ(lines.size(), 3);
        EXPECT_EQ(lines[0], QString::fromUtf8(what));
        EXPECT_TRUE(lines[1].contains(::velka::testing::kRefusalReason)) << lines[1].toStdString();
        EXPECT_EQ(lines[2], QString::fromUtf8(outcome));
    }
};

TEST_F(RefusedContactChange, ARefusedAddWarnsWithTheReasonAndAddsNoRow) {
    Refuse(::velka::testing::RegistryRefusal::EveryChange);
    dialogs_.AnswerForm(Type("Boris", "2", "Home"));
    Window().actContactAddExecute();
    ExpectRefusalWarning("Не удалось сохранить контакт \"Boris\" в реестре.",
                         "Контакт не добавлен.");
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "Work"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "Work"}}));
}

TEST_F(RefusedContactChange, ARefusedEditKeepsTheOldContactInTheRowAndTheStore) {
    Refuse(::velka::testing::RegistryRefusal::EveryChange);
    dialogs_.AnswerForm(Type("Boris", "2", "Home"));
    Window().actContactEditExecute();
    ExpectRefusalWarning("Не удалось сохранить изменения контакта \"Anna\" в реестре.",
                         "Контакт остался прежним.");
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "Work"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "Work"}}));
}

TEST_F(RefusedContactChange, AnEditWhoseOldContactStaysShowsBothContacts) {
    Refuse(::velka::testing::RegistryRefusal::Deletions);
    dialogs_.AnswerForm(Type("Boris", "2", "Home"));
    Window().actContactEditExecute();
    ExpectRefusalWarning("Не удалось удалить из реестра прежнюю запись контакта \"Anna\".",
                         "Изменённый контакт сохранён; прежняя запись тоже остаётся в списке.");
    EXPECT_EQ(ContactRows(), (Rows{{"Boris", "2", "Home"}, {"Anna", "1", "Work"}}));
    EXPECT_EQ(Stored(), (Rows{{"Boris", "2", "Home"}, {"Anna", "1", "Work"}}));
}

// The group (in another letter case) and the number are kept, so the edit rewrites
// the one value in place: nothing is deleted, and a refused deletion cannot matter.
TEST_F(RefusedContactChange, AnEditOfTheNameAloneNeedsNoDeletion) {
    Refuse(::velka::testing::RegistryRefusal::Deletions);
    dialogs_.AnswerForm(Type("Anna K", "1", "WORK"));
    Window().actContactEditExecute();
    EXPECT_TRUE(dialogs_.Messages().empty());
    EXPECT_EQ(ContactRows(), (Rows{{"Anna K", "1", "WORK"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna K", "1", "Work"}}));
}

TEST_F(RefusedContactChange, ARefusedRemovalKeepsTheRow) {
    Refuse(::velka::testing::RegistryRefusal::Deletions);
    dialogs_.AnswerConfirm(true);
    Window().actContactRemoveExecute();
    ASSERT_EQ(dialogs_.Messages().size(), 2u);  // the question, then the warning
    EXPECT_EQ(dialogs_.Messages()[1].kind, MessageKind::Warning);
    EXPECT_TRUE(
        dialogs_.Messages()[1].text.startsWith("Не удалось удалить контакт \"Anna\" из реестра."));
    EXPECT_TRUE(dialogs_.Messages()[1].text.endsWith("Контакт остаётся в списке."));
    EXPECT_EQ(ContactRows(), (Rows{{"Anna", "1", "Work"}}));
    EXPECT_EQ(Stored(), (Rows{{"Anna", "1", "Work"}}));
}

class ContactSearch : public ContactEditing {
  protected:
    void SetUp() override {
        AddStored("Work", "1", "Анна");
        AddStored("Work", "2", "Борис");
        AddStored("Home", "3", "анатолий");
        Window().show();
    }
    QLineEdit* Name() { return Find<QLineEdit>("NameToSearch"); }
    QComboBox* Group() { return Find<QComboBox>("GroupToSearch"); }
    QWidget* Panel() { return Find<QWidget>("ContactsSearchPanel"); }
};

TEST_F(ContactSearch, ThePanelOffersTheGroupsAndTakesRoomFromTheList) {
    const int list_height = ContactsList()->height();
    Action("actSearch")->trigger();
    EXPECT_TRUE(Panel()->isVisible());
    EXPECT_EQ(Panel()->height(), 53);
    EXPECT_LT(ContactsList()->height(), list_height);
    ASSERT_EQ(Group()->count(), 2);
    EXPECT_EQ(Group()->itemText(0), "Home");
    EXPECT_TRUE(Group()->currentText().isEmpty());
    EXPECT_EQ(ContactRows().size(), 3u);
}

TEST_F(ContactSearch, EachChangeListsByNamePrefixAndGroup) {
    Action("actSearch")->trigger();
    Name()->setText("АН");
    EXPECT_EQ(ContactRows(), (Rows{{"анатолий", "3", "Home"}, {"Анна", "1", "Work"}}));
    Group()->setEditText("wORK");
    EXPECT_EQ(ContactRows(), (Rows{{"Анна", "1", "wORK"}}));
    Name()->clear();
    EXPECT_EQ(ContactRows(), (Rows{{"Анна", "1", "wORK"}, {"Борис", "2", "wORK"}}));
    Name()->setText("нна");
    EXPECT_TRUE(ContactRows().empty());
    Group()->setEditText("Nowhere");
    Name()->clear();
    EXPECT_TRUE(ContactRows().empty());
}

TEST_F(ContactSearch, HidingRestoresTheFullListingAndKeepsTheTexts) {
    Action("actSearch")->trigger();
    Name()->setText("Бор");
    EXPECT_EQ(ContactRows().size(), 1u);
    Action("actSearch")->trigger();
    EXPECT_FALSE(Panel()->isVisible());
    EXPECT_EQ(ContactRows().size(), 3u);
    Action("actSearch")->trigger();
    EXPECT_EQ(Name()->text(), "Бор");
    EXPECT_EQ(ContactRows().size(), 3u);  // until a field changes
    Group()->setEditText("Work");
    EXPECT_EQ(ContactRows(), (Rows{{"Борис", "2", "Work"}}));
}

TEST_F(ContactSearch, ANameSearchDeletesEmptiedGroups) {
    ASSERT_TRUE(Book().DeleteContact(W("Home"), "3"));
    Action("actSearch")->trigger();
    EXPECT_EQ(Group()->count(), 2);
    Name()->setText("Б");
    Action("actSearch")->trigger();
    Action("actSearch")->trigger();
    EXPECT_EQ(Group()->count(), 1);
}

// With VELKA_SCREENSHOTS=DIR, writes a picture of every window and dialog the
// contact pane and the message views show.
TEST_F(ContactEditing, Screenshots) {
    if (!Screenshots::Enabled()) GTEST_SKIP() << "VELKA_SCREENSHOTS is not set";
    AddStored("Работа", "+79001234567", "Иванов Иван");
    AddStored("Работа", "+79007654321", "Петрова Анна");
    AddStored("Семья", "+79161112233", "Мама");
    AddStored("Семья", "+79163334455", "Брат Алексей");
    AddStored("Друзья", "+79265556677", "Сергей");
    ASSERT_TRUE(
        store::Save(velka::testing::BoxHeld(home_.File("inbox.db")), home_.File("inbox.db"),
                    std::vector<packet>{MakePacket("+79161112233", "07.12.2026 9:15:02",
                                                   W("Доброе утро! Не забудь купить хлеб.")),
                                        MakePacket("+79265556677", "07.12.2026 12:40:37",
                                                   W("Встречаемся в 19:00 у кинотеатра")),
                                        MakePacket("+79001234567", "07.12.2026 16:03:55",
                                                   W("Отчёт отправил, посмотри, пожалуйста"))}));
    ASSERT_TRUE(store::Save(
        velka::testing::BoxHeld(home_.File("outbox.db")), home_.File("outbox.db"),
        std::vector<packet>{MakePacket("+79161112233", "07.12.2026 9:20:11", W("Хорошо, куплю")),
                            MakePacket("+79007654321", "07.12.2026 14:02:48",
                                       W("Анна, совещание переносится на завтра"))}));
    Window().show();
    Screenshots::Save(Window(), "main-contacts");
    SelectContact(1);
    dialogs_.NameNextScreenshot("contact-add");
    dialogs_.AnswerForm(Type("Сергей", "+79265556677", "Друзья", QDialog::Rejected));
    Window().actContactAddExecute();
    dialogs_.NameNextScreenshot("contact-edit");
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });
    Window().actContactEditExecute();
    dialogs_.AnswerForm([this](QDialog& form) {
        dialogs_.NameNextScreenshot("warning-number");
        return Type("Сергей", "+7 926", "Друзья")(form);
    });
    // The form comes back with what was typed, for the number to be put right.
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });
    Window().actContactAddExecute();
    dialogs_.NameNextScreenshot("confirm-remove");
    dialogs_.AnswerConfirm(false);
    Window().actContactRemoveExecute();
    Action("actSearch")->trigger();
    Find<QLineEdit>("NameToSearch")->setText("Пет");
    Screenshots::Save(Window(), "main-search");
    Action("actSearch")->trigger();
    Window().qmInBoxClick();
    Screenshots::Save(Window(), "main-inbox");
    Window().qmOutBoxClick();
    Screenshots::Save(Window(), "main-outbox");
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

}  // namespace
}  // namespace velka::gui::testing
