// app/: the program's entry and its main window, TMainForm: the quick menu on the
// left, the contact pane and the message pane beside it, the main menu and the
// contact actions. Only the window lives here; what it runs sits in the core
// (contacts/, store/) and is tested without a window.
#pragma once

#include <QMainWindow>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_book.h"
#include "platform/registry.h"

class QMenu;
namespace Ui {
class TMainForm;
}

namespace velka::gui {

class BoxTableModel;
class ContactTableModel;
class Dialogs;
class TEditForm;

class TMainForm final : public QMainWindow {
  public:
    // `dialogs` and `registry` must outlive the window. `queue_lock` is the
    // outgoing-queue lock that the worker holds while it saves a store file; a
    // window without a worker passes none and uses a lock of its own.
    TMainForm(Dialogs& dialogs, Registry& registry, std::mutex* queue_lock = nullptr,
              QWidget* parent = nullptr);
    ~TMainForm() override;

    const std::string& ProgramDir() const { return program_dir_; }
    std::mutex& QueueLock() { return *queue_lock_; }
    // One recipient per entry, filled by the compose action.
    std::vector<std::string>& Recipients() { return recipients_; }

    // Handlers, bound to their controls in the constructor. UI thread only.
    void qmContactsClick();
    void qmInBoxClick();
    void qmOutBoxClick();
    void mmCloseClick();
    void actContactAddExecute();
    void actContactEditExecute();
    void actContactRemoveExecute();
    void actSearchExecute();
    void NameToSearchChange();

  private:
    void BindControls();
    void FormCreate();
    void BuildContactsListMenu();
    void OpenBoxView(const QString& caption, const std::string& file_name);
    // Refills MessageTable from the store file; false, after telling the user,
    // when the file exists but cannot be read.
    bool LoadBoxView(const std::string& path);
    void ShowListing(contacts::Listing listing);
    void FillGroupToSearch();
    // The contact entered in `form` when it is valid; otherwise warns and gives nothing.
    std::optional<contacts::Contact> ValidEntry(const TEditForm& form);
    int SelectedContactRow() const;
    void ShowContactsMenu(const QPoint& position);

    Dialogs& dialogs_;
    contacts::ContactBook book_;
    std::mutex own_queue_lock_;
    std::mutex* queue_lock_;  // the worker's when given, else own_queue_lock_
    std::string program_dir_;
    std::vector<std::string> recipients_;
    std::unique_ptr<Ui::TMainForm> ui_;
    ContactTableModel* contacts_model_;  // owned by the window (Qt parent)
    BoxTableModel* box_model_;           // owned by the window (Qt parent)
    QMenu* PopupMenu;                    // named as the form names it; owned by the window
};

}  // namespace velka::gui
