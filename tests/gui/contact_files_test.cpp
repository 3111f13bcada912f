// Contact import and export from the "Файл" menu, answered through scripted dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QTranslator>
#include <string>
#include <vector>

#include "gui/translations.h"
#include "platform/files.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/support/registry_refusal.h"

namespace velka::gui::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class ContactFiles : public MainFormTest {
  protected:
    std::string WriteFile(const std::string& name, const std::string& text) {
        const std::string path = home_.File(name);
        EXPECT_TRUE(files::SaveDurably(path, text));
        return path;
    }
    void Import(const std::string& path) {
        dialogs_.AnswerFile(QString::fromStdString(path));
        Action("mmImportContacts")->trigger();
    }
};

TEST_F(ContactFiles, ImportAsksForAGroupAndTheSkipOrUpdateAndReports) {
    AddStored("Работа", "+79001234567", "Иванов");
    Window();
    const std::string path =
        WriteFile("book.vcf",
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Иванов Иван\r\nTEL:+7 900 123-45-67\r\n"
                  "CATEGORIES:Работа\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Мама\r\nTEL:+79161112233\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Без номера\r\nEND:VCARD\r\n");
    dialogs_.AnswerChoice("Семья");         // the group of the card without one
    dialogs_.AnswerChoice("Обновить имя");  // the stored number under another name
    Import(path);

    ASSERT_EQ(dialogs_.Choices().size(), 2u);
    EXPECT_EQ(dialogs_.Choices()[1].choices, (QStringList{"Пропустить", "Обновить имя"}));
    EXPECT_EQ(ContactRows(),
              (Rows{{"Иванов Иван", "+79001234567", "Работа"}, {"Мама", "+79161112233", "Семья"}}));
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    const ShownMessage& report = dialogs_.Messages()[0];
    EXPECT_EQ(report.kind, MessageKind::Report);
    EXPECT_TRUE(report.text.contains("Импортировано: 1")) << report.text.toStdString();
    EXPECT_TRUE(report.text.contains("Обновлено: 1"));
    EXPECT_TRUE(report.details.contains("Карточка 3: в карточке нет номера"));
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

TEST_F(ContactFiles, ACancelledQuestionWritesNothingAndABrokenFileIsTold) {
    Window();
    dialogs_.AnswerChoice({});  // the group question cancelled
    Import(WriteFile("nogroup.csv", "name,number\nАнна,1\n"));
    EXPECT_TRUE(ContactRows().empty());
    Import(WriteFile("bad.csv", "no header here\n"));
    Import(home_.File("missing.vcf"));
    ASSERT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_TRUE(dialogs_.Messages()[0].text.contains("name,number,group"));
    EXPECT_EQ(dialogs_.Messages()[1].kind, MessageKind::Error);
    EXPECT_TRUE(ContactRows().empty());
}

TEST_F(ContactFiles, AnUnknownHeaderAsksForTheColumnsOnceAndRemembersThem) {
    Window();
    const std::string header = "Кто;Заметка;Куда\n";
    dialogs_.AnswerChoice({});  // the name's column: cancelled
    Import(WriteFile("first.csv", header + "Анна;друг;+7 900 111-22-33\n"));
    EXPECT_TRUE(ContactRows().empty());

    dialogs_.AnswerChoice("1: Кто");
    dialogs_.AnswerChoice("3: Куда");
    dialogs_.AnswerChoice("Семья");  // the group, which the file has no column for
    Import(WriteFile("second.csv", header + "Анна;друг;+7 900 111-22-33\n"));
    ASSERT_EQ(dialogs_.Choices().size(), 4u);
    EXPECT_EQ(dialogs_.Choices()[1].choices, (QStringList{"1: Кто", "2: Заметка", "3: Куда"}));
    EXPECT_EQ(dialogs_.Choices()[2].choices, (QStringList{"2: Заметка", "3: Куда"}));
    EXPECT_EQ(ContactRows(), (Rows{{"Анна", "+79001112233", "Семья"}}));

    dialogs_.AnswerChoice("Семья");
    Import(WriteFile("third.csv", header + "Борис;;8 916 000-00-01\n"));
    EXPECT_EQ(dialogs_.Choices().size(), 5u);  // the group alone: the columns are known
    EXPECT_EQ(ContactRows(),
              (Rows{{"Анна", "+79001112233", "Семья"}, {"Борис", "89160000001", "Семья"}}));
    EXPECT_EQ(*files::ReadAll(home_.File("csv-columns.txt")), "1\t3\tКто\tЗаметка\tКуда\n");
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

TEST_F(ContactFiles, NumbersStoredUnderOtherNamesInAnyGroupAreListedBeforeAnythingIsWritten) {
    AddStored("Работа", "+79001234567", "Иванов");
    std::string csv = "name,number,group\nИван Иванов,+79001234567,Друзья\n";
    for (int i = 10; i < 21; ++i) {
        const std::string number = "+791600000" + std::to_string(i);
        AddStored("Семья", number, "Старое имя");
        csv += "Новое имя," + number + ",Семья\n";
    }
    Window();
    const Rows before = ContactRows();
    dialogs_.AnswerChoice("Пропустить");
    Import(WriteFile("many.csv", csv));
    ASSERT_EQ(dialogs_.Choices().size(), 1u);
    const QString& question = dialogs_.Choices()[0].label;
    EXPECT_TRUE(
        question.contains("+79001234567: \"Иванов\" в группе \"Работа\", в файле \"Иван Иванов\""))
        << question.toStdString();
    EXPECT_TRUE(question.contains("+79160000010: \"Старое имя\" в группе \"Семья\""));
    EXPECT_TRUE(question.contains("и ещё 2"));  // twelve numbers, ten of them shown
    EXPECT_FALSE(question.contains("+79160000020"));
    EXPECT_EQ(ContactRows(), before);
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_TRUE(dialogs_.Messages()[0].text.contains("Пропущено: 12"));
}

TEST_F(ContactFiles, ARefusedWriteStopsTheImportAndThePaneShowsWhatWasWritten) {
    AddStored("Работа", "+79001234567", "Иванов");
    Window();
    ::velka::testing::RefuseRegistryChanges(home_.File("registry.db"),
                                            ::velka::testing::RegistryRefusal::NewKeys);
    Import(WriteFile("two.csv", "name,number,group\nПётр,2,Работа\nМама,3,Семья\n"));
    EXPECT_EQ(ContactRows(), (Rows{{"Иванов", "+79001234567", "Работа"}, {"Пётр", "2", "Работа"}}));
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    const QString& text = dialogs_.Messages()[0].text;
    EXPECT_TRUE(text.contains("Импорт остановлен")) << text.toStdString();
    EXPECT_TRUE(text.contains(::velka::testing::kRefusalReason));
    EXPECT_TRUE(text.contains("Записано до остановки: 1, не записано: 1"));
}

TEST_F(ContactFiles, ExportWritesEveryContactOrTheSelectedGroup) {
    AddStored("Работа", "+79001234567", "Иванов, Иван");
    AddStored("Семья", "+79161112233", "Мама");
    Window();
    const std::string all = home_.File("all.csv");
    dialogs_.AnswerFile(QString::fromStdString(all));
    Action("mmExportContacts")->trigger();  // nothing selected: no question, every contact
    EXPECT_EQ(*files::ReadAll(all),
              "name,number,group\r\n\"Иванов, Иван\",+79001234567,Работа\r\n"
              "Мама,+79161112233,Семья\r\n");

    SelectContact(1);
    const std::string family = home_.File("family.vcf");
    dialogs_.AnswerChoice("Группа \"Семья\"");
    dialogs_.AnswerFile(QString::fromStdString(family));
    Action("mmExportContacts")->trigger();
    ASSERT_EQ(dialogs_.Choices().size(), 1u);
    EXPECT_EQ(*files::ReadAll(family),
              "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Мама\r\nN:;Мама;;;\r\nTEL:+79161112233\r\n"
              "CATEGORIES:Семья\r\nEND:VCARD\r\n");

    dialogs_.AnswerChoice("Все контакты");
    dialogs_.AnswerFile(QString::fromStdString(home_.File("no/such/folder/x.vcf")));
    Action("mmExportContacts")->trigger();
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_TRUE(dialogs_.Messages()[0].text.contains("no/such/folder"));
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// With VELKA_SCREENSHOTS=DIR: the "Файл" menu, the export question and an import report.
TEST_F(ContactFiles, Screenshots) {
    if (!Screenshots::Enabled()) GTEST_SKIP() << "VELKA_SCREENSHOTS is not set";
    // Qt's own buttons ("Cancel", "Show Details...") in Russian, as the program shows them.
    const std::unique_ptr<QTranslator> russian(InstallQtTranslations(*qApp));
    AddStored("Работа", "+79001234567", "Иванов Иван");
    AddStored("Семья", "+79161112233", "Мама");
    Window().show();
    QMenu* file_menu = Find<QMenu>("mmFile");
    file_menu->popup(Window().mapToGlobal(QPoint(0, Window().menuBar()->height())));
    QApplication::processEvents();
    Screenshots::Save(*file_menu, "menu-file-contacts");
    file_menu->hide();

    SelectContact(1);
    dialogs_.NameNextScreenshot("export-contacts");
    dialogs_.AnswerChoice({});
    Action("mmExportContacts")->trigger();

    const std::string path = WriteFile(
        "phone.csv",
        "name,number,group\nПетрова Анна,+7 (900) 765-43-21,Работа\nИванов Иван,+79001234567,"
        "Работа\nСергей,+79265556677,Друзья\nБрат,8-916-ABC,Семья\n");
    dialogs_.NameNextScreenshot("import-report");
    Import(path);
    Screenshots::Save(Window(), "main-contacts-imported");
}

}  // namespace
}  // namespace velka::gui::testing
