// The compose window: the recipient list text, the message text with its counter,
// and the contact book to pick recipients from. It only holds the fields; the main
// window's actComposeExecute reads what it hands back and queues the records.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "contacts/contact_book.h"

class QMenu;
namespace Ui {
class TComposeForm;
}

namespace velka::gui {

class ContactTableModel;
class Dialogs;

// What the user wrote, in Windows-1251 with CR LF line breaks.
struct ComposedMessage {
    std::string recipients;  // the recipient list text as it stands
    std::string text;
};

class TComposeForm final : public QDialog {
  public:
    // Fills the group list and the contact list from `book` (both must outlive the
    // form); listing errors go to `dialogs`. Centred on `parent`. UI thread only.
    TComposeForm(contacts::ContactBook& book, Dialogs& dialogs, QWidget* parent);
    ~TComposeForm() override;

    ComposedMessage Message() const;
    // Fills the recipient list and the text (a reply, a forwarded message); the
    // text is cut to the limit as if it had been pasted.
    void Prefill(const ComposedMessage& message);

    // Handlers, bound to their controls in the constructor.
    void pmAddClick();
    void pmAddAllClick();
    void pmAddCheckedClick();
    void NameToSearchChange();
    void MessageTextChange();

  private:
    void BindControls();
    void ShowListing(contacts::Listing listing);
    void AddRow(int row);
    // Cuts what was just typed or pasted beyond the text limit.
    void KeepWithinLimit();

    contacts::ContactBook& book_;
    Dialogs& dialogs_;
    std::unique_ptr<Ui::TComposeForm> ui_;
    ContactTableModel* contacts_model_;  // owned by the form (Qt parent)
    QMenu* PopupMenu;                    // named as the form names it; owned by the form
};

// The message text of the window in the form it is stored: Windows-1251, CR LF.
std::string StoredMessageText(const QString& text);

}  // namespace velka::gui
