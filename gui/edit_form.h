// The contact dialog: name, number and group of one contact. It only holds the
// fields; the main window's handlers check what it hands back and store it.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_book.h"

namespace Ui {
class TEditForm;
}

namespace velka::gui {

class TEditForm final : public QDialog {
  public:
    // Centred on `parent`, on top of other windows; the caller sets the caption.
    explicit TEditForm(QWidget* parent);
    ~TEditForm() override;

    // Empties the name, the number, and the group's text and items.
    void ClearFields();
    // Sets the name, the number and the group's text, in that order.
    void FillFields(const contacts::Contact& contact);
    // Offers the groups in the drop-down list; the group's text stays.
    void SetGroups(const std::vector<std::string>& groups);
    // The three texts as typed.
    contacts::Contact Entry() const;

  private:
    std::unique_ptr<Ui::TEditForm> ui_;
};

}  // namespace velka::gui
