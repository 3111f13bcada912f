// Qt's own texts in Russian, and the boxes whose texts the design fixes unchanged.
#include "gui/translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "gui/dialogs.h"
#include "tests/gui/russian_only.h"

namespace velka::gui::testing {
namespace {

class QtTranslations : public ::testing::Test {
  protected:
    QtTranslations() : translator_(InstallQtTranslations(*qApp)) {}
    ~QtTranslations() override {
        if (!translator_) return;
        QCoreApplication::removeTranslator(translator_);
        delete translator_;
    }
    QTranslator* translator_;
};

TEST_F(QtTranslations, StandardButtonsSpeakRussian) {
    ASSERT_NE(translator_, nullptr) << "qt6-translations-l10n is not installed";
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "Отмена");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Save)->text(), "Сохранить");
    EXPECT_EQ(QLocale().toString(QDate(2026, 12, 9), QLocale::ShortFormat), "09.12.2026");
    EXPECT_EQ(QLocale().standaloneMonthName(12), "декабрь");
}

TEST_F(QtTranslations, TheBoxesTheDesignFixesKeepTheirCaptionsAndButtons) {
    ASSERT_NE(translator_, nullptr);
    const auto confirm = MakeMessageBox(MessageKind::Confirm, nullptr, "?");
    EXPECT_EQ(confirm->windowTitle(), "Confirm");
    EXPECT_EQ(confirm->button(QMessageBox::Ok)->text(), "OK");
    EXPECT_EQ(confirm->button(QMessageBox::No)->text(), "&No");
    const auto warning = MakeMessageBox(MessageKind::Warning, nullptr, "!");
    EXPECT_EQ(warning->windowTitle(), "Warning");
    EXPECT_EQ(warning->button(QMessageBox::Ok)->text(), "OK");
}

// The walk every GUI test makes: an English caption or button is found, the
// design's own and Qt's translated ones pass, the file dialog included.
TEST_F(QtTranslations, TheWalkFindsEnglishAndPassesWhatTheUserReadsInRussian) {
    ASSERT_NE(translator_, nullptr);
    QMessageBox english;
    english.setWindowTitle("Remove record");
    english.addButton("Yes, remove", QMessageBox::AcceptRole);
    english.addButton(QMessageBox::Cancel);
    EXPECT_EQ(LatinTexts(english), (QStringList{"Remove record", "Yes, remove"}))
        << "Cancel is Qt's, in Russian";

    EXPECT_TRUE(LatinTexts(*MakeMessageBox(MessageKind::Confirm, nullptr, "?")).isEmpty());
    EXPECT_TRUE(LatinTexts(*MakeQuestionBox(nullptr, "?", {"Да", "Нет"})).isEmpty());
    EXPECT_TRUE(LatinTexts(*MakeChoiceDialog(nullptr, "Группа", "?", {"a"}, true)).isEmpty());
    QFileDialog files(nullptr, QStringLiteral("Импорт контактов"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    EXPECT_EQ(LatinTexts(files), QStringList());
}

// A short report under the application's long name: the window manager would cut a
// caption wider than the box, so the box is as wide as the caption needs.
TEST(MessageBoxes, AreWideEnoughForTheirCaption) {
    for (const auto& box : {MakeReportBox(nullptr, "Импортировано: 1", {}),
                            MakeReportBox(nullptr, "Импортировано: 1", "Строка 2: пусто"),
                            MakeMessageBox(MessageKind::Error, nullptr, "Нет"),
                            MakeQuestionBox(nullptr, "?", {"Да"})}) {
        box->show();  // lays the box out as the user gets it
        QFont bold = box->font();
        bold.setBold(true);
        EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 100)
            << box->text().toStdString();
        box->hide();
    }
}

}  // namespace
}  // namespace velka::gui::testing
