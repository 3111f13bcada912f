// The queue view: a dialog listing the records waiting to be sent (recipient with
// the contact's name, start of the text, state), opened from the quick menu's
// "Очередь". It only shows; the window removes a record through the core and
// fills the list again. Built in code: a list and two buttons.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/queue_view.h"
#include "contacts/number_names.h"

class QPushButton;
class QTableWidget;

namespace velka::gui {

class TQueueForm final : public QDialog {
  public:
    explicit TQueueForm(QWidget* parent = nullptr);

    // Shows the rows, states worded at `now`.
    void Fill(const std::vector<app::QueueRow>& rows, const contacts::NumberNames& names,
              app::Clock::time_point now);
    // The row at the list's current line, if any.
    const app::QueueRow* CurrentRow() const;
    // Run by "Удалить из очереди" on the current row.
    void OnRemove(std::function<void(const app::QueueRow&)> remove) { remove_ = std::move(remove); }

  private:
    QTableWidget* table_;         // owned by the form (Qt parent)
    QPushButton* remove_button_;  // owned by the form (Qt parent)
    std::vector<app::QueueRow> rows_;
    std::function<void(const app::QueueRow&)> remove_;
};

}  // namespace velka::gui
