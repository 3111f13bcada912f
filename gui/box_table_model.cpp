#include "gui/box_table_model.h"

#include <QColor>
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
              const messages::SimNames& sims, int column) {
    switch (column) {
        case BoxTableModel::kSim:
            return ToQt(sims.Shown(message.sim));
        case BoxTableModel::kNumber:
            return ToQt(names.Shown(message.number));
        case BoxTableModel::kDateTime:
            return ToQt(message.datetime);
        case BoxTableModel::kState:
            return ToQt(message.state);
        default:
            return WholeTextQt(message);
    }
}

}  // namespace

void BoxTableModel::Show(std::array<std::optional<store::JoinedBox>, 2> boxes,
                         contacts::NumberNames names, messages::SimNames sims,
                         messages::Box shown) {
    beginResetModel();
    boxes_ = std::move(boxes);
    names_ = std::move(names);
    sim_names_ = std::move(sims);
    rows_.clear();
    both_boxes_ = false;
    if (const auto& box = boxes_[Slot(shown)]) {
        rows_.reserve(box->size());
        for (std::size_t row = 0; row < box->size(); ++row) rows_.push_back({shown, row});
    }
    endResetModel();
}

void BoxTableModel::ShowPicked(std::vector<messages::MessageRef> picked) {
    beginResetModel();
    rows_ = std::move(picked);
    both_boxes_ = true;
    endResetModel();
}

void BoxTableModel::Narrow(std::string_view sim) {
    if (sim.empty()) return;
    beginResetModel();
    rows_ = messages::OfSim(std::move(rows_), Given(), sim);
    endResetModel();
}

messages::PickedBoxes BoxTableModel::Given() const {
    return {boxes_[0] ? &*boxes_[0] : nullptr, boxes_[1] ? &*boxes_[1] : nullptr};
}

void BoxTableModel::Clear() {
    beginResetModel();
    boxes_ = {};
    rows_.clear();
    endResetModel();
}

ShownMessage BoxTableModel::MessageAt(int row) const {
    const messages::MessageRef& ref = rows_[static_cast<std::size_t>(row)];
    return {ref.box, BoxOf(ref.box).at(ref.row)};
}

int BoxTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    // A view counts rows in int; a box beyond that shows its first 2^31 - 1 messages.
    constexpr std::size_t kMaxRows = std::numeric_limits<int>::max();
    return static_cast<int>(std::min(rows_.size(), kMaxRows));
}

int BoxTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BoxTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const messages::Box box = rows_[static_cast<std::size_t>(index.row())].box;
    if (role == Qt::ForegroundRole && both_boxes_ && box == messages::Box::Outbox)
        return QColor(0x1F, 0x4E, 0x9A);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    QString field = Field(MessageAt(index.row()).message, names_, sim_names_, index.column());
    if (index.column() == kNumber && both_boxes_)
        field.prepend(box == messages::Box::Outbox ? QStringLiteral("→ ") : QStringLiteral("← "));
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
        case kState:
            return QStringLiteral("состояние");
        case kText:
            return QStringLiteral("текст сообщения");
        case kSim:
            return QStringLiteral("SIM");
        default:
            return {};
    }
}

void BoxTableModel::sort(int column, Qt::SortOrder order) {
    if (rows_.empty() || column < 0 || column >= kColumnCount) return;
    static constexpr messages::Column kColumns[] = {
        messages::Column::Number, messages::Column::DateTime, messages::Column::Text,
        messages::Column::State, messages::Column::Sim};
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::size_t> sorted = messages::SortedRows(
        rows_.size(), [this](std::size_t row) { return MessageAt(static_cast<int>(row)).message; },
        names_, kColumns[column], order == Qt::DescendingOrder);
    // The selection and the current row follow their messages to their new places.
    std::vector<int> place(sorted.size());
    std::vector<messages::MessageRef> rows;
    rows.reserve(sorted.size());
    for (const std::size_t old_row : sorted) {
        place[old_row] = static_cast<int>(rows.size());
        rows.push_back(rows_[old_row]);
    }
    rows_ = std::move(rows);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex& index : before) {
        after.append(this->index(place[static_cast<std::size_t>(index.row())], index.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace velka::gui
