// "Импорт контактов с SIM-карты" end to end: the SIM's phone book of a virtual modem
// read through the worker and imported with the questions, the report and the
// refusals of the file import.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QTranslator>
#include <functional>
#include <string>
#include <vector>

#include "gui/translations.h"
#include "platform/profile.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/modem/sim_fixture.h"

namespace velka::gui::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class SimContacts : public MainFormTest {
  protected:
    SimContacts() {
        const std::string ini = home_.File("Config.ini");
        EXPECT_TRUE(profile::WriteString(ini, "DEVICEMAP", "SerialPort", modems_.ComName(1)));
        EXPECT_TRUE(profile::WriteString(ini, "DEVICEMAP", "PerformMailCheck", "0"));
    }
    // The window and its worker go before the virtual modem they talk to.
    ~SimContacts() override {
        config_form_.reset();
        window_.reset();
    }

    // Chooses the menu item and waits until the reading has been answered.
    void ImportFromSim() {
        QAction* item = Action("mmImportSimContacts");
        const std::size_t told = dialogs_.Messages().size();
        item->trigger();
        EXPECT_FALSE(item->isEnabled());  // one reading at a time
        EXPECT_TRUE(::velka::testing::Eventually([&] {
            QCoreApplication::processEvents();
            return dialogs_.Messages().size() > told;
        }));
        EXPECT_TRUE(item->isEnabled());
    }

    ::velka::testing::SimModems modems_{1};
};

TEST_F(SimContacts, TheEntriesAreImportedWithTheFileImportsQuestionsAndReport) {
    AddStored("Работа", "+79161234567", "Иван");
    // "ë" is not in Windows-1251: it becomes "?" as in a file's names.
    modems_.Control("phonebook-put 1 9 +79990000009 Zo\xC3\xAB");
    Window().show();
    dialogs_.AnswerChoice("Семья");         // the group: SIM entries have none
    dialogs_.AnswerChoice("Обновить имя");  // the number stored under another name
    ImportFromSim();

    ASSERT_EQ(dialogs_.Choices().size(), 2u);
    EXPECT_EQ(dialogs_.Choices()[0].label, "Группа для контактов с SIM-карты:");
    EXPECT_TRUE(dialogs_.Choices()[1].label.contains(
        "+79161234567: \"Иван\" в группе \"Работа\", на SIM-карте \"Иван Петров\""))
        << dialogs_.Choices()[1].label.toStdString();
    const Rows rows = ContactRows();
    for (const std::vector<std::string>& expected : Rows{{"Иван", "+79161234567", "Работа"},
                                                         {"Иван Петров", "+79161234567", "Семья"},
                                                         {"Maria [work]", "89031234567", "Семья"},
                                                         {"Service €", "0500", "Семья"},
                                                         {"Zo?", "+79990000009", "Семья"}}) {
        EXPECT_NE(std::find(rows.begin(), rows.end(), expected), rows.end()) << expected[0];
    }
    EXPECT_EQ(rows.size(), 5u);
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    const ShownMessage& report = dialogs_.Messages()[0];
    EXPECT_EQ(report.kind, MessageKind::Report);
    EXPECT_TRUE(report.text.contains("Импортировано: 4")) << report.text.toStdString();
    EXPECT_TRUE(dialogs_.AllAnswersUsed());

    // Again, into the same group: everything is there already, under the same names.
    dialogs_.AnswerChoice("Семья");
    ImportFromSim();
    ASSERT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_TRUE(dialogs_.Messages()[1].text.contains("Пропущено: 4"))
        << dialogs_.Messages()[1].text.toStdString();
    EXPECT_EQ(ContactRows().size(), 5u);
}

TEST_F(SimContacts, ARefusedOrEmptyPhoneBookIsToldAndWritesNothing) {
    modems_.Control("fault 1 phone-book missing");
    Window().show();
    ImportFromSim();
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs_.Messages()[0].text,
              "На SIM-карте нет телефонной книги, или модем не даёт её прочитать "
              "(+CME ERROR: 4).");
    modems_.Control("fault 1 clear");
    modems_.Control("phonebook-clear 1");
    ImportFromSim();
    ASSERT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_EQ(dialogs_.Messages()[1].text, "На SIM-карте нет контактов.");
    EXPECT_TRUE(ContactRows().empty());
}

// With VELKA_SCREENSHOTS=DIR: the "Файл" menu with the item, the group question and
// the contacts imported.
TEST_F(SimContacts, Screenshots) {
    if (!Screenshots::Enabled()) GTEST_SKIP() << "VELKA_SCREENSHOTS is not set";
    const std::unique_ptr<QTranslator> russian(InstallQtTranslations(*qApp));
    AddStored("Работа", "+79161234567", "Иван");
    Window().show();
    QMenu* file_menu = Find<QMenu>("mmFile");
    file_menu->setActiveAction(Action("mmImportSimContacts"));
    file_menu->popup(Window().mapToGlobal(QPoint(0, Window().menuBar()->height())));
    QApplication::processEvents();
    Screenshots::Save(*file_menu, "menu-file-sim-contacts");
    file_menu->hide();

    dialogs_.NameNextScreenshot("sim-contacts-group");
    dialogs_.AnswerChoice("Семья");
    dialogs_.AnswerChoice("Пропустить");
    ImportFromSim();
    Screenshots::Save(Window(), "main-sim-contacts-imported");
}

}  // namespace
}  // namespace velka::gui::testing
