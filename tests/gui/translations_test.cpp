// Qt's own texts in Russian, and the boxes whose texts the design fixes unchanged.
#include "gui/translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "gui/dialogs.h"

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

}  // namespace
}  // namespace velka::gui::testing
