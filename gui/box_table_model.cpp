#include "gui/box_table_model.h"

#include <limits>

#include "gui/qt_text.h"

namespace velka::gui {
namespace {

QString OneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString Field(const packet& record, int column) {
    switch (column) {
        case BoxTableModel::kNumber:
            return ToQt(record.number_text());
        case BoxTableModel::kDateTime:
            return ToQt(record.datetime_text());
        default:
            return ToQt(record.text_text());
    }
}

}  // namespace

void BoxTableModel::Show(store::BoxFile box) {
    beginResetModel();
    box_ = std::move(box);
    endResetModel();
}

void BoxTableModel::Clear() {
    beginResetModel();
    box_.reset();
    endResetModel();
}

int BoxTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !box_) return 0;
    // A view counts rows in int; a box beyond that shows its first 2^31 - 1 records.
    constexpr std::size_t kMaxRows = std::numeric_limits<int>::max();
    return static_cast<int>(std::min(box_->size(), kMaxRows));
}

int BoxTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BoxTableModel::data(const QModelIndex& index, int role) const {
    if (!box_ || !index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const packet record = box_->at(static_cast<std::size_t>(index.row()));
    const QString field = Field(record, index.column());
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

}  // namespace velka::gui
