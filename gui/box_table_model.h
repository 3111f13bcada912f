// The rows of a message view: messages of the store files, long messages joined
// (store/joined_box.h), columns "номер абонента", "дата и время", "текст сообщения",
// "состояние" (the delivery state of a sent message);
// numbers shown with the contact's name where the book knows it; sorted by any
// column (messages/message_list.h) when the view asks. The rows are either all the
// messages of one box, in box order, or messages picked from both boxes (a search,
// a conversation), where the number of each is led by the way it went ("→" sent,
// "←" received) and sent ones are drawn in blue. Texts are decoded only when the
// view asks for them.
#pragma once

#include <QAbstractTableModel>
#include <array>
#include <optional>
#include <vector>

#include "contacts/number_names.h"
#include "messages/message_list.h"
#include "messages/message_search.h"

namespace velka::gui {

// A message of a row, and the box it belongs to.
struct ShownMessage {
    messages::Box box;
    store::JoinedMessage message;
};

// A message's text as its sender wrote it, whatever Windows-1251 lacks.
inline QString WholeTextQt(const store::JoinedMessage& message) {
    return QString::fromStdU16String(message.WholeText());
}

class BoxTableModel final : public QAbstractTableModel {
  public:
    // The state column shows a sent message's delivery state; received ones have none.
    enum Column { kNumber, kDateTime, kText, kState, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Takes the boxes to show from and the names of their numbers; a box not
    // given shows nothing. Shows every message of `shown`, in box order.
    void Show(std::array<std::optional<store::JoinedBox>, 2> boxes, contacts::NumberNames names,
              messages::Box shown);
    // Shows the messages `picked` from the boxes given last, in that order.
    void ShowPicked(std::vector<messages::MessageRef> picked);
    void Clear();

    // REQUIRES: Show was given the box.
    const store::JoinedBox& BoxOf(messages::Box box) const { return *boxes_[Slot(box)]; }
    const contacts::NumberNames& Names() const { return names_; }
    // The message of a row, whole. REQUIRES: 0 <= row < rowCount().
    ShownMessage MessageAt(int row) const;
    // The number as the number column shows it: with the contact's name if known.
    std::string Shown(std::string_view number) const { return names_.Shown(number); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // The display text of a field stops at its first zero byte; line breaks of a
    // text show as blanks, and the whole text is the tool tip.
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

  private:
    static std::size_t Slot(messages::Box box) { return box == messages::Box::Inbox ? 0 : 1; }

    std::array<std::optional<store::JoinedBox>, 2> boxes_;
    contacts::NumberNames names_;
    std::vector<messages::MessageRef> rows_;
    // The rows come from both boxes (a search, a conversation): each shows which way
    // it went.
    bool both_boxes_ = false;
};

}  // namespace velka::gui
