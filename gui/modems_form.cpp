#include "gui/modems_form.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/qt_text.h"

namespace velka::gui {

TModemsForm::TModemsForm(QWidget* parent) : QDialog(parent), table_(new QTableWidget(0, 8, this)) {
    setObjectName(QStringLiteral("ModemsForm"));
    setWindowTitle(QStringLiteral("Модемы"));
    table_->setObjectName(QStringLiteral("ModemsTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Состояние"),
                                       QStringLiteral("Оператор"), QStringLiteral("Сигнал"),
                                       QStringLiteral("SIM"), QStringLiteral("IMEI"),
                                       QStringLiteral("Сегодня"), QStringLiteral("За час")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* close_button = new QPushButton(QStringLiteral("Закрыть"), this);
    close_button->setObjectName(QStringLiteral("CloseButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(900, 320);
    connect(close_button, &QPushButton::clicked, this, &QDialog::accept);
}

void TModemsForm::Fill(const std::vector<app::PoolModemCells>& modems) {
    table_->setRowCount(static_cast<int>(modems.size()));
    for (int i = 0; i < table_->rowCount(); ++i) {
        const app::PoolModemCells& modem = modems[static_cast<std::size_t>(i)];
        int column = 0;
        for (const std::string* cell :
             {&modem.port, &modem.state, &modem.operator_name, &modem.signal, &modem.sim,
              &modem.imei, &modem.today, &modem.hour})
            table_->setItem(i, column++, new QTableWidgetItem(ToQt(*cell)));
    }
    table_->resizeColumnsToContents();
}

}  // namespace velka::gui
