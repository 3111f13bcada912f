// The main window, TMainForm: the quick menu on the left, the contact pane and the
// message pane beside it, the main menu and the contact actions. Only the window lives here; what
// it runs sits in the core (app/app_core.h, contacts/, compose/, settings/, store/) and is tested
// without a window.
#pragma once

#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_core.h"
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
class TConfigForm;
class TEditForm;

class TMainForm final : public QMainWindow {
  public:
    // `dialogs`, `registry` and `core` must outlive the window. Creating the window
    // starts the core (Config.ini, the worker); a setting that does not convert is
    // shown as an error and the window opens all the same.
    TMainForm(Dialogs& dialogs, Registry& registry, app::AppCore& core, QWidget* parent = nullptr);
    // Closes the window's work as a close would, if that has not happened yet.
    ~TMainForm() override;

    // The settings dialog, made once at start-up and shown by qmOptionsClick; it
    // must outlive the window. Until it is given, qmOptionsClick does nothing.
    void UseConfigForm(TConfigForm& form) { config_form_ = &form; }

    const std::string& ProgramDir() const { return program_dir_; }
    // One recipient per entry, as the last compose action read them.
    const std::vector<std::string>& Recipients() const { return recipients_; }

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
    void actComposeExecute();
    void qmOptionsClick();
    // The close query (sets the stop flag; closing is always allowed) and the close
    // (stops and joins the worker, drops what is still queued, closes the port).
    void FormCloseQuery();
    void FormClose();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BindControls();
    void FormCreate();
    // What the worker reports, carried over to the window's thread: a sent or
    // received message refreshes the box on view; a store file that refuses
    // writes is told in a warning.
    app::WorkerEvents WindowEvents();
    // A change of the modem's state: a SIM that wants its PIN asks the user for it,
    // any other problem is shown in a warning.
    void ModemStateChanged(const modem::ModemStatus& status);
    // Reloads the message pane when it shows `file_name`, keeping its scroll position.
    void RefreshBoxView(const std::string& file_name);
    // Queues one record per sendable recipient and warns about the others.
    void QueueMessage(const std::string& recipients, const std::string& text);
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
    Registry& registry_;
    app::AppCore& core_;
    contacts::ContactBook book_;
    TConfigForm* config_form_ = nullptr;
    bool closed_ = false;    // FormClose ran: a later close event has nothing left to release
    std::string shown_box_;  // the store file the message pane shows; empty while hidden
    std::string program_dir_;
    std::vector<std::string> recipients_;
    std::unique_ptr<Ui::TMainForm> ui_;
    ContactTableModel* contacts_model_;  // owned by the window (Qt parent)
    BoxTableModel* box_model_;           // owned by the window (Qt parent)
    QMenu* PopupMenu;                    // named as the form names it; owned by the window
};

}  // namespace velka::gui
