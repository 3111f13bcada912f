#include "gui/config_form.h"

#include <QAbstractItemView>
#include <QShowEvent>
#include <algorithm>
#include <chrono>
#include <utility>

#include "gui/dialogs.h"
#include "gui/qt_text.h"
#include "platform/codepage.h"
#include "ui_config_form.h"

namespace velka::gui {
namespace {

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
    connect(ui_->ApplyBtn, &QPushButton::clicked, this, &QDialog::accept);
    // A labelled entry chosen from the list puts its port alone in the field, which
    // is what the field keeps and what fits its width.
    connect(ui_->PortBox, &QComboBox::currentIndexChanged, this, [this](int item) {
        if (item >= 0) ui_->PortBox->setEditText(ui_->PortBox->itemData(item).toString());
    });
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

// Adding an item to an editable box leaves the text being edited as it is.
void TConfigForm::OfferPort(const app::AnsweringPort& answering) {
    const QString typed = ui_->PortBox->currentText();
    ui_->PortBox->addItem(ToQt(app::PortLabel(answering)), ToQt(answering.port));
    ui_->PortBox->setEditText(typed);
    // The field keeps its designed width; the list opens wide enough for the labels.
    QAbstractItemView* list = ui_->PortBox->view();
    list->setMinimumWidth(std::max(list->minimumWidth(), list->sizeHintForColumn(0) + 24));
}

settings::DialogSettings TConfigForm::Chosen() const {
    return {FromQt(ui_->PortBox->currentText()), ui_->MailCheck->isChecked(),
            ui_->DeliveryReportCheck->isChecked(), ui_->FullUcs2PartsCheck->isChecked()};
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
