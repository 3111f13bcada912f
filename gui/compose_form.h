// The compose window: the recipient list text, the message text with its counter,
// and the contact book to pick recipients from. It only holds the fields; the main
// window's actComposeExecute reads what it hands back and queues the records.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/routes.h"
#include "compose/compose.h"
#include "compose/draft.h"
#include "compose/text_price.h"
#include "contacts/contact_book.h"
#include "gui/modem_choice.h"

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
    std::u16string whole;  // the text whole where `text` lost characters; else empty
    // The modem it goes through: one the user picked, or the SIM a reply answers.
    app::Route route;
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
    // With two modems or more, the window lets the user send through one of them;
    // "любой" leaves the choice to the pool (and a reply to the SIM it answers).
    void OfferModems(const std::vector<ModemChoice>& modems);

    // Closing the window without sending, once what it holds has changed, asks
    // whether to keep the text as the draft in `path`, discard it or go back. When
    // `kept` is given, the window shows that draft, and discarding it, or erasing
    // its text, empties the file; otherwise the file is touched only to keep a text.
    void KeepDraftsIn(std::string path, const std::optional<compose::Draft>& kept);
    // The window's recipients and text as a draft keeps them.
    compose::Draft CurrentDraft() const;
    // Counts as a long text will be cut (the setting of the UCS2 parts).
    void CountWith(SegmentRoom room);
    // Escape, the close button and "Отмена" come here.
    void reject() override;

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
    void ShowText(QString text);
    void ShowPrice();
    void MarkCharactersForcingUcs2(bool ucs2);
    // Adds `what` to the cheaper forms offered when `cheaper` costs less than `price`.
    void OfferCheaper(const QString& what, const std::string& cheaper,
                      const compose::TextPrice& price);
    // What closing without sending does with the draft file: false to stay open.
    bool SettleDraft();
    void DiscardKeptDraft();

    contacts::ContactBook& book_;
    Dialogs& dialogs_;
    std::unique_ptr<Ui::TComposeForm> ui_;
    ContactTableModel* contacts_model_;    // owned by the form (Qt parent)
    QMenu* PopupMenu;                      // named as the form names it; owned by the form
    QMenu* CheaperMenu;                    // the cheaper forms of the text; owned by the form
    std::string draft_path_;               // empty: closing asks nothing
    app::Route prefilled_route_;           // a reply's; kept unless the user picks a modem
    std::vector<std::string> modem_vias_;  // by ViaCombo's index less one
    compose::Draft opened_with_;           // what the window held when it opened
    bool opened_from_draft_ = false;
    SegmentRoom room_ = SegmentRoom::Designed;
};

// The message text of the window in the form it is stored: Windows-1251, CR LF,
// and whole beside it where the code page lacks some of its characters.
compose::TypedText StoredMessageText(const QString& text);

}  // namespace velka::gui
