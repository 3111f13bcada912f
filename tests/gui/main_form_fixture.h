// A test base that builds the real main window in a program directory and
// registry of its own, finds controls by object name and answers dialogs by script.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QToolButton>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_book.h"
#include "gui/config_form.h"
#include "gui/main_form.h"
#include "platform/codepage.h"
#include "tests/gui/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

namespace velka::gui::testing {

inline std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

class MainFormTest : public ::testing::Test {
  protected:
    MainFormTest() { ::setenv("VELKA_HOME", home_.path().c_str(), 1); }

    // The window is made on first use, so a test can prepare files and contacts first.
    // Every model change the window makes is checked against the model rules.
    TMainForm& Window() {
        if (!window_) {
            window_ = std::make_unique<TMainForm>(dialogs_, registry_, core_);
            config_form_ = std::make_unique<TConfigForm>(window_.get());
            window_->UseConfigForm(*config_form_);
            for (const char* view : {"ContactsList", "MessageTable"}) {
                model_testers_.push_back(std::make_unique<QAbstractItemModelTester>(
                    window_->findChild<QTableView*>(view)->model(),
                    QAbstractItemModelTester::FailureReportingMode::Fatal));
            }
        }
        return *window_;
    }

    template <typename T>
    T* Find(const char* name) {
        T* found = Window().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* Action(const char* name) { return Find<QAction>(name); }
    QTableView* ContactsList() { return Find<QTableView>("ContactsList"); }
    QTableView* MessageTable() { return Find<QTableView>("MessageTable"); }

    static QString Cell(QTableView* view, int row, int column) {
        return view->model()->index(row, column).data().toString();
    }
    // The rows of a contact list as (name, number, group) in UTF-8.
    std::vector<std::vector<std::string>> ContactRows() {
        std::vector<std::vector<std::string>> rows;
        QTableView* view = ContactsList();
        for (int row = 0; row < view->model()->rowCount(); ++row)
            rows.push_back({Cell(view, row, 0).toStdString(), Cell(view, row, 1).toStdString(),
                            Cell(view, row, 2).toStdString()});
        return rows;
    }
    void SelectContact(int row) { ContactsList()->selectRow(row); }

    contacts::ContactBook& Book() { return book_; }
    void AddStored(const std::string& group_utf8, const std::string& number,
                   const std::string& name_utf8) {
        ASSERT_TRUE(book_.WriteContact({W(name_utf8), number, W(group_utf8)}));
    }

    ::velka::testing::TempDir home_;
    Registry registry_{home_.File("registry.db")};
    contacts::ContactBook book_{registry_};
    ScriptedDialogs dialogs_;
    app::AppCore core_{home_.path()};
    std::unique_ptr<TMainForm> window_;
    std::unique_ptr<TConfigForm> config_form_;  // made with the window, as at start-up
    std::vector<std::unique_ptr<QAbstractItemModelTester>> model_testers_;
};

}  // namespace velka::gui::testing
