#include "gui/config_form.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QShowEvent>
#include <QTableWidget>
#include <algorithm>
#include <chrono>
#include <utility>

#include "gui/dialogs.h"
#include "gui/qt_text.h"
#include "platform/codepage.h"
#include "ui_config_form.h"

namespace velka::gui {
namespace {

enum PoolColumn { kPortColumn = 0, kSendsColumn = 1, kReceivesColumn = 2 };

// A labelled entry chosen from a port list puts its port alone in the field, which
// is what the field keeps and what fits its width.
void KeepPortAlone(QComboBox& box) {
    QObject::connect(&box, &QComboBox::currentIndexChanged, &box, [&box](int item) {
        if (item >= 0) box.setEditText(box.itemData(item).toString());
    });
}

// Adding an item to an editable box leaves the text being edited as it is; the
// field keeps its designed width, and the list opens wide enough for the labels.
void AddPortItem(QComboBox& box, const QString& label, const QString& port) {
    const QString typed = box.currentText();
    box.addItem(label, port);
    box.setEditText(typed);
    QAbstractItemView* list = box.view();
    list->setMinimumWidth(std::max(list->minimumWidth(), list->sizeHintForColumn(0) + 24));
}

QTableWidgetItem* SwitchItem(bool on) {
    auto* item = new QTableWidgetItem();
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    return item;
}

std::string PortText(std::int32_t port) {
    std::string text;
    if (port != 0) text.append("COM").append(std::to_string(port));
    return text;
}

// Under the limits: what the SIM sent against them, or why that cannot be told.
std::string SimLines(const app::SimStanding& sim) {
    if (!sim.settings) return app::SimSettingsUnreadableText(sim.settings.error());
    if (!sim.usage) return app::SimCountersUnreadableText(sim.usage.error());
    return app::SimUsageText(*sim.usage, sim.settings->limits);
}

}  // namespace

// A fixed border with only a close box: closing it is the one way out besides
// "Применить", and writes nothing.
TConfigForm::TConfigForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TConfigForm>()) {
    ui_->setupUi(this);
    connect(ui_->ApplyBtn, &QPushButton::clicked, this, [this] {
        if (!apply_check_ || apply_check_()) accept();
    });
    KeepPortAlone(*ui_->PortBox);
    // The first row shows the first modem's port as the port field holds it.
    connect(ui_->PortBox, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (QTableWidgetItem* first = ui_->PoolTable->item(0, kPortColumn)) first->setText(text);
    });
    QHeaderView* columns = ui_->PoolTable->horizontalHeader();
    columns->setSectionResizeMode(kPortColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(kSendsColumn, QHeaderView::ResizeToContents);
    columns->setSectionResizeMode(kReceivesColumn, QHeaderView::ResizeToContents);
    pool_note_ = ui_->PoolNoteLabel->text();
    connect(ui_->PoolAddBtn, &QPushButton::clicked, this, [this] {
        AddPoolRow({});
        const int added = ui_->PoolTable->rowCount() - 1;
        ui_->PoolTable->setCurrentCell(added, kPortColumn);
        ui_->PoolTable->cellWidget(added, kPortColumn)->setFocus();
        UpdatePoolButtons();
    });
    connect(ui_->PoolRemoveBtn, &QPushButton::clicked, this, [this] {
        if (const int row = ui_->PoolTable->currentRow(); row > 0) ui_->PoolTable->removeRow(row);
        UpdatePoolButtons();
    });
    connect(ui_->PoolTable, &QTableWidget::currentCellChanged, this,
            [this] { UpdatePoolButtons(); });
    connect(ui_->GatewayRenewBtn, &QPushButton::clicked, this, [this] {
        if (!renew_token_) return;
        if (const auto token = renew_token_()) ui_->GatewayTokenEdit->setText(ToQt(*token));
    });
    FixSizeToContents(*this);
}

TConfigForm::~TConfigForm() = default;

void TConfigForm::Prepare(const std::vector<PortItem>& ports,
                          const settings::DialogSettings& shown) {
    ui_->PortBox->clear();
    for (const PortItem& item : ports) ui_->PortBox->addItem(ToQt(item.label), ToQt(item.port));
    ui_->PortBox->setEditText(ToQt(shown.port));
    ui_->MailCheck->setChecked(shown.reception);
    ui_->DeliveryReportCheck->setChecked(shown.delivery_reports);
    ui_->FullUcs2PartsCheck->setChecked(shown.full_ucs2_segments);
}

void TConfigForm::OfferPort(const app::AnsweringPort& answering) {
    const QString label = ToQt(app::PortLabel(answering));
    const QString port = ToQt(answering.port);
    AddPortItem(*ui_->PortBox, label, port);
    for (int row = 1; row < ui_->PoolTable->rowCount(); ++row)
        AddPortItem(*PoolPortBox(row), label, port);
}

settings::DialogSettings TConfigForm::Chosen() const {
    return {FromQt(ui_->PortBox->currentText()), ui_->MailCheck->isChecked(),
            ui_->DeliveryReportCheck->isChecked(), ui_->FullUcs2PartsCheck->isChecked()};
}

void TConfigForm::PreparePool(const Result<std::vector<settings::PoolModem>>& pool) {
    ui_->PoolTable->setRowCount(0);
    const std::vector<settings::PoolModem> modems =
        pool && !pool->empty() ? *pool : std::vector<settings::PoolModem>{{}};
    AddPoolRow(
        {FromQt(ui_->PortBox->currentText()), modems.front().sends, modems.front().receives});
    for (std::size_t i = 1; i < modems.size(); ++i)
        AddPoolRow({PortText(modems[i].port), modems[i].sends, modems[i].receives});
    ui_->PoolTable->setEnabled(pool.ok());
    ui_->PoolNoteLabel->setText(
        pool ? pool_note_
             : ToQt(codepage::FromUtf8("Список модемов не прочитан из Config.ini: ") +
                    pool.error().message));
    UpdatePoolButtons();
}

std::vector<settings::PoolRow> TConfigForm::ChosenPoolRows() const {
    const auto checked = [this](int row, int column) {
        return ui_->PoolTable->item(row, column)->checkState() == Qt::Checked;
    };
    std::vector<settings::PoolRow> rows;
    for (int row = 0; row < ui_->PoolTable->rowCount(); ++row) {
        const QString port =
            row == 0 ? ui_->PortBox->currentText() : PoolPortBox(row)->currentText();
        rows.push_back(
            {FromQt(port.trimmed()), checked(row, kSendsColumn), checked(row, kReceivesColumn)});
    }
    return rows;
}

void TConfigForm::SetApplyCheck(std::function<bool()> check) {
    apply_check_ = std::move(check);
}

// The first row's port is the port field's, shown and not edited there; a later
// row gets a port box of its own offering the ports the port field offers.
void TConfigForm::AddPoolRow(const settings::PoolRow& shown) {
    QTableWidget& table = *ui_->PoolTable;
    const int row = table.rowCount();
    table.insertRow(row);
    if (row == 0) {
        auto* port = new QTableWidgetItem(ToQt(shown.port));
        port->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        port->setToolTip(
            ToQt(codepage::FromUtf8("Порт первого модема выбирается выше, в списке устройств")));
        table.setItem(row, kPortColumn, port);
    } else {
        table.setCellWidget(row, kPortColumn, MakePoolPortBox(ToQt(shown.port)));
    }
    table.setItem(row, kSendsColumn, SwitchItem(shown.sends));
    table.setItem(row, kReceivesColumn, SwitchItem(shown.receives));
}

QComboBox* TConfigForm::MakePoolPortBox(const QString& port) {
    auto* box = new QComboBox();
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (int item = 0; item < ui_->PortBox->count(); ++item)
        AddPortItem(*box, ui_->PortBox->itemText(item), ui_->PortBox->itemData(item).toString());
    box->setEditText(port);
    KeepPortAlone(*box);
    box->installEventFilter(this);
    box->lineEdit()->installEventFilter(this);
    return box;
}

QComboBox* TConfigForm::PoolPortBox(int row) const {
    return qobject_cast<QComboBox*>(ui_->PoolTable->cellWidget(row, kPortColumn));
}

void TConfigForm::UpdatePoolButtons() {
    const bool editable = ui_->PoolTable->isEnabled();
    ui_->PoolAddBtn->setEnabled(editable && ui_->PoolTable->rowCount() < settings::kMostModems);
    ui_->PoolRemoveBtn->setEnabled(editable && ui_->PoolTable->currentRow() > 0);
}

bool TConfigForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        for (int row = 1; row < ui_->PoolTable->rowCount(); ++row) {
            QWidget* box = PoolPortBox(row);
            if (box == watched || box->isAncestorOf(qobject_cast<QWidget*>(watched)))
                ui_->PoolTable->setCurrentCell(row, kPortColumn);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TConfigForm::PrepareBalance(const app::BalanceSettings& shown) {
    ui_->BalanceCodeEdit->setText(ToQt(shown.code));
    ui_->BalanceIntervalBox->setCurrentIndex(static_cast<int>(shown.interval));
    ui_->BalanceThresholdEdit->setText(shown.threshold ? ToQt(app::AmountText(*shown.threshold))
                                                       : QString());
}

app::BalanceSettings TConfigForm::ChosenBalance() const {
    return {FromQt(ui_->BalanceCodeEdit->text().trimmed()),
            static_cast<app::BalanceInterval>(ui_->BalanceIntervalBox->currentIndex()),
            app::ReadBalance(ui_->BalanceThresholdEdit->text().toStdU16String())};
}

void TConfigForm::PrepareGateway(const gateway::GatewaySettings& shown, const std::string& token,
                                 std::function<std::optional<std::string>()> renew) {
    ui_->GatewayCheck->setChecked(shown.enabled);
    ui_->GatewayAddressEdit->setText(ToQt(shown.address));
    ui_->GatewayPortBox->setValue(shown.port);
    ui_->GatewayTokenEdit->setText(ToQt(token));
    renew_token_ = std::move(renew);
}

gateway::GatewaySettings TConfigForm::ChosenGateway() const {
    const QString address = ui_->GatewayAddressEdit->text().trimmed();
    return {ui_->GatewayCheck->isChecked(),
            address.isEmpty() ? std::string(gateway::kLoopback) : FromQt(address),
            ui_->GatewayPortBox->value()};
}

void TConfigForm::PrepareSimLimits(const std::optional<app::SimStanding>& sim) {
    const settings::SimSettings shown =
        sim && sim->settings ? *sim->settings : settings::SimSettings{};
    ui_->SimKeyLabel->setText(
        ToQt(sim ? codepage::FromUtf8("SIM-карта ") + sim->key
                 : codepage::FromUtf8("SIM-карта ещё не известна: модем не опрошен.")));
    ui_->SimNameEdit->setText(ToQt(shown.name));
    const std::pair<QSpinBox*, int> limits[] = {
        {ui_->SimPerHourBox, shown.limits.per_hour},
        {ui_->SimPerDayBox, shown.limits.per_day},
        {ui_->SimRecipientsPerDayBox, shown.limits.recipients_per_day},
        {ui_->SimRecipientsPerMonthBox, shown.limits.recipients_per_month},
        {ui_->SimPauseBox, static_cast<int>(shown.limits.pause.count())},
    };
    const bool editable = sim && sim->settings;
    for (const auto& [box, value] : limits) {
        box->setValue(value);
        box->setEnabled(editable);
    }
    ui_->SimNameEdit->setEnabled(editable);
    ui_->SimUsageLabel->setText(ToQt(sim ? SimLines(*sim) : std::string()));
}

settings::SimSettings TConfigForm::ChosenSimSettings() const {
    return {FromQt(ui_->SimNameEdit->text().trimmed()),
            {ui_->SimPerHourBox->value(), ui_->SimPerDayBox->value(),
             ui_->SimRecipientsPerDayBox->value(), ui_->SimRecipientsPerMonthBox->value(),
             std::chrono::seconds(ui_->SimPauseBox->value())}};
}

void TConfigForm::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->frameGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

}  // namespace velka::gui
