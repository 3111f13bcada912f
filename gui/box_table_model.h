// The rows of a message view: one per record of a store file, in file order,
// columns "номер абонента", "дата и время", "текст сообщения". Records are decoded
// only when the view asks for them, so a box of any size opens at once.
#pragma once

#include <QAbstractTableModel>
#include <optional>

#include "store/store_file.h"

namespace velka::gui {

class BoxTableModel final : public QAbstractTableModel {
  public:
    enum Column { kNumber, kDateTime, kText, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Shows the records of `box`, replacing what was shown.
    void Show(store::BoxFile box);
    void Clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // The display text of a field stops at its first zero byte; line breaks of a
    // text show as blanks, and the whole text is the tool tip.
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::optional<store::BoxFile> box_;
};

}  // namespace velka::gui
