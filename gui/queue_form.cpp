#include "gui/queue_form.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/status_text.h"
#include "gui/qt_text.h"
#include "messages/unread_marks.h"

namespace velka::gui {

TQueueForm::TQueueForm(QWidget* parent)
    : QDialog(parent), table_(new QTableWidget(0, 3, this)), remove_button_(new QPushButton(this)) {
    setObjectName(QStringLiteral("QueueForm"));
    setWindowTitle(QStringLiteral("Очередь отправки"));
    table_->setObjectName(QStringLiteral("QueueTable"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Кому"), QStringLiteral("Текст"), QStringLiteral("Состояние")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(0, 200);
    table_->setColumnWidth(1, 220);
    remove_button_->setObjectName(QStringLiteral("RemoveButton"));
    remove_button_->setText(QStringLiteral("Удалить из очереди"));
    remove_button_->setEnabled(false);  // until Fill brings a row to remove
    auto* close_button = new QPushButton(QStringLiteral("Закрыть"), this);
    close_button->setObjectName(QStringLiteral("CloseButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(remove_button_);
    buttons->addStretch();
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(720, 300);
    connect(close_button, &QPushButton::clicked, this, &QDialog::accept);
    connect(remove_button_, &QPushButton::clicked, this, [this] {
        if (const app::QueueRow* row = CurrentRow(); row && remove_) remove_(*row);
    });
}

void TQueueForm::Fill(const std::vector<app::QueueRow>& rows, const contacts::NumberNames& names,
                      app::Clock::time_point now) {
    // Filled again every second: the line the user chose stays chosen.
    const app::QueueRow* chosen = CurrentRow();
    const std::uint64_t chosen_id = chosen ? chosen->id : 0;
    rows_ = rows;
    table_->setRowCount(static_cast<int>(rows_.size()));
    for (int i = 0; i < table_->rowCount(); ++i) {
        const app::QueueRow& row = rows_[static_cast<std::size_t>(i)];
        const QString text = row.whole.empty()
                                 ? ToQt(messages::TextStart(std::string(row.record.text_text())))
                                 : QString::fromStdU16String(messages::TextStart(row.whole));
        table_->setItem(i, 0, new QTableWidgetItem(ToQt(names.Shown(row.record.number_text()))));
        table_->setItem(i, 1, new QTableWidgetItem(text));
        table_->setItem(i, 2, new QTableWidgetItem(ToQt(app::QueueStateText(row, now))));
    }
    int select = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (chosen_id != 0 && rows_[i].id == chosen_id) select = static_cast<int>(i);
    if (!rows_.empty()) table_->selectRow(select);
    remove_button_->setEnabled(!rows_.empty());
}

const app::QueueRow* TQueueForm::CurrentRow() const {
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    return &rows_[static_cast<std::size_t>(row)];
}

}  // namespace velka::gui
