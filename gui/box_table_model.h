// The rows of a message view: one per message of a store file, long messages joined
// (store/joined_box.h), columns "номер абонента", "дата и время", "текст сообщения";
// numbers shown with the contact's name where the book knows it; sorted by any
// column (messages/message_list.h) when the view asks. Texts are decoded only when
// the view asks for them.
#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <vector>

#include "contacts/number_names.h"
#include "store/joined_box.h"

namespace velka::gui {

class BoxTableModel final : public QAbstractTableModel {
  public:
    enum Column { kNumber, kDateTime, kText, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Shows the messages of `box` in box order, numbers named by `names`,
    // replacing what was shown.
    void Show(store::JoinedBox box, contacts::NumberNames names);
    void Clear();

    // The message of a row, whole. REQUIRES: 0 <= row < rowCount().
    store::JoinedMessage MessageAt(int row) const;
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
    std::size_t BoxRow(int row) const;

    std::optional<store::JoinedBox> box_;
    contacts::NumberNames names_;
    std::vector<std::size_t> order_;  // box rows in view order; empty: box order
};

}  // namespace velka::gui
