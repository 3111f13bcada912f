// The rows of a contact list view: caption "абонент" (the name), then "номер
// телефона" and "группа", in the order a listing or an edit put them. A checkable
// model (the compose window's list) gives each row a check box in its first
// column; the ticks belong to the rows shown and go with them.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "contacts/contact_book.h"

namespace velka::gui {

class ContactTableModel final : public QAbstractTableModel {
  public:
    enum Column { kName, kNumber, kGroup, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void SetCheckable(bool checkable) { checkable_ = checkable; }

    void SetRows(std::vector<contacts::Contact> rows);
    void Append(contacts::Contact row);
    // REQUIRES: 0 <= row < rowCount() for the three below.
    void Replace(int row, contacts::Contact contact);
    void Remove(int row);
    const contacts::Contact& At(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    bool IsChecked(int row) const { return checked_[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  private:
    bool IsCheckBox(const QModelIndex& index) const;

    std::vector<contacts::Contact> rows_;
    std::vector<bool> checked_;  // one per row; all false unless checkable
    bool checkable_ = false;
};

}  // namespace velka::gui
