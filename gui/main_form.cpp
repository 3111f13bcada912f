#include "gui/main_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "app/modem_manager_notice.h"
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
    MessagePopupMenu->addActions({ui_->actReply, ui_->actForward, ui_->actCopy, ui_->actDelete,
                                  ui_->actConversation, ui_->actSaveData});
    ui_->actSaveData->setVisible(false);  // until a binary message is chosen
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
    connect(ui_->actSaveData, &QAction::triggered, this, &TMainForm::actSaveDataExecute);
    connect(ui_->actDelete, &QAction::triggered, this, &TMainForm::actDeleteExecute);
    connect(ui_->actConversation, &QAction::triggered, this, &TMainForm::actConversationExecute);
    connect(ui_->actContactConversation, &QAction::triggered, this,
            &TMainForm::actContactConversationExecute);
    connect(ui_->MessageSearch, &QLineEdit::textChanged, this, &TMainForm::MessageSearchChange);
    connect(ui_->SimToSearch, &QComboBox::currentIndexChanged, this, &TMainForm::SimToSearchChange);
    connect(ui_->qmCompose, &QToolButton::clicked, ui_->actCompose, &QAction::trigger);
    connect(ui_->actCompose, &QAction::triggered, this, &TMainForm::actComposeExecute);
    connect(ui_->qmOptions, &QToolButton::clicked, this, &TMainForm::qmOptionsClick);
    connect(ui_->mmOptions, &QAction::triggered, this, &TMainForm::qmOptionsClick);
    connect(ui_->mmUssd, &QAction::triggered, this, &TMainForm::mmUssdClick);
    connect(ui_->qmOutBox, &QToolButton::clicked, this, &TMainForm::qmOutBoxClick);
    connect(ui_->qmInBox, &QToolButton::clicked, this, &TMainForm::qmInBoxClick);
    connect(ui_->qmContacts, &QToolButton::clicked, this, &TMainForm::qmContactsClick);
    connect(ui_->mmInBox, &QAction::triggered, this, &TMainForm::qmInBoxClick);
    connect(ui_->mmOutBox, &QAction::triggered, this, &TMainForm::qmOutBoxClick);
    connect(ui_->mmContacts, &QAction::triggered, this, &TMainForm::qmContactsClick);
    connect(ui_->mmClose, &QAction::triggered, this, &TMainForm::mmCloseClick);
    connect(ui_->mmExportBox, &QAction::triggered, this, &TMainForm::mmExportBoxClick);
    connect(ui_->mmImportContacts, &QAction::triggered, this, &TMainForm::mmImportContactsClick);
    connect(ui_->mmImportSimContacts, &QAction::triggered, this,
            &TMainForm::mmImportSimContactsClick);
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
    webhooks_ = std::make_unique<webhooks::WebhookService>(
        program_dir_, [this] { PostToWindow([this] { RefreshStatusBarSoon(); }); });
    core_.SetEventRecorder(*webhooks_);
    if (const Status started = core_.Start(WithGatewayEvents(WithStatusEvents(WindowEvents())));
        !started)
        dialogs_.Error(this, ToQt(started.error().message));
    ServeGateway();
    if (const auto& other = core_.OtherWorker())
        dialogs_.Warning(this, ToQt(app::OtherWorkerNotice(*other)));
    if (core_.WorkerRunning()) {
        if (const std::string notice = app::ModemManagerNotice(registry_, core_.PortNumber());
            !notice.empty())
            dialogs_.Warning(this, ToQt(notice));
    }
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
    events.on_received = [this, on_window](const std::vector<store::ReceivedRecord>&) {
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
    events.on_reports = [this, on_window](const std::vector<store::StatusReport>&) {
        on_window([this] { RefreshBoxViewSoon(app::kOutboxFile); });
    };
    return events;
}

void TMainForm::ModemStateChanged(const modem::ModemStatus& status) {
    // Whoever started the program from a terminal reads it there too, in English.
    if (status.denial)
        std::fprintf(stderr, "velka-sms: %s\n", app::PortDeniedEnglish(*status.denial).c_str());
    const std::string text = app::ModemStateText(status);
    const bool wants_pin = status.state == modem::ModemState::PinNeeded ||
                           status.state == modem::ModemState::PinRefused;
    // A state that passes by itself (not answering, the port gone) is the status
    // bar's and the tray's; one that needs the user's hand stands in a box until it
    // passes.
    const bool passing = status.state == modem::ModemState::NotAnswering;
    ShowModemStateBox(wants_pin || passing ? std::string() : text);
    if (!wants_pin || text.empty()) return;
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

void TMainForm::ShowModemStateBox(const std::string& text) {
    if (modem_state_box_) modem_state_box_->close();
    if (text.empty()) return;
    // Not through dialogs_: it must not wait for the user, and it closes itself.
    modem_state_box_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Модем"), ToQt(text),
                                       QMessageBox::Ok, this);
    modem_state_box_->setObjectName(QStringLiteral("ModemStateBox"));
    modem_state_box_->setAttribute(Qt::WA_DeleteOnClose);
    modem_state_box_->setModal(false);
    modem_state_box_->show();
}

void TMainForm::FormCloseQuery() {
    core_.RequestStop();
}

// Records still queued stay in queue.db; the user hears how many go out at the
// next start, unless another process drives the modem and sends them.
void TMainForm::FormClose() {
    if (api_server_) api_server_->Stop();
    core_.Shutdown();
    webhooks_.reset();
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

void TMainForm::mmCloseClick() {
    close();
}

void TMainForm::actComposeExecute() {
    ComposeAndQueue({});
}

// A plain compose brings back the kept draft; a reply or a forward starts with its
// own text and leaves the draft for later. A text that was not queued (no sendable
// recipient, a refusing disk) stays as the draft, so that sending never loses it.
void TMainForm::ComposeAndQueue(const ComposedMessage& start) {
    TComposeForm form(book_, dialogs_, this);
    form.CountWith(core_.FullUcs2Segments() ? SegmentRoom::Full : SegmentRoom::Designed);
    const std::string draft_path = core_.FilePath(compose::kDraftFile);
    const bool plain = start.recipients.empty() && start.text.empty();
    const std::optional<compose::Draft> kept = plain ? KeptDraft(draft_path) : std::nullopt;
    form.Prefill(start);
    form.OfferModems(ModemChoices(true));
    form.KeepDraftsIn(draft_path, kept);
    if (dialogs_.ShowModal(form) != QDialog::Accepted) return;
    const ComposedMessage message = form.Message();
    const compose::Draft sent = form.CurrentDraft();
    Status settled;
    if (QueueMessage(message.recipients, message.text, message.whole, message.route)) {
        if (kept) settled = compose::DiscardDraft(draft_path);
    } else if (!sent.text.empty()) {
        settled = compose::SaveDraft(draft_path, sent);
    }
    if (!settled)
        dialogs_.Error(this, QStringLiteral("Черновик не записан:\n") +
                                 SystemTextToQt(settled.error().message));
}

// Each modem by its port and its SIM (as the pane "Модемы" names them), named in
// the queue by its IMEI, which a replug onto another port keeps.
std::vector<ModemChoice> TMainForm::ModemChoices(bool sending_only) const {
    const std::vector<app::AppCore::PoolModemView> modems = core_.PoolModems();
    const std::vector<app::PoolModemCells> cells = PoolCells(modems);
    std::vector<ModemChoice> choices;
    for (std::size_t i = 0; i < modems.size(); ++i) {
        if (sending_only && !modems[i].sends) continue;
        QString label = ToQt(cells[i].port);
        if (!cells[i].sim.empty()) label += QStringLiteral(" — ") + ToQt(cells[i].sim);
        const std::string& imei = modems[i].seen.identity.imei;
        choices.push_back({label, imei.empty() ? cells[i].port : imei});
    }
    return choices;
}

std::optional<compose::Draft> TMainForm::KeptDraft(const std::string& path) {
    Result<std::optional<compose::Draft>> kept = compose::LoadDraft(path);
    if (kept) return *kept;
    dialogs_.Error(
        this, QStringLiteral("Черновик не прочитан:\n") + SystemTextToQt(kept.error().message));
    return std::nullopt;
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
    const std::optional<contact_files::ParsedFile> read =
        ReadImportFile(contact_files::FormatOfPath(file), *bytes);
    if (!read) return;
    const contact_files::ParsedFile& parsed = *read;
    if (parsed.error) {
        dialogs_.Error(this, ToQt(*parsed.error));
        return;
    }
    ImportParsed(parsed, contact_files::ImportSource::File);
}

void TMainForm::ImportParsed(const contact_files::ParsedFile& parsed,
                             contact_files::ImportSource source) {
    std::string group;
    if (contact_files::NeedsGroup(parsed)) {
        const std::optional<std::string> picked = AskImportGroup(source);
        if (!picked) return;
        group = *picked;
    }
    const contact_files::ImportPlan plan = contact_files::PlanImport(parsed, group, book_);
    if (plan.error) {
        dialogs_.Error(this, ToQt(*plan.error));
        return;
    }
    const std::optional<contact_files::ExistingNumber> existing = AskExistingNumbers(plan, source);
    if (!existing) return;
    const contact_files::ImportReport report = contact_files::ApplyImport(plan, *existing, book_);
    RefreshContacts();
    dialogs_.Report(this, ToQt(contact_files::ReportSummary(report)),
                    ToQt(contact_files::ReportDetails(report)));
}

std::optional<contact_files::ParsedFile> TMainForm::ReadImportFile(
    contact_files::ContactFormat format, const std::string& bytes) {
    if (format != contact_files::ContactFormat::Csv)
        return contact_files::ParseContactFile(format, bytes);
    const std::string choices_file = core_.FilePath(contact_files::kColumnChoicesFile);
    auto loaded = contact_files::ColumnChoices::Load(choices_file);
    // An unreadable file of choices costs only the remembering: the import goes on,
    // and the file is not written over, so what it holds is not lost.
    if (!loaded) dialogs_.Error(this, SystemTextToQt(loaded.error().message));
    contact_files::ColumnChoices choices =
        loaded ? std::move(*loaded) : contact_files::ColumnChoices();
    contact_files::ParsedFile parsed = contact_files::ParseContactFile(format, bytes, choices);
    if (!parsed.unknown_header) return parsed;
    const std::optional<contact_files::ColumnChoice> chosen =
        AskImportColumns(*parsed.unknown_header);
    if (!chosen) return std::nullopt;
    choices.Remember(*parsed.unknown_header, *chosen);
    if (loaded) {
        if (const Status saved = choices.Save(choices_file); !saved)
            dialogs_.Error(this, SystemTextToQt(saved.error().message));
    }
    return contact_files::ParseContactFile(format, bytes, choices);
}

namespace {

// The columns offered for a choice, numbered from 1, so that two columns of one
// title, or without one, can be told apart; `left_out` is not offered.
QStringList NumberedColumns(const std::vector<std::string>& titles, std::size_t left_out) {
    QStringList columns;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (i != left_out) columns << QStringLiteral("%1: %2").arg(i + 1).arg(ToQt(titles[i]));
    }
    return columns;
}

// The column, from 0, of an answer NumberedColumns offered; nothing when cancelled.
std::optional<std::size_t> ColumnOfAnswer(const QString& answer) {
    if (answer.isEmpty()) return std::nullopt;
    return answer.section(QLatin1Char(':'), 0, 0).toUInt() - 1;
}

}  // namespace

std::optional<contact_files::ColumnChoice> TMainForm::AskImportColumns(
    const std::vector<std::string>& titles) {
    const QString caption = QStringLiteral("Импорт контактов");
    const std::optional<std::size_t> name =
        ColumnOfAnswer(dialogs_.Choose(this, caption,
                                       QStringLiteral("Столбцы этого файла программе не знакомы.\n"
                                                      "В каком столбце имя?"),
                                       NumberedColumns(titles, titles.size()), false));
    if (!name) return std::nullopt;
    const std::optional<std::size_t> number = ColumnOfAnswer(
        dialogs_.Choose(this, caption, QStringLiteral("В каком столбце номер телефона?"),
                        NumberedColumns(titles, *name), false));
    if (!number) return std::nullopt;
    const contact_files::ColumnChoice choice{*name, *number};
    if (!contact_files::FitsHeader(choice, titles.size())) return std::nullopt;
    return choice;
}

std::optional<contact_files::ExistingNumber> TMainForm::AskExistingNumbers(
    const contact_files::ImportPlan& plan, contact_files::ImportSource source) {
    // Enough lines to see what is at stake while the question still fits the screen.
    constexpr std::size_t kNumbersShown = 10;
    if (!plan.HasOtherNames()) return contact_files::ExistingNumber::Skip;
    const QString skip = QStringLiteral("Пропустить");
    const QString answer = dialogs_.Choose(
        this, QStringLiteral("Импорт контактов"),
        QStringLiteral("Эти номера уже записаны под другими именами:\n%1\nЧто с ними сделать?")
            .arg(ToQt(contact_files::OtherNamesList(plan, kNumbersShown, source))),
        {skip, QStringLiteral("Обновить имя")}, false);
    if (answer.isEmpty()) return std::nullopt;
    return answer == skip ? contact_files::ExistingNumber::Skip
                          : contact_files::ExistingNumber::Update;
}

std::optional<std::string> TMainForm::AskImportGroup(contact_files::ImportSource source) {
    QStringList groups;
    const std::string current = CurrentGroup();
    if (!current.empty()) groups << ToQt(current);
    for (const std::string& group : book_.GroupNames()) {
        if (!codepage::EqualIgnoreCase(group, current)) groups << ToQt(group);
    }
    if (groups.isEmpty()) groups << ToQt(contacts::GroupOrDefault("", contacts::EntryMode::Edit));
    const QString answer =
        dialogs_.Choose(this, QStringLiteral("Импорт контактов"),
                        source == contact_files::ImportSource::Sim
                            ? QStringLiteral("Группа для контактов с SIM-карты:")
                            : QStringLiteral("Группа для контактов, у которых в файле её нет:"),
                        groups, true);
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

// The records go to the queue file in one write, flushed once, before the window
// goes on; a disk that refuses them is told, and nothing counts as queued.
bool TMainForm::QueueMessage(const std::string& recipients, const std::string& text,
                             std::u16string_view whole, const app::Route& route) {
    if (text.empty() || recipients.empty()) return false;
    recipients_ = compose::SplitCommaText(recipients);
    const compose::RecipientCheck check = compose::CheckRecipients(recipients_);
    std::vector<packet> records;
    for (const std::string& number : check.sendable)
        records.push_back(compose::MakeOutgoingRecord(number, NowLocal(), text));
    bool queued = false;
    if (!records.empty()) {
        const auto ids = core_.Enqueue(records, whole, route);
        queued = ids.ok();
        if (!queued)
            dialogs_.Error(
                this, ToQt(app::NotQueuedNotice()) + '\n' + SystemTextToQt(ids.error().message));
    }
    if (!check.rejected.empty())
        dialogs_.Warning(this, ToQt(compose::RejectionWarning(check.rejected)));
    return queued;
}

// Applying changes reception at once; a new port is used from the next start, so
// the dialog keeps showing the port in use.
void TMainForm::qmOptionsClick() {
    if (!config_form_) return;
    IgnoreFailure(RefreshSerialPortList(registry_));
    // The modem's own ports, a port this user may not open marked with its group.
    std::vector<TConfigForm::PortItem> ports;
    for (const std::string& port : settings::DiscoverModemPorts(registry_))
        ports.push_back({app::ModemPortLabel(registry_, port), port});
    config_form_->Prepare(ports, settings::InitialDialogSettings(
                                     core_.PortNumber(), core_.ReceptionEnabled(),
                                     core_.DeliveryReportsEnabled(), core_.FullUcs2Segments()));
    const app::BalanceSettings balance_shown = BalanceWatchSettings();
    config_form_->PrepareBalance(balance_shown);
    PrepareGatewayOptions();
    PrepareSimLimitsOptions();
    PreparePoolOptions();
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
    const Status applied =
        settings::ApplySettings(core_.FilePath(app::kConfigFile), config_form_->Chosen(),
                                {[this](bool on) { core_.SetReceptionEnabled(on); },
                                 [this](bool on) { core_.SetDeliveryReportsEnabled(on); },
                                 [this](bool on) { core_.SetFullUcs2Segments(on); }});
    if (!applied) return dialogs_.Error(this, SystemTextToQt(applied.error().message));
    ApplyGatewayOptions();
    ApplySimLimitsOptions();
    ApplyPoolOptions();
    // Written only when changed, so that Config.ini gains no section nobody set.
    const app::BalanceSettings balance = config_form_->ChosenBalance();
    if (balance == balance_shown) return;
    const Status kept = app::WriteBalanceSettings(core_.FilePath(app::kConfigFile), balance);
    if (!kept) return dialogs_.Error(this, SystemTextToQt(kept.error().message));
    // A code or interval just set is asked at once.
    last_balance_check_.reset();
    CheckBalanceWhenDue();
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

// After the warning about a field the rules refuse, the form comes back as the user
// left it, so that nothing typed is lost; cancel ends the asking.
std::optional<contacts::Contact> TMainForm::AskContact(TEditForm& form) {
    while (dialogs_.ShowModal(form) == QDialog::Accepted) {
        if (auto entry = ValidEntry(form)) return entry;
    }
    return std::nullopt;
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
    auto entry = AskContact(form);
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
    auto entry = AskContact(form);
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

}  // namespace velka::gui
