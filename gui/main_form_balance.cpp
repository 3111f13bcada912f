// The main window's watch over the SIM's balance: the balance code asked as an
// errand on the modem at the interval the settings give, the amount in the status
// bar with the time it was read, and the notifications of a low balance.
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <chrono>

#include "app/balance.h"
#include "app/ussd_text.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "ui_main_form.h"

namespace velka::gui {
namespace {

// How often the window looks whether a check is due: the settings may change.
constexpr int kBalanceLookInterval = 60 * 1000;  // ms

QString AmountOf(double amount) {
    return ToQt(app::AmountText(amount));
}

}  // namespace

void TMainForm::BuildBalanceWatch() {
    BalanceLabel = new QLabel(ui_->StatusBar);
    BalanceLabel->setObjectName(QStringLiteral("BalanceLabel"));
    BalanceLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    BalanceLabel->setMargin(1);
    BalanceLabel->hide();
    ui_->StatusBar->addPermanentWidget(BalanceLabel);
    auto kept = app::LoadBalanceReading(core_.FilePath(app::kBalanceFile));
    if (kept) {
        balance_ = std::move(*kept);
    } else {
        dialogs_.Warning(this, SystemTextToQt(kept.error().message));
    }
    ShowBalance();
    BalanceTimer = new QTimer(this);
    BalanceTimer->setInterval(kBalanceLookInterval);
    connect(BalanceTimer, &QTimer::timeout, this, &TMainForm::CheckBalanceWhenDue);
    BalanceTimer->start();
    QTimer::singleShot(0, this, &TMainForm::CheckBalanceWhenDue);
}

app::BalanceSettings TMainForm::BalanceWatchSettings() const {
    return app::ReadBalanceSettings(core_.FilePath(app::kConfigFile));
}

// A check runs once at start-up (the balance may have changed while the program was
// closed) and then every period; one at a time.
void TMainForm::CheckBalanceWhenDue() {
    if (balance_asked_) return;
    const app::BalanceSettings settings = BalanceWatchSettings();
    const auto period = app::BalanceCheckPeriod(settings);
    if (!period) return;
    if (last_balance_check_ && app::Clock::now() - *last_balance_check_ < *period) return;
    CheckBalance(settings.code);
}

void TMainForm::CheckBalance(const std::string& code) {
    balance_asked_ = true;
    last_balance_check_ = app::Clock::now();
    core_.RunOnModem({[this, code](modem::Session& session) {
                          const modem::UssdAnswer answer =
                              session.Ussd(codepage::Utf8ToUtf16(code));
                          // A balance code answered with a question: nobody answers it.
                          if (answer.status == modem::UssdStatus::Question) session.EndUssd();
                          PostToWindow([this, code, answer] { BalanceAnswered(code, answer); });
                      },
                      [this](const Error&) { PostToWindow([this] { balance_asked_ = false; }); }});
}

void TMainForm::BalanceAnswered(const std::string& code, const modem::UssdAnswer& answer) {
    balance_asked_ = false;
    if (!app::UssdAnswered(answer)) {
        BalanceLabel->setToolTip(ToQt(app::UssdOutcomeText(answer)));
        return;
    }
    balance_ = app::BalanceReading{code, FormatDateTime(NowLocal()), app::ReadBalance(answer.text),
                                   answer.text};
    refusal_told_ = false;
    if (const Status kept = app::SaveBalanceReading(core_.FilePath(app::kBalanceFile), *balance_);
        !kept)
        dialogs_.Warning(this, SystemTextToQt(kept.error().message));
    ShowBalance();
    const app::BalanceSettings settings = BalanceWatchSettings();
    if (app::BalanceLow(*balance_, settings)) {
        notifier_->Notify("Низкий баланс", "На счёте " + AmountOf(*balance_->amount) + ", порог " +
                                               AmountOf(*settings.threshold) + ".");
    }
}

void TMainForm::ShowBalance() {
    if (!balance_) return;
    const QString amount = balance_->amount ? AmountOf(*balance_->amount) : QString("нет суммы");
    BalanceLabel->setText("Баланс: " + amount + " (" + ToQt(balance_->read_at) + ")");
    BalanceLabel->setToolTip(QString::fromStdU16String(balance_->text));
    BalanceLabel->show();
}

// A refused send tells of a low balance once per reading: the refusals repeat with
// every retry.
void TMainForm::TellLowBalanceOnRefusal() {
    if (!balance_ || refusal_told_) return;
    const app::BalanceSettings settings = BalanceWatchSettings();
    if (!app::BalanceLow(*balance_, settings)) return;
    refusal_told_ = true;
    notifier_->Notify("Отправка отклонена", "Баланс низкий: " + AmountOf(*balance_->amount) +
                                                " (порог " + AmountOf(*settings.threshold) +
                                                "). Пополните счёт.");
}

}  // namespace velka::gui
