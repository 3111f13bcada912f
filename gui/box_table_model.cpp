#include "gui/box_table_model.h"

#include <limits>

#include "gui/qt_text.h"
#include "messages/message_list.h"

namespace velka::gui {
namespace {

QString OneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString Field(const store::JoinedMessage& message, const contacts::NumberNames& names,
              int column) {
    switch (column) {
        case BoxTableModel::kNumber:
            return ToQt(names.Shown(message.number));
        case BoxTableModel::kDateTime:
            return ToQt(message.datetime);
        default:
            return ToQt(message.text);
    }
}

}  // namespace

void BoxTableModel::Show(store::JoinedBox box, contacts::NumberNames names) {
    beginResetModel();
    box_ = std::move(box);
    names_ = std::move(names);
    order_.clear();
    endResetModel();
}

void BoxTableModel::Clear() {
    beginResetModel();
    box_.reset();
    order_.clear();
    endResetModel();
}

std::size_t BoxTableModel::BoxRow(int row) const {
    const auto index = static_cast<std::size_t>(row);
    return order_.empty() ? index : order_[index];
}

store::JoinedMessage BoxTableModel::MessageAt(int row) const {
    return box_->at(BoxRow(row));
}

int BoxTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !box_) return 0;
    // A view counts rows in int; a box beyond that shows its first 2^31 - 1 messages.
    constexpr std::size_t kMaxRows = std::numeric_limits<int>::max();
    return static_cast<int>(std::min(box_->size(), kMaxRows));
}

int BoxTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BoxTableModel::data(const QModelIndex& index, int role) const {
    if (!box_ || !index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const QString field = Field(MessageAt(index.row()), names_, index.column());
    if (index.column() != kText) return field;
    return role == Qt::ToolTipRole ? field : OneLine(field);
}

QVariant BoxTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kNumber:
            return QStringLiteral("номер абонента");
        case kDateTime:
            return QStringLiteral("дата и время");
        case kText:
            return QStringLiteral("текст сообщения");
        default:
            return {};
    }
}

void BoxTableModel::sort(int column, Qt::SortOrder order) {
    if (!box_ || column < 0 || column >= kColumnCount) return;
    static constexpr messages::Column kColumns[] = {messages::Column::Number,
                                                    messages::Column::DateTime,
                                                    messages::Column::Text};
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The selection and the current row follow their messages to their new places.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> messages_before;
    for (const QModelIndex& index : before) messages_before.push_back(BoxRow(index.row()));
    order_ = messages::SortedRows(*box_, names_, kColumns[column], order == Qt::DescendingOrder);
    std::vector<int> place(order_.size());
    for (std::size_t row = 0; row < order_.size(); ++row) place[order_[row]] = static_cast<int>(row);
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i) {
        after.append(index(place[messages_before[static_cast<std::size_t>(i)]], before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace velka::gui
