#include "gui/contact_table_model.h"

#include "gui/qt_text.h"

namespace velka::gui {

void ContactTableModel::SetRows(std::vector<contacts::Contact> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    checked_.assign(rows_.size(), false);
    endResetModel();
}

void ContactTableModel::Append(contacts::Contact row) {
    const int at = rowCount();
    beginInsertRows({}, at, at);
    rows_.push_back(std::move(row));
    checked_.push_back(false);
    endInsertRows();
}

void ContactTableModel::Replace(int row, contacts::Contact contact) {
    rows_[static_cast<std::size_t>(row)] = std::move(contact);
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void ContactTableModel::Remove(int row) {
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    checked_.erase(checked_.begin() + row);
    endRemoveRows();
}

int ContactTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ContactTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

bool ContactTableModel::IsCheckBox(const QModelIndex& index) const {
    return checkable_ && index.isValid() && index.column() == kName;
}

Qt::ItemFlags ContactTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (IsCheckBox(index)) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool ContactTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !IsCheckBox(index)) return false;
    checked_[static_cast<std::size_t>(index.row())] =
        static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant ContactTableModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::CheckStateRole && IsCheckBox(index))
        return IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    const contacts::Contact& contact = At(index.row());
    switch (index.column()) {
        case kName:
            return ToQt(contact.name);
        case kNumber:
            return ToQt(contact.number);
        default:
            return ToQt(contact.group);
    }
}

QVariant ContactTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kName:
            return QStringLiteral("абонент");
        case kNumber:
            return QStringLiteral("номер телефона");
        case kGroup:
            return QStringLiteral("группа");
        default:
            return {};
    }
}

}  // namespace velka::gui
