#include <QCoreApplication>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "app/status_text.h"
#include "gui/box_table_model.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/modems_form.h"
#include "gui/qt_text.h"
#include "gui/queue_form.h"
#include "platform/com_name.h"
#include "ui_main_form.h"

namespace velka::gui {

// ---- The status bar, the queue view, notifications and the tray ----

void TMainForm::ShowFromTray() {
    showNormal();
    activateWindow();
}

// Qt ends the program by itself only when the last visible window closes, and
// the window may be hidden to the tray.
void TMainForm::QuitFromTray() {
    close();
    QCoreApplication::quit();
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Hidden once the change is done: hiding inside the state change would leave
    // some window managers with a minimised window that never comes back.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && notifier_ != nullptr &&
        notifier_->InTray())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) hide();
        });
}

void TMainForm::BuildStatusArea() {
    // Each part in a sunken panel of its own, so that the parts read apart; a part
    // with nothing to say is hidden rather than shown as an empty panel.
    ModemLabel = new QLabel(ui_->StatusBar);
    QueueLabel = new QLabel(ui_->StatusBar);
    BulkLabel = new QLabel(ui_->StatusBar);
    WebhookLabel = new QLabel(ui_->StatusBar);
    FailureLabel = new ElidedLabel(ui_->StatusBar);
    for (QLabel* label :
         {ModemLabel, QueueLabel, BulkLabel, WebhookLabel, static_cast<QLabel*>(FailureLabel)}) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMargin(1);
        label->hide();
        // The failure takes what room the others leave, and shortens its middle to it.
        ui_->StatusBar->addWidget(label, label == FailureLabel ? 1 : 0);
    }
    ModemLabel->setObjectName(QStringLiteral("ModemLabel"));
    QueueLabel->setObjectName(QStringLiteral("QueueLabel"));
    BulkLabel->setObjectName(QStringLiteral("BulkLabel"));
    WebhookLabel->setObjectName(QStringLiteral("WebhookLabel"));
    FailureLabel->setObjectName(QStringLiteral("FailureLabel"));

    auto* queue_button = new QToolButton(ui_->qmInBox->parentWidget());
    queue_button->setObjectName(QStringLiteral("qmQueue"));
    queue_button->setText(QStringLiteral("Очередь"));
    queue_button->setIcon(QIcon(QStringLiteral(":/pictures/queue.svg")));
    queue_button->setMinimumSize(ui_->qmInBox->minimumSize());
    queue_button->setMaximumSize(ui_->qmInBox->maximumSize());
    queue_button->setIconSize(ui_->qmInBox->iconSize());
    queue_button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    queue_button->setAutoRaise(true);
    auto* menu_layout = qobject_cast<QBoxLayout*>(ui_->qmInBox->parentWidget()->layout());
    menu_layout->insertWidget(menu_layout->indexOf(ui_->qmInBox) + 1, queue_button);
    connect(queue_button, &QToolButton::clicked, this, &TMainForm::qmQueueClick);
    connect(ui_->mmModems, &QAction::triggered, this, &TMainForm::mmModemsClick);

    TrayMenu = new QMenu(this);
    TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
    connect(TrayMenu->addAction(QStringLiteral("Открыть")), &QAction::triggered, this,
            &TMainForm::ShowFromTray);
    connect(TrayMenu->addAction(QStringLiteral("Выход")), &QAction::triggered, this,
            &TMainForm::QuitFromTray);
    tray_ = std::make_unique<TrayNotifier>(*TrayMenu, [this] { ShowFromTray(); });
    notifier_ = tray_.get();

    connect(ui_->MessageTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TMainForm::MarkShownRead);
    auto marks = messages::UnreadMarks::Load(core_.FilePath(messages::kUnreadFile));
    if (marks) {
        unread_ = std::move(*marks);
    } else {
        dialogs_.Warning(this, SystemTextToQt(marks.error().message));
    }
    ShowUnreadCount();

    StatusSoonTimer = new QTimer(this);
    StatusSoonTimer->setSingleShot(true);
    StatusSoonTimer->setInterval(100);
    connect(StatusSoonTimer, &QTimer::timeout, this, &TMainForm::RefreshStatusBar);
    StatusTimer = new QTimer(this);
    StatusTimer->setInterval(1000);
    connect(StatusTimer, &QTimer::timeout, this, &TMainForm::RefreshStatusBar);
    StatusTimer->start();
    BuildBalanceWatch();
}

void TMainForm::PostToWindow(std::function<void()> work) {
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work)] {
            if (!closed_) work();
        },
        Qt::QueuedConnection);
}

app::WorkerEvents TMainForm::WithStatusEvents(app::WorkerEvents events) {
    events.on_send = [this, told = std::move(events.on_send)](std::uint64_t id,
                                                              app::SendOutcome outcome) {
        if (told) told(id, outcome);
        PostToWindow([this, outcome] {
            if (outcome == app::SendOutcome::Sent) {
                last_failure_.reset();
                sim_rest_.reset();
            }
            RefreshStatusBarSoon();
        });
    };
    events.on_received = [this, told = std::move(events.on_received)](
                             const std::vector<store::ReceivedRecord>& stored) {
        if (told) told(stored);
        PostToWindow([this, stored] { MessagesArrived(stored); });
    };
    events.on_modem_state =
        [this, told = std::move(events.on_modem_state)](const modem::ModemStatus& status) {
            if (told) told(status);
            if (webhooks_) webhooks_->ModemStateChanged(status);
            PostToWindow([this, status] {
                modem_status_ = status;
                RefreshStatusBarSoon();
            });
        };
    events.on_modem_info = [this](const modem::ModemInfo& info) {
        PostToWindow([this, info] {
            modem_info_ = info;
            RefreshStatusBarSoon();
        });
    };
    events.on_reception = [this](modem::Reception mode) {
        PostToWindow([this, mode] { ModemLabel->setToolTip(ToQt(app::ReceptionText(mode))); });
    };
    events.on_sim_rest = [this](const app::SimRest& rest) {
        PostToWindow([this, rest] {
            sim_rest_ = rest;
            RefreshStatusBarSoon();
        });
    };
    events.on_send_failed = [this](const app::SendFailure& failure) {
        PostToWindow([this, failure] {
            last_failure_ = failure;
            TellLowBalanceOnRefusal();
            RefreshStatusBarSoon();
        });
    };
    return events;
}

// The worker tells of hundreds of sends a second in a bulk; the bar shows what they
// add up to a tenth of a second after the first, in one refresh.
void TMainForm::RefreshStatusBarSoon() {
    if (!StatusSoonTimer->isActive()) StatusSoonTimer->start();
}

void TMainForm::RefreshStatusBar() {
    const auto now = app::Clock::now();
    const app::AppCore::QueueSummary queue = core_.SummaryOfQueue();
    const std::string port = ComName(core_.PortNumber());
    QString modem =
        core_.WorkerRunning() ? ToQt(app::ModemLine(port, modem_status_, modem_info_)) : QString();
    if (core_.ModemCount() > 1) ShowPool(modem);
    ShowStatusPart(*ModemLabel, modem);
    ShowStatusPart(*QueueLabel, ToQt(app::QueueLine(queue.count)));
    ShowStatusPart(*BulkLabel, ToQt(app::BulkLine(queue.bulk)));
    ShowStatusPart(*WebhookLabel, webhooks_
                                      ? ToQt(webhooks::FailingHooksLine(webhooks_->FailingHooks()))
                                      : QString());
    // A refusal says more than a limit's rest, which waits for nothing the user can mend.
    const QString failure =
        last_failure_
            ? ToQt(app::FailureLine(last_failure_->reason, last_failure_->next_attempt, now))
        : sim_rest_ ? ToQt(sim_rest_->text)
                    : QString();
    FailureLabel->SetWholeText(failure);
    FailureLabel->setVisible(!failure.isEmpty());
    notifier_->ShowModemState(modem_status_.state, modem);
    if (queue_form_) FillQueueForm();
}

void TMainForm::ShowStatusPart(QLabel& part, const QString& text) {
    part.setText(text);
    part.setVisible(!text.isEmpty());
}

void TMainForm::MessagesArrived(const std::vector<store::ReceivedRecord>& stored) {
    std::vector<packet> records;
    records.reserve(stored.size());
    for (const store::ReceivedRecord& kept : stored) records.push_back(kept.record);
    if (unread_ && unread_->AddUnread(records)) SaveUnreadMarks();
    ShowUnreadCount();
    const contacts::NumberNames names(book_.FullListing().rows);
    const messages::ArrivalNotice notice = messages::NoticeOf(stored, names);
    notifier_->Notify(ToQt(notice.title), QString::fromStdU16String(notice.text));
    ShowFlashMessages(stored, names);
}

void TMainForm::ShowFlashMessages(const std::vector<store::ReceivedRecord>& stored,
                                  const contacts::NumberNames& names) {
    for (const messages::FlashNotice& flash : messages::FlashNoticesOf(stored, names)) {
        // Not through dialogs_: it must not wait for the user, and several may stand.
        auto* box =
            new QMessageBox(QMessageBox::Information, QStringLiteral("Флеш-сообщение"),
                            QStringLiteral("От: ") + ToQt(flash.title), QMessageBox::Ok, this);
        box->setInformativeText(QString::fromStdU16String(flash.text));
        box->setObjectName(QStringLiteral("FlashMessage"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

void TMainForm::MarkShownRead() {
    const auto shown = CurrentMessage();
    if (!shown || shown->box != messages::Box::Inbox || !unread_) return;
    if (!unread_->MarkRead(box_model_->BoxOf(messages::Box::Inbox), shown->message)) return;
    SaveUnreadMarks();
    ShowUnreadCount();
}

// A mark that cannot be saved costs no message: the warning is said once, and the
// marks go on in memory until a save succeeds.
void TMainForm::SaveUnreadMarks() {
    const Status saved = unread_->Save();
    if (saved) {
        unread_failing_ = false;
    } else if (!std::exchange(unread_failing_, true)) {
        dialogs_.Warning(this,
                         QStringLiteral("Не удалось сохранить отметки непрочитанных сообщений.\n") +
                             SystemTextToQt(saved.error().message));
    }
}

void TMainForm::ShowUnreadCount() {
    std::size_t unread = 0;
    if (unread_) {
        if (const auto inbox = store::JoinedBox::Open(core_.FilePath(app::kInboxFile))) {
            unread = unread_->CountUnread(*inbox);
        }
    }
    ui_->qmInBox->setText(unread == 0 ? QStringLiteral("Принятые")
                                      : QStringLiteral("Принятые (%1)").arg(unread));
}

void TMainForm::qmQueueClick() {
    TQueueForm form(this);
    form.OnRemove([this](const app::QueueRow& row) { RemoveFromQueue(row); });
    queue_form_ = &form;
    FillQueueForm();
    dialogs_.ShowModal(form);
    queue_form_ = nullptr;
}

void TMainForm::mmModemsClick() {
    TModemsForm form(this);
    modems_form_ = &form;
    RefreshStatusBar();
    dialogs_.ShowModal(form);
    modems_form_ = nullptr;
}

std::vector<app::PoolModemCells> TMainForm::PoolCells(
    const std::vector<app::AppCore::PoolModemView>& modems) const {
    std::vector<app::PoolModemCells> cells;
    for (const app::AppCore::PoolModemView& modem : modems) {
        // A section that cannot be read shows the SIM by its key, without limits.
        const auto sim = settings::ReadSimSettings(core_.FilePath(app::kConfigFile),
                                                   app::SimKey(modem.seen.identity));
        cells.push_back(app::DescribePoolModem(modem, sim ? *sim : settings::SimSettings{}));
    }
    return cells;
}

void TMainForm::ShowPool(QString& modem_part) {
    const std::vector<app::AppCore::PoolModemView> modems = core_.PoolModems();
    const std::vector<app::PoolModemCells> cells = PoolCells(modems);
    QStringList lines;
    for (const app::PoolModemCells& modem : cells) lines.push_back(ToQt(app::PoolModemLine(modem)));
    modem_part = ToQt(app::PoolLine(modems));
    ModemLabel->setToolTip(lines.join(QLatin1Char('\n')));
    ui_->mmModems->setVisible(true);
    if (modems_form_) modems_form_->Fill(cells);
}

void TMainForm::FillQueueForm() {
    const app::QueueSnapshot snapshot = core_.SnapshotOfQueue();
    queue_form_->Fill(snapshot.rows, contacts::NumberNames(book_.FullListing().rows),
                      app::Clock::now());
}

// The record the worker sends now is refused rather than cut off mid-send; a long
// text partly sent already is the user's call.
void TMainForm::RemoveFromQueue(const app::QueueRow& row) {
    const QString busy = QStringLiteral(
        "Это сообщение сейчас отправляется, и удалить его нельзя. Если отправка не удастся, "
        "его можно будет удалить, пока оно ждёт повтора.");
    if (row.state == app::QueueRowState::Unsendable) {
        dialogs_.Warning(this,
                         QStringLiteral("Это сообщение нельзя отправить, и в очереди его нет."));
        return;
    }
    if (row.state == app::QueueRowState::Sending) {
        dialogs_.Warning(this, busy);
        return;
    }
    const QString question =
        row.PartlySent() ? QStringLiteral(
                               "Из этого длинного сообщения уже отправлено частей: %1 из %2. "
                               "Удалить остальные из очереди?")
                               .arg(row.confirmed)
                               .arg(row.segments)
                         : QStringLiteral("Удалить сообщение из очереди?");
    if (!dialogs_.Confirm(this, question)) return;
    const auto removed = core_.RemoveFromQueue(row.id);
    if (!removed) {
        dialogs_.Error(this, QStringLiteral("Сообщение не удалено из очереди.\n") +
                                 SystemTextToQt(removed.error().message));
    } else if (*removed == app::Removal::BeingSent) {
        dialogs_.Warning(this, busy);
    } else if (last_failure_ && last_failure_->id == row.id) {
        last_failure_.reset();
    }
    RefreshStatusBar();
}

}  // namespace velka::gui
