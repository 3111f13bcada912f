#include "gui/main_form.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "app/status_text.h"
#include "compose/compose.h"
#include "contact_files/contact_import.h"
#include "contacts/contact_entry.h"
#include "gui/box_table_model.h"
#include "gui/compose_form.h"
#include "gui/config_form.h"
#include "gui/contact_table_model.h"
#include "gui/dialogs.h"
#include "gui/edit_form.h"
#include "gui/qt_text.h"
#include "gui/queue_form.h"
#include "messages/box_export.h"
#include "messages/message_list.h"
#include "modem/delivery.h"
#include "platform/datetime.h"
#include "platform/device_manager.h"
#include "platform/files.h"
#include "settings/config_apply.h"
#include "settings/port_discovery.h"
#include "ui_main_form.h"

// The pictures are compiled into the static library velka_gui, whose resources
// are registered by hand (from the global namespace) before a window loads them.
static void RegisterPictures() {
    Q_INIT_RESOURCE(pictures);
}

namespace velka::gui {
namespace {

// A menu item bound to an action shows the action's caption, picture and state,
// and runs the action when chosen, as the toolbar button of the same action does.
// The item keeps the action it stands for, so that another item can be bound to
// the same action.
void BindToAction(QAction* item, QAction* action) {
    const auto follow = [item, action] {
        item->setText(action->text());
        item->setIcon(action->icon());
        item->setEnabled(action->isEnabled());
        item->setVisible(action->isVisible());
    };
    follow();
    item->setData(QVariant::fromValue(action));
    QObject::connect(action, &QAction::changed, item, follow);
    QObject::connect(item, &QAction::triggered, action, &QAction::trigger);
}

QAction* BoundAction(QAction* item) {
    return item->data().value<QAction*>();
}

// Rows of one text line, fixed in height so that a view of any length lays out at
// once, under headers aligned like the cells.
void LayOutAsReport(QTableView& view) {
    QHeaderView* rows = view.verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view.fontMetrics().height() + 6);
    view.horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

// A warning about a failure: what was not done, the system's reason, and what
// that leaves the user with.
QString FailureWarning(std::string_view what, std::string_view reason, std::string_view outcome) {
    return ToQt(what) + '\n' + SystemTextToQt(reason) + '\n' + ToQt(outcome);
}

}  // namespace

TMainForm::TMainForm(Dialogs& dialogs, Registry& registry, app::AppCore& core, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs),
      registry_(registry),
      core_(core),
      book_(registry),
      ui_(std::make_unique<Ui::TMainForm>()),
      contacts_model_(new ContactTableModel(this)),
      box_model_(new BoxTableModel(this)),
      PopupMenu(new QMenu(this)),
      MessagePopupMenu(new QMenu(this)) {
    RegisterPictures();
    ui_->setupUi(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addActions({ui_->pumAdd, ui_->pumEdit, ui_->pumRemove, ui_->pumConversation});
    MessagePopupMenu->setObjectName(QStringLiteral("MessagePopupMenu"));
    MessagePopupMenu->addActions(
        {ui_->actReply, ui_->actForward, ui_->actCopy, ui_->actDelete, ui_->actConversation});
    // The keys of the message actions work where the message list has the focus.
    ui_->MessageTable->addActions(MessagePopupMenu->actions());
    ui_->ContactsList->setModel(contacts_model_);
    ui_->MessageTable->setModel(box_model_);
    ui_->ContactsList->setColumnWidth(ContactTableModel::kName, 220);
    ui_->ContactsList->setColumnWidth(ContactTableModel::kNumber, 150);
    for (QTableView* view : {ui_->ContactsList, ui_->MessageTable}) LayOutAsReport(*view);
    // Box order until the user clicks a column header.
    ui_->MessageTable->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    ui_->MessageTable->setSortingEnabled(true);
    ui_->MessageSplitter->setSizes({300, 120});
    BindControls();
    BoxRefreshTimer = new QTimer(this);
    BoxRefreshTimer->setSingleShot(true);
    BoxRefreshTimer->setInterval(250);
    connect(BoxRefreshTimer, &QTimer::timeout, this, &TMainForm::RefreshChangedBoxes);
    box_watch_.emplace(core_.FilePath(app::kInboxFile), core_.FilePath(app::kOutboxFile));
    BoxWatchTimer = new QTimer(this);
    BoxWatchTimer->setInterval(kBoxWatchInterval);
    connect(BoxWatchTimer, &QTimer::timeout, this, &TMainForm::WatchBoxes);
    BoxWatchTimer->start();
    BuildStatusArea();
    CentreOnScreen(*this);
    FormCreate();
}

// The worker's events post to this window: it must have ended before the window
// goes, even when the window is destroyed without being closed.
TMainForm::~TMainForm() {
    if (!closed_) {
        FormCloseQuery();
        FormClose();
    }
}

void TMainForm::BindControls() {
    BindToAction(ui_->pumAdd, ui_->actContactAdd);
    BindToAction(ui_->pumEdit, ui_->actContactEdit);
    BindToAction(ui_->pumRemove, ui_->actContactRemove);
    BindToAction(ui_->pumConversation, ui_->actContactConversation);
    BindToAction(ui_->mmCompose, ui_->actCompose);
    ui_->tbContactAdd->setDefaultAction(ui_->actContactAdd);
    ui_->tbContactEdit->setDefaultAction(ui_->actContactEdit);
    ui_->tbContactRemove->setDefaultAction(ui_->actContactRemove);
    ui_->tbSearch->setDefaultAction(ui_->actSearch);
    connect(ui_->MessageTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TMainForm::ShowCurrentMessage);
    connect(box_model_, &QAbstractItemModel::modelReset, this, &TMainForm::ShowCurrentMessage);
    connect(ui_->MessageTable, &QWidget::customContextMenuRequested, this,
            &TMainForm::ShowMessageMenu);
    connect(ui_->MessageTable, &QAbstractItemView::doubleClicked, ui_->actReply, &QAction::trigger);
    connect(ui_->actReply, &QAction::triggered, this, &TMainForm::actReplyExecute);
    connect(ui_->actForward, &QAction::triggered, this, &TMainForm::actForwardExecute);
    connect(ui_->actCopy, &QAction::triggered, this, &TMainForm::actCopyExecute);
    connect(ui_->actDelete, &QAction::triggered, this, &TMainForm::actDeleteExecute);
    connect(ui_->actConversation, &QAction::triggered, this, &TMainForm::actConversationExecute);
    connect(ui_->actContactConversation, &QAction::triggered, this,
            &TMainForm::actContactConversationExecute);
    connect(ui_->MessageSearch, &QLineEdit::textChanged, this, &TMainForm::MessageSearchChange);
    connect(ui_->qmCompose, &QToolButton::clicked, ui_->actCompose, &QAction::trigger);
    connect(ui_->actCompose, &QAction::triggered, this, &TMainForm::actComposeExecute);
    connect(ui_->qmOptions, &QToolButton::clicked, this, &TMainForm::qmOptionsClick);
    connect(ui_->mmOptions, &QAction::triggered, this, &TMainForm::qmOptionsClick);
    connect(ui_->qmOutBox, &QToolButton::clicked, this, &TMainForm::qmOutBoxClick);
    connect(ui_->qmInBox, &QToolButton::clicked, this, &TMainForm::qmInBoxClick);
    connect(ui_->qmContacts, &QToolButton::clicked, this, &TMainForm::qmContactsClick);
    connect(ui_->mmInBox, &QAction::triggered, this, &TMainForm::qmInBoxClick);
    connect(ui_->mmOutBox, &QAction::triggered, this, &TMainForm::qmOutBoxClick);
    connect(ui_->mmContacts, &QAction::triggered, this, &TMainForm::qmContactsClick);
    connect(ui_->mmClose, &QAction::triggered, this, &TMainForm::mmCloseClick);
    connect(ui_->mmExportBox, &QAction::triggered, this, &TMainForm::mmExportBoxClick);
    connect(ui_->mmImportContacts, &QAction::triggered, this, &TMainForm::mmImportContactsClick);
    connect(ui_->mmExportContacts, &QAction::triggered, this, &TMainForm::mmExportContactsClick);
    connect(ui_->actContactAdd, &QAction::triggered, this, &TMainForm::actContactAddExecute);
    connect(ui_->actContactEdit, &QAction::triggered, this, &TMainForm::actContactEditExecute);
    connect(ui_->actContactRemove, &QAction::triggered, this, &TMainForm::actContactRemoveExecute);
    connect(ui_->actSearch, &QAction::triggered, this, &TMainForm::actSearchExecute);
    connect(ui_->NameToSearch, &QLineEdit::textChanged, this, &TMainForm::NameToSearchChange);
    connect(ui_->GroupToSearch, &QComboBox::editTextChanged, this, &TMainForm::NameToSearchChange);
    connect(ui_->ContactsList, &QWidget::customContextMenuRequested, this,
            &TMainForm::ShowContactsMenu);
}

// The outgoing queue, its lock, Config.ini and the worker belong to the application
// core, which the window starts last, once everything the worker shares exists.
void TMainForm::FormCreate() {
    program_dir_ = core_.ProgramDirectory();
    BuildContactsListMenu();
    ui_->mmServices->insertSeparator(ui_->mmOptions);
    ui_->mmServices->insertSeparator(ui_->mmContactsList->menuAction());
    ShowListing(book_.FullListing());
    if (const Status started = core_.Start(WithStatusEvents(WindowEvents())); !started)
        dialogs_.Error(this, ToQt(started.error().message));
    if (const auto& other = core_.OtherWorker())
        dialogs_.Warning(this, ToQt(app::OtherWorkerNotice(*other)));
}

// The events run on the worker's thread; each posts its work to the window's
// thread. The worker is joined in FormClose, and what it posted before is dropped
// once the window is closed.
app::WorkerEvents TMainForm::WindowEvents() {
    const auto on_window = [this](auto work) {
        QMetaObject::invokeMethod(
            this,
            [this, work] {
                if (!closed_) work();
            },
            Qt::QueuedConnection);
    };
    app::WorkerEvents events;
    events.on_send = [this, on_window](std::uint64_t, app::SendOutcome outcome) {
        if (outcome == app::SendOutcome::Sent)
            on_window([this] { RefreshBoxViewSoon(app::kOutboxFile); });
    };
    events.on_received = [this, on_window](const std::vector<packet>&) {
        on_window([this] { RefreshBoxViewSoon(app::kInboxFile); });
    };
    events.on_store_failed = [this, on_window](app::StoreFile file, const Error& error) {
        const app::StoreFailureText words = app::StoreFailureWarning(file);
        const QString text = FailureWarning(words.what, error.message, words.outcome);
        on_window([this, text] { dialogs_.Warning(this, text); });
    };
    events.on_modem_state = [this, on_window](const modem::ModemStatus& status) {
        on_window([this, status] { ModemStateChanged(status); });
    };
    events.on_queue_damaged = [this, on_window](const app::QueueDamage& damage) {
        const QString text = ToQt(app::QueueDamageWarning(damage));
        on_window([this, text] { dialogs_.Warning(this, text); });
    };
    events.on_reports = [this, on_window](const std::vector<modem::StatusReport>&) {
        on_window([this] { RefreshBoxViewSoon(app::kOutboxFile); });
    };
    return events;
}

void TMainForm::ModemStateChanged(const modem::ModemStatus& status) {
    const std::string text = app::ModemStateText(status);
    if (text.empty()) return;
    const bool wants_pin = status.state == modem::ModemState::PinNeeded ||
                           status.state == modem::ModemState::PinRefused;
    if (!wants_pin) {
        dialogs_.Warning(this, ToQt(text));
        return;
    }
    QInputDialog ask(this);
    ask.setObjectName("PinDialog");
    ask.setWindowTitle(ToQt(codepage::FromUtf8("PIN-код")));
    ask.setLabelText(ToQt(text + codepage::FromUtf8("\r\nВведите PIN-код SIM-карты:")));
    ask.setTextEchoMode(QLineEdit::Password);
    if (dialogs_.ShowModal(ask) != QDialog::Accepted) return;
    const std::string pin = ask.textValue().trimmed().toStdString();
    // Only digits reach the modem; anything else would be refused and cost a try.
    if (!pin.empty() && pin.find_first_not_of("0123456789") == std::string::npos) core_.SetPin(pin);
}

void TMainForm::FormCloseQuery() {
    core_.RequestStop();
}

// Records still queued stay in queue.db; the user hears how many go out at the
// next start, unless another process drives the modem and sends them.
void TMainForm::FormClose() {
    core_.Shutdown();
    recipients_.clear();
    closed_ = true;
    if (core_.OtherWorker()) return;
    if (const auto waiting = core_.QueuedCount(); waiting && *waiting > 0)
        dialogs_.Warning(this, ToQt(app::ClosingWithQueuedNotice(*waiting)));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        FormCloseQuery();
        FormClose();
    }
    event->accept();
}

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

void TMainForm::BuildContactsListMenu() {
    const QList<QAction*> items = PopupMenu->actions();
    for (QAction* popup_item : items)
        BindToAction(ui_->mmContactsList->addAction(QString()), BoundAction(popup_item));
    ui_->mmContactsList->addSeparator();
    BindToAction(ui_->mmContactsList->addAction(QString()), ui_->actSearch);
}

void TMainForm::qmContactsClick() {
    ui_->PanelMessageBox->hide();
    shown_box_.clear();
    ui_->PanelContacts->show();
}

namespace {

QString BoxCaption(const std::string& file_name) {
    return file_name == app::kOutboxFile ? QStringLiteral(" Отправленные")
                                         : QStringLiteral(" Принятые");
}

}  // namespace

void TMainForm::qmInBoxClick() {
    OpenBoxView(app::kInboxFile);
}

void TMainForm::qmOutBoxClick() {
    OpenBoxView(app::kOutboxFile);
}

void TMainForm::mmCloseClick() {
    close();
}

void TMainForm::actComposeExecute() {
    ComposeAndQueue({});
}

void TMainForm::ComposeAndQueue(const ComposedMessage& start) {
    TComposeForm form(book_, dialogs_, this);
    form.Prefill(start);
    if (dialogs_.ShowModal(form) != QDialog::Accepted) return;
    const ComposedMessage message = form.Message();
    QueueMessage(message.recipients, message.text);
}

std::optional<ShownMessage> TMainForm::CurrentMessage() const {
    const QModelIndex current = ui_->MessageTable->currentIndex();
    if (shown_box_.empty() || !current.isValid()) return std::nullopt;
    return box_model_->MessageAt(current.row());
}

void TMainForm::ShowMessageMenu(const QPoint& position) {
    if (!CurrentMessage()) return;
    MessagePopupMenu->popup(ui_->MessageTable->viewport()->mapToGlobal(position));
}

void TMainForm::actReplyExecute() {
    if (const auto shown = CurrentMessage()) ComposeAndQueue({shown->message.number, {}});
}

// A joined message may be longer than one record holds: the compose window takes
// the first 1024 characters, as it does with any text pasted into it.
void TMainForm::actForwardExecute() {
    if (const auto shown = CurrentMessage()) ComposeAndQueue({{}, shown->message.text});
}

void TMainForm::actCopyExecute() {
    if (const auto shown = CurrentMessage()) {
        QGuiApplication::clipboard()->setText(ToQt(shown->message.text));
    }
}

// Whoever appends to the box (this window's worker, or another process) waits
// for the rewrite, which finds the message again in the file as it is then: a
// message that arrives meanwhile is neither lost nor read half-done by a view.
void TMainForm::actDeleteExecute() {
    const auto shown = CurrentMessage();
    if (!shown || !dialogs_.Confirm(this, QStringLiteral("Удалить сообщение?"))) return;
    const std::string path =
        core_.FilePath(shown->box == messages::Box::Inbox ? app::kInboxFile : app::kOutboxFile);
    const Status removed =
        messages::RemoveMessage(path, box_model_->BoxOf(shown->box), shown->message);
    if (!removed) {
        dialogs_.Error(this, SystemTextToQt(removed.error().message));
        return;
    }
    RefreshBoxView(shown_box_);
}

void TMainForm::actConversationExecute() {
    if (const auto shown = CurrentMessage()) OpenConversation(shown->message.number);
}

void TMainForm::actContactConversationExecute() {
    const int row = SelectedContactRow();
    if (row >= 0) OpenConversation(contacts_model_->At(row).number);
}

void TMainForm::OpenConversation(const std::string& number) {
    conversation_ = number;
    const QSignalBlocker quiet(ui_->MessageSearch);
    ui_->MessageSearch->clear();
    ui_->PanelContacts->hide();
    ui_->PanelMBCaption->setText(
        QStringLiteral(" Переписка: ") +
        ToQt(contacts::NumberNames(book_.FullListing().rows).Shown(number)));
    shown_box_ = app::kInboxFile;
    if (!LoadBoxView(shown_box_)) {
        shown_box_.clear();
        return;
    }
    ui_->PanelMessageBox->show();
}

void TMainForm::MessageSearchChange() {
    if (shown_box_.empty()) return;
    const QString query = ui_->MessageSearch->text();
    // A search shows messages of both boxes, not of the one the caption named.
    ui_->PanelMBCaption->setText(query.isEmpty() ? BoxCaption(shown_box_)
                                                 : QStringLiteral(" Поиск: ") + query);
    if (!query.isEmpty() && search_index_) {
        box_model_->ShowPicked(search_index_->Find(FromQt(query)));
        QHeaderView* header = ui_->MessageTable->horizontalHeader();
        if (header->sortIndicatorSection() >= 0) {
            box_model_->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
        }
        return;
    }
    conversation_.clear();
    RefreshBoxView(shown_box_);
}

void TMainForm::mmExportBoxClick() {
    if (shown_box_.empty()) return;
    const QString path = dialogs_.SaveFileName(this, QStringLiteral("Сохранить папку в CSV"),
                                               QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    std::vector<store::JoinedMessage> shown;
    shown.reserve(static_cast<std::size_t>(box_model_->rowCount()));
    for (int row = 0; row < box_model_->rowCount(); ++row) {
        shown.push_back(box_model_->MessageAt(row).message);
    }
    // The file name in the platform's own narrow encoding, which its file calls take.
    const Status saved = files::SaveDurably(path.toLocal8Bit().toStdString(),
                                            messages::MessagesCsv(shown, box_model_->Names()));
    if (!saved) dialogs_.Error(this, SystemTextToQt(saved.error().message));
}

namespace {

const QString kContactFilesFilter = QStringLiteral("vCard (*.vcf);;CSV (*.csv)");

}  // namespace

void TMainForm::mmImportContactsClick() {
    const QString caption = QStringLiteral("Импорт контактов");
    const QString path = dialogs_.OpenFileName(this, caption, kContactFilesFilter);
    if (path.isEmpty()) return;
    // The file name in the platform's own narrow encoding, which its file calls take.
    const std::string file = path.toLocal8Bit().toStdString();
    const Result<std::string> bytes = files::ReadAll(file);
    if (!bytes) {
        dialogs_.Error(this, SystemTextToQt(bytes.error().message));
        return;
    }
    const contact_files::ParsedFile parsed =
        contact_files::ParseContactFile(contact_files::FormatOfPath(file), *bytes);
    if (parsed.error) {
        dialogs_.Error(this, ToQt(*parsed.error));
        return;
    }
    std::string group;
    if (contact_files::NeedsGroup(parsed)) {
        const std::optional<std::string> picked = AskImportGroup();
        if (!picked) return;
        group = *picked;
    }
    const contact_files::ImportPlan plan = contact_files::PlanImport(parsed, group, book_);
    if (plan.error) {
        dialogs_.Error(this, ToQt(*plan.error));
        return;
    }
    auto existing = contact_files::ExistingNumber::Skip;
    if (plan.HasOtherNames()) {
        const QString skip = QStringLiteral("Пропустить");
        const QString answer = dialogs_.Choose(
            this, caption,
            QStringLiteral("Некоторые номера уже есть в своих группах под другими именами.\n"
                           "Что с ними сделать?"),
            {skip, QStringLiteral("Обновить имя")}, false);
        if (answer.isEmpty()) return;
        if (answer != skip) existing = contact_files::ExistingNumber::Update;
    }
    const contact_files::ImportReport report = contact_files::ApplyImport(plan, existing, book_);
    RefreshContacts();
    dialogs_.Report(this, ToQt(contact_files::ReportSummary(report)),
                    ToQt(contact_files::ReportDetails(report)));
}

std::optional<std::string> TMainForm::AskImportGroup() {
    QStringList groups;
    const std::string current = CurrentGroup();
    if (!current.empty()) groups << ToQt(current);
    for (const std::string& group : book_.GroupNames()) {
        if (!codepage::EqualIgnoreCase(group, current)) groups << ToQt(group);
    }
    if (groups.isEmpty()) groups << ToQt(contacts::GroupOrDefault("", contacts::EntryMode::Edit));
    const QString answer = dialogs_.Choose(
        this, QStringLiteral("Импорт контактов"),
        QStringLiteral("Группа для контактов, у которых в файле её нет:"), groups, true);
    if (answer.isEmpty()) return std::nullopt;
    return FromQt(answer);
}

void TMainForm::mmExportContactsClick() {
    const QString caption = QStringLiteral("Экспорт контактов");
    std::string group = CurrentGroup();
    if (!group.empty()) {
        const QString all = QStringLiteral("Все контакты");
        const QString answer =
            dialogs_.Choose(this, caption, QStringLiteral("Какие контакты записать в файл?"),
                            {all, QStringLiteral("Группа \"%1\"").arg(ToQt(group))}, false);
        if (answer.isEmpty()) return;
        if (answer == all) group.clear();
    }
    const QString path = dialogs_.SaveFileName(this, caption, kContactFilesFilter);
    if (path.isEmpty()) return;
    const std::string file = path.toLocal8Bit().toStdString();
    const auto saved =
        contact_files::ExportContacts(book_, group, contact_files::FormatOfPath(file), file);
    if (saved) return;
    const contact_files::ExportError& error = saved.error();
    dialogs_.Error(this, error.source == contact_files::ExportError::Source::Listing
                             ? ToQt(error.message)
                             : SystemTextToQt(error.message));
}

std::string TMainForm::CurrentGroup() const {
    if (ui_->ContactsSearchPanel->isVisibleTo(ui_->PanelContacts)) {
        const std::string typed = FromQt(ui_->GroupToSearch->currentText());
        if (!typed.empty()) return typed;
    }
    const int row = SelectedContactRow();
    return row < 0 ? std::string() : contacts_model_->At(row).group;
}

void TMainForm::RefreshContacts() {
    if (ui_->ContactsSearchPanel->isVisibleTo(ui_->PanelContacts)) {
        FillGroupToSearch();
        NameToSearchChange();
    } else {
        ShowListing(book_.FullListing());
    }
}

bool TMainForm::ShowsBothBoxes() const {
    return !conversation_.empty() || !ui_->MessageSearch->text().isEmpty();
}

// The records go to the queue file in one write, flushed once, before the window
// goes on; a disk that refuses them is told, and nothing counts as queued.
void TMainForm::QueueMessage(const std::string& recipients, const std::string& text) {
    if (text.empty() || recipients.empty()) return;
    recipients_ = compose::SplitCommaText(recipients);
    const compose::RecipientCheck check = compose::CheckRecipients(recipients_);
    std::vector<packet> records;
    for (const std::string& number : check.sendable)
        records.push_back(compose::MakeOutgoingRecord(number, NowLocal(), text));
    if (const auto queued = core_.Enqueue(records); !queued)
        dialogs_.Error(
            this, ToQt(app::NotQueuedNotice()) + '\n' + SystemTextToQt(queued.error().message));
    if (!check.rejected.empty())
        dialogs_.Warning(this, ToQt(compose::RejectionWarning(check.rejected)));
}

// Applying changes reception at once; a new port is used from the next start, so
// the dialog keeps showing the port in use.
void TMainForm::qmOptionsClick() {
    if (!config_form_) return;
    IgnoreFailure(RefreshSerialPortList(registry_));
    config_form_->Prepare(
        settings::DiscoverModemPorts(registry_),
        settings::InitialDialogSettings(core_.PortNumber(), core_.ReceptionEnabled(),
                                        core_.DeliveryReportsEnabled()));
    int answer = QDialog::Rejected;
    {
        // Lives while the dialog is shown: closing it stops the probes still waiting.
        TConfigForm* form = config_form_;
        const app::PortProbe probe(app::PortsToProbe(registry_, core_.PortNumber()),
                                   [form](const app::AnsweringPort& answering) {
                                       QMetaObject::invokeMethod(
                                           form, [form, answering] { form->OfferPort(answering); },
                                           Qt::QueuedConnection);
                                   });
        answer = dialogs_.ShowModal(*config_form_);
    }
    if (answer != QDialog::Accepted) return;
    const Status applied = settings::ApplySettings(
        core_.FilePath(app::kConfigFile), config_form_->Chosen(),
        [this](bool on) { core_.SetReceptionEnabled(on); },
        [this](bool on) { core_.SetDeliveryReportsEnabled(on); });
    if (!applied) dialogs_.Error(this, SystemTextToQt(applied.error().message));
}

void TMainForm::OpenBoxView(const std::string& file_name) {
    ui_->PanelContacts->hide();
    ui_->PanelMBCaption->setText(BoxCaption(file_name));
    shown_box_.clear();
    conversation_.clear();
    {
        const QSignalBlocker quiet(ui_->MessageSearch);
        ui_->MessageSearch->clear();
    }
    if (!LoadBoxView(file_name)) return;
    shown_box_ = file_name;
    ui_->PanelMessageBox->show();
}

void TMainForm::RefreshBoxView(const std::string& file_name) {
    if (shown_box_.empty() || (shown_box_ != file_name && !ShowsBothBoxes())) return;
    QScrollBar* rows = ui_->MessageTable->verticalScrollBar();
    const int position = rows->value();
    if (!LoadBoxView(shown_box_)) {
        ui_->PanelMessageBox->hide();
        shown_box_.clear();
        return;
    }
    rows->setValue(position);
}

// A bulk send appends to outbox.db hundreds of times a second, and reloading the box
// after each append cost more than the send itself: the view catches up once per
// pause instead, a quarter of a second after the first change.
void TMainForm::RefreshBoxViewSoon(const std::string& file_name) {
    boxes_changed_.insert(file_name);
    if (!BoxRefreshTimer->isActive()) BoxRefreshTimer->start();
}

// What another process writes has no event here: a look at the files' stamps
// each second finds it. Arrivals this window's own worker stored were told by
// its event already.
void TMainForm::WatchBoxes() {
    messages::BoxWatch::Changes changes = box_watch_->Look();
    if (changes.inbox) RefreshBoxViewSoon(app::kInboxFile);
    if (changes.outbox) RefreshBoxViewSoon(app::kOutboxFile);
    if (!changes.arrived.empty() && !core_.WorkerRunning()) MessagesArrived(changes.arrived);
}

void TMainForm::RefreshChangedBoxes() {
    const bool shown_changed =
        boxes_changed_.contains(shown_box_) || (ShowsBothBoxes() && !boxes_changed_.empty());
    boxes_changed_.clear();
    if (shown_changed) RefreshBoxView(shown_box_);
}

// A states file that cannot be read costs the states alone: the messages still show.
void TMainForm::ShowDeliveryStates(const std::string& outbox_path, store::JoinedBox& outbox) {
    const auto states = modem::LoadDeliveryStates(outbox_path, outbox.box());
    if (!states) {
        dialogs_.Error(this, SystemTextToQt(states.error().message));
        return;
    }
    // Said once for each new count, not at every refresh of the view.
    if (states->unbelieved != told_unbelieved_states_) {
        told_unbelieved_states_ = states->unbelieved;
        if (states->unbelieved > 0)
            dialogs_.Warning(this, ToQt(modem::UnbelievedStatesWarning(states->unbelieved)));
    }
    outbox.SetStates(modem::DeliveryStateTexts(states->by_record));
}

bool TMainForm::LoadBoxView(const std::string& file_name) {
    box_model_->Clear();
    search_index_.reset();
    const bool both = ShowsBothBoxes();
    const messages::Box shown =
        file_name == app::kOutboxFile ? messages::Box::Outbox : messages::Box::Inbox;
    std::array<std::optional<store::JoinedBox>, 2> boxes;
    for (const messages::Box box : {messages::Box::Inbox, messages::Box::Outbox}) {
        if (!both && box != shown) continue;
        const std::string path =
            core_.FilePath(box == messages::Box::Inbox ? app::kInboxFile : app::kOutboxFile);
        auto opened = store::JoinedBox::Open(path);
        if (!opened) {
            dialogs_.Error(this, SystemTextToQt(opened.error().message));
            return false;
        }
        if (box == messages::Box::Outbox) ShowDeliveryStates(path, *opened);
        boxes[box == messages::Box::Inbox ? 0 : 1] = std::move(*opened);
    }
    box_model_->Show(std::move(boxes), contacts::NumberNames(book_.FullListing().rows), shown);
    if (!conversation_.empty()) {
        box_model_->ShowPicked(messages::Conversation(box_model_->BoxOf(messages::Box::Inbox),
                                                      box_model_->BoxOf(messages::Box::Outbox),
                                                      conversation_));
    } else if (both) {
        search_index_.emplace(box_model_->BoxOf(messages::Box::Inbox),
                              box_model_->BoxOf(messages::Box::Outbox), box_model_->Names());
        box_model_->ShowPicked(search_index_->Find(FromQt(ui_->MessageSearch->text())));
    }
    QHeaderView* header = ui_->MessageTable->horizontalHeader();
    if (header->sortIndicatorSection() >= 0) {
        box_model_->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
    header->setResizeContentsPrecision(200);  // a sample of rows, whatever the box's size
    ui_->MessageTable->setColumnHidden(BoxTableModel::kState,
                                       shown == messages::Box::Inbox && !both);
    ui_->MessageTable->resizeColumnToContents(BoxTableModel::kNumber);
    ui_->MessageTable->resizeColumnToContents(BoxTableModel::kDateTime);
    // The text takes the width the other columns leave. The state column fits its
    // states up to a delivery with its date; a longer reason shows whole in the
    // tooltip and the reading pane.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(BoxTableModel::kText, QHeaderView::Stretch);
    ui_->MessageTable->resizeColumnToContents(BoxTableModel::kState);
    const int widest_state = ui_->MessageTable->fontMetrics().horizontalAdvance(
                                 QStringLiteral("доставлено 00.00.0000 00:00:00")) +
                             12;
    if (ui_->MessageTable->columnWidth(BoxTableModel::kState) > widest_state)
        ui_->MessageTable->setColumnWidth(BoxTableModel::kState, widest_state);
    return true;
}

void TMainForm::ShowCurrentMessage() {
    const QModelIndex current = ui_->MessageTable->currentIndex();
    if (!current.isValid()) {
        ui_->ReaderHeader->clear();
        ui_->ReaderText->clear();
        return;
    }
    const auto [box, message] = box_model_->MessageAt(current.row());
    const QString party =
        box == messages::Box::Outbox ? QStringLiteral("Кому: ") : QStringLiteral("От: ");
    QString header = party + ToQt(box_model_->Shown(message.number)) + QStringLiteral("    ") +
                     ToQt(message.datetime);
    if (!message.state.empty()) header += QStringLiteral("\nСостояние: ") + ToQt(message.state);
    ui_->ReaderHeader->setText(header);
    QString text = ToQt(message.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ui_->ReaderText->setPlainText(text);
}

void TMainForm::ShowListing(contacts::Listing listing) {
    contacts_model_->SetRows(std::move(listing.rows));
    if (listing.error) dialogs_.Error(this, ToQt(*listing.error));
}

void TMainForm::FillGroupToSearch() {
    QComboBox* combo = ui_->GroupToSearch;
    const QString text = combo->currentText();
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const std::string& group : book_.GroupNames()) combo->addItem(ToQt(group));
    combo->setEditText(text);
}

int TMainForm::SelectedContactRow() const {
    const QModelIndexList rows = ui_->ContactsList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TMainForm::ShowContactsMenu(const QPoint& position) {
    PopupMenu->popup(ui_->ContactsList->viewport()->mapToGlobal(position));
}

std::optional<contacts::Contact> TMainForm::ValidEntry(const TEditForm& form) {
    contacts::Contact entry = form.Entry();
    if (const auto problem = contacts::CheckEntry(entry)) {
        dialogs_.Warning(this, ToQt(contacts::ProblemMessage(*problem)));
        return std::nullopt;
    }
    return entry;
}

void TMainForm::WarnRefused(contacts::RefusedChange change, const contacts::Contact& contact,
                            const RegistryError& error) {
    const contacts::RefusalText words = contacts::RefusalWarning(change, contact);
    dialogs_.Warning(this, FailureWarning(words.what, error.message, words.outcome));
}

// The row is added only once the contact is stored, so the list never shows a
// contact the registry refused.
void TMainForm::actContactAddExecute() {
    TEditForm form(this);
    form.ClearFields();
    form.SetGroups(book_.GroupNames());
    form.setWindowTitle(QStringLiteral("Создать новый"));
    if (dialogs_.ShowModal(form) != QDialog::Accepted) return;
    auto entry = ValidEntry(form);
    if (!entry) return;
    entry->group = contacts::GroupOrDefault(entry->group, contacts::EntryMode::Add);
    if (const RegistryStatus written = book_.WriteContact(*entry); !written) {
        WarnRefused(contacts::RefusedChange::Add, *entry, written.error());
        return;
    }
    contacts_model_->Append(*entry);
}

// The row follows what the registry holds after the move: unchanged when the new
// contact was refused, and the old contact shown again when it could not be deleted.
void TMainForm::actContactEditExecute() {
    const int row = SelectedContactRow();
    if (row < 0) return;
    const contacts::Contact old = contacts_model_->At(row);
    TEditForm form(this);
    form.ClearFields();
    form.setWindowTitle(QStringLiteral("Редактировать"));
    form.FillFields(old);
    form.SetGroups(book_.GroupNames());
    if (dialogs_.ShowModal(form) != QDialog::Accepted) return;
    auto entry = ValidEntry(form);
    if (!entry) return;
    entry->group = contacts::GroupOrDefault(entry->group, contacts::EntryMode::Edit);
    const contacts::ContactMove move = book_.MoveContact(old, *entry);
    if (!move.written) {
        WarnRefused(contacts::RefusedChange::Edit, old, move.written.error());
        return;
    }
    contacts_model_->Replace(row, *entry);
    if (!move.old_deleted) {
        WarnRefused(contacts::RefusedChange::OldKept, old, move.old_deleted.error());
        contacts_model_->Append(old);
    }
}

void TMainForm::actContactRemoveExecute() {
    const int row = SelectedContactRow();
    if (row < 0) return;
    const contacts::Contact contact = contacts_model_->At(row);
    if (!dialogs_.Confirm(this, ToQt(contacts::RemovalQuestion(contact.name)))) return;
    if (const RegistryStatus deleted = book_.DeleteContact(contact.group, contact.number);
        !deleted) {
        WarnRefused(contacts::RefusedChange::Remove, contact, deleted.error());
        return;
    }
    contacts_model_->Remove(row);
}

// The list gives up (or takes back) the panel's height through the pane's layout.
void TMainForm::actSearchExecute() {
    const bool show = !ui_->ContactsSearchPanel->isVisibleTo(ui_->PanelContacts);
    ui_->ContactsSearchPanel->setVisible(show);
    if (show) {
        FillGroupToSearch();
    } else {
        ShowListing(book_.FullListing());
    }
}

// Runs to its end without processing events, so a keystroke is handled only after
// the listing of the previous one is shown: the view always ends up matching the
// fields, and a listing never runs inside another.
void TMainForm::NameToSearchChange() {
    ShowListing(book_.FilteredListing(FromQt(ui_->NameToSearch->text()),
                                      FromQt(ui_->GroupToSearch->currentText())));
}

// ---- The status bar, the queue view, notifications and the tray ----

void TMainForm::BuildStatusArea() {
    // Each part in a sunken panel of its own, so that the parts read apart; a part
    // with nothing to say is hidden rather than shown as an empty panel.
    for (QLabel** label : {&ModemLabel, &QueueLabel, &BulkLabel, &FailureLabel}) {
        *label = new QLabel(ui_->StatusBar);
        (*label)->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        (*label)->setMargin(1);
        (*label)->hide();
        ui_->StatusBar->addWidget(*label);
    }
    ModemLabel->setObjectName(QStringLiteral("ModemLabel"));
    QueueLabel->setObjectName(QStringLiteral("QueueLabel"));
    BulkLabel->setObjectName(QStringLiteral("BulkLabel"));
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
            if (outcome == app::SendOutcome::Sent) last_failure_.reset();
            RefreshStatusBarSoon();
        });
    };
    events.on_received = [this,
                          told = std::move(events.on_received)](const std::vector<packet>& stored) {
        if (told) told(stored);
        PostToWindow([this, stored] { MessagesArrived(stored); });
    };
    events.on_modem_state =
        [this, told = std::move(events.on_modem_state)](const modem::ModemStatus& status) {
            if (told) told(status);
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
    events.on_send_failed = [this](const app::SendFailure& failure) {
        PostToWindow([this, failure] {
            last_failure_ = failure;
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
    const std::string port = "COM" + std::to_string(core_.PortNumber());
    const QString modem =
        core_.WorkerRunning() ? ToQt(app::ModemLine(port, modem_status_, modem_info_)) : QString();
    ShowStatusPart(*ModemLabel, modem);
    ShowStatusPart(*QueueLabel, ToQt(app::QueueLine(queue.count)));
    ShowStatusPart(*BulkLabel, ToQt(app::BulkLine(queue.bulk)));
    ShowStatusPart(*FailureLabel, last_failure_
                                      ? ToQt(app::FailureLine(last_failure_->reason,
                                                              last_failure_->next_attempt, now))
                                      : QString());
    notifier_->ShowModemState(modem_status_.state, modem);
    if (queue_form_) FillQueueForm();
}

void TMainForm::ShowStatusPart(QLabel& part, const QString& text) {
    part.setText(text);
    part.setVisible(!text.isEmpty());
}

void TMainForm::MessagesArrived(const std::vector<packet>& stored) {
    if (unread_ && unread_->AddUnread(stored)) SaveUnreadMarks();
    ShowUnreadCount();
    const messages::ArrivalNotice notice =
        messages::NoticeOf(stored, contacts::NumberNames(book_.FullListing().rows));
    notifier_->Notify(ToQt(notice.title), ToQt(notice.text));
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
