// The main window, TMainForm: the quick menu on the left, the contact pane and the
// message pane beside it, the main menu and the contact actions. Only the window lives here; what
// it runs sits in the core (app/app_core.h, contacts/, compose/, settings/, store/) and is tested
// without a window.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/balance.h"
#include "app/sim_phone_book.h"
#include "app/status_text.h"
#include "contact_files/contact_import.h"
#include "contacts/contact_book.h"
#include "contacts/contact_entry.h"
#include "gateway/api_server.h"
#include "gateway/gateway_settings.h"
#include "gui/compose_form.h"
#include "gui/elided_label.h"
#include "gui/notifier.h"
#include "messages/box_watch.h"
#include "messages/message_list.h"
#include "messages/message_search.h"
#include "messages/sim_names.h"
#include "messages/unread_marks.h"
#include "platform/registry.h"
#include "settings/pool_settings.h"
#include "settings/sim_settings.h"
#include "webhooks/webhook_service.h"

class QLabel;
class QMenu;
class QTimer;
namespace Ui {
class TMainForm;
}

namespace velka::gui {

class BoxTableModel;
struct ShownMessage;
class ContactTableModel;
class Dialogs;
class TConfigForm;
class TEditForm;
class TModemsForm;
class TQueueForm;

class TMainForm final : public QMainWindow {
  public:
    // `dialogs`, `registry` and `core` must outlive the window. Creating the window
    // starts the core (Config.ini, the worker); a setting that does not convert is
    // shown as an error and the window opens all the same.
    TMainForm(Dialogs& dialogs, Registry& registry, app::AppCore& core, QWidget* parent = nullptr);
    // Closes the window's work as a close would, if that has not happened yet.
    ~TMainForm() override;

    // The settings dialog, made once at start-up and shown by qmOptionsClick; it
    // must outlive the window. Until it is given, qmOptionsClick does nothing.
    void UseConfigForm(TConfigForm& form) { config_form_ = &form; }

    // Where notifications and the modem's state go instead of the system tray (a
    // test's double); it must outlive the window.
    void UseNotifier(Notifier& notifier) { notifier_ = &notifier; }

    const std::string& ProgramDir() const { return program_dir_; }
    // One recipient per entry, as the last compose action read them.
    const std::vector<std::string>& Recipients() const { return recipients_; }

    // Handlers, bound to their controls in the constructor. UI thread only.
    void qmContactsClick();
    void qmInBoxClick();
    void qmOutBoxClick();
    void mmCloseClick();
    void actContactAddExecute();
    void actContactEditExecute();
    void actContactRemoveExecute();
    void actSearchExecute();
    void NameToSearchChange();
    void actComposeExecute();
    // On the current message of the message pane; each does nothing without one.
    // Reply and forward open the compose window with the sender (recipient) or the
    // text filled in; delete asks first and removes every part of the message.
    void actReplyExecute();
    void actForwardExecute();
    void actCopyExecute();
    void actDeleteExecute();
    // Writes a binary message's payload to a file the user names; offered only for
    // such a message.
    void actSaveDataExecute();
    // Every message to and from the number of the current message (actConversation)
    // or of the selected contact (actContactConversation), from both boxes, in time
    // order, under the caption " Переписка: " and the name or number.
    void actConversationExecute();
    void actContactConversationExecute();
    // Shows the messages of both boxes that hold the text of MessageSearch; the
    // box on view again when it is emptied.
    void MessageSearchChange();
    // Narrows what the message pane shows (a box, a search, a conversation) to the
    // messages of the SIM chosen in SimToSearch; "Все SIM" shows them all again.
    void SimToSearchChange();
    // Writes the messages the pane shows, in its order, to a CSV file the user
    // names (messages/box_export.h); nothing while the pane is hidden.
    void mmExportBoxClick();
    // Reads a vCard or CSV file the user picks (contact_files/) into the contact
    // book. It asks which columns hold the name and the number of a CSV whose
    // header it does not know; before writing, for a group when some contact has
    // none, and whether to skip or update numbers stored under other names (in any
    // group) when there are any; then refreshes the contact pane and reports.
    void mmImportContactsClick();
    // Reads the SIM's phone book through the worker (app/sim_phone_book.h) and
    // imports its entries as mmImportContactsClick imports a file's rows: the same
    // questions, report and refusals. One reading at a time: the menu item waits.
    void mmImportSimContactsClick();
    // Writes every contact, or those of the current group when there is one and
    // the user wants it, to a vCard or CSV file as its name ends.
    void mmExportContactsClick();
    void qmOptionsClick();
    // "Сервис" → "USSD-запрос…": the USSD window (gui/ussd_form.h), modal.
    void mmUssdClick();
    // The queue view (quick-menu button qmQueue): the records waiting to be sent,
    // each removable after a question; modal, refreshed each second while open.
    void qmQueueClick();
    // "Сервис" → "Модемы…" (shown with a pool of two modems or more): every modem's
    // state and counts; modal, refreshed each second.
    void mmModemsClick();
    // The close query (sets the stop flag; closing is always allowed) and the close
    // (stops and joins the worker, closes the port, tells how many records wait in
    // the queue file for the next start).
    void FormCloseQuery();
    void FormClose();
    // "Открыть" in the tray icon's menu, and a click on the icon or a notification:
    // the window back, shown normally and in front.
    void ShowFromTray();
    // "Выход" in the tray icon's menu: closes as the window's own close does,
    // shown or hidden, and ends the program.
    void QuitFromTray();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // A minimised window hides to the tray when the tray has the icon: the client
    // goes on receiving there without taking room on the task bar.
    void changeEvent(QEvent* event) override;

  private:
    void BindControls();
    void FormCreate();
    // What the worker reports, carried over to the window's thread: a sent or
    // received message refreshes the box on view; a store file that refuses
    // writes is told in a warning.
    app::WorkerEvents WindowEvents();
    // A change of the modem's state: a SIM that wants its PIN asks the user for it,
    // any other problem is shown in a warning.
    void ModemStateChanged(const modem::ModemStatus& status);
    // Reloads the message pane when it shows `file_name`, keeping its scroll position.
    void RefreshBoxView(const std::string& file_name);
    // The same for a store file the worker wrote: changes gathered over a quarter of
    // a second are shown in one reload (RefreshChangedBoxes).
    void RefreshBoxViewSoon(const std::string& file_name);
    void RefreshChangedBoxes();
    // Refreshes the views another process's writes changed, and tells of the
    // messages it received (BoxWatchTimer).
    void WatchBoxes();
    // Shows the compose window filled with `start` and queues what the user sends.
    void ComposeAndQueue(const ComposedMessage& start);
    // The draft kept in `path`; an unreadable one is told, and none given.
    std::optional<compose::Draft> KeptDraft(const std::string& path);
    // The sending modems of the pool, for the compose window to offer.
    std::vector<ModemChoice> ModemChoices(bool sending_only) const;
    // Each modem of the pool as the pane shows it, with its SIM's name and limits
    // read from Config.ini.
    std::vector<app::PoolModemCells> PoolCells(
        const std::vector<app::AppCore::PoolModemView>& modems) const;
    // The message at the current row of the message pane, if there is one.
    std::optional<ShownMessage> CurrentMessage() const;
    void ShowMessageMenu(const QPoint& position);
    // Queues one record per sendable recipient, in one write, and warns about the others.
    // True when records were queued; false when nothing was, told to the user.
    bool QueueMessage(const std::string& recipients, const std::string& text,
                      std::u16string_view whole, const app::Route& route = {});
    void BuildContactsListMenu();
    void OpenBoxView(const std::string& file_name);
    void OpenConversation(const std::string& number);
    // Refills MessageTable: the box `file_name`, or, while a search or a
    // conversation is on view, its messages from both boxes. False, after telling
    // the user, when a file exists but cannot be read.
    [[nodiscard]] bool LoadBoxView(const std::string& file_name);
    // The outbox with its delivery states; tells of a states file that cannot be
    // read (the messages still show) or that is damaged.
    Result<store::JoinedBox> OpenSentBox(const std::string& outbox_path);
    // Warns that a box's SIM notes cannot be read (its messages show without them).
    void TellUnreadableSims(const std::optional<Error>& error);
    // Whether the pane shows messages of both boxes (a search or a conversation).
    bool ShowsBothBoxes() const;
    // The reading pane: the whole text of the message at the current row, with its
    // number (and the contact's name), date and, for a sent one, delivery state;
    // empty without a current row.
    void ShowCurrentMessage();
    void ShowListing(contacts::Listing listing);
    void FillGroupToSearch();
    // SimToSearch offers "Все SIM" and every SIM of the boxes the pane holds, the
    // choice kept where that SIM is still among them.
    void FillSimToSearch();
    // Back to "Все SIM", without reloading the pane.
    void ShowAllSims();
    // The key of the SIM chosen in SimToSearch; empty for "Все SIM".
    std::string ChosenSim() const;
    // The names the user gave the SIMs of `keys` in Config.ini.
    messages::SimNames SimNamesOf(const std::vector<std::string>& keys) const;
    // The contact entered in `form` when it is valid; otherwise warns and gives nothing.
    std::optional<contacts::Contact> ValidEntry(const TEditForm& form);
    // Shows `form` until the user cancels or enters a valid contact: after a
    // refused field it comes back with the fields as typed.
    std::optional<contacts::Contact> AskContact(TEditForm& form);
    // Tells the user that the registry refused a change of `contact`, and why.
    void WarnRefused(contacts::RefusedChange change, const contacts::Contact& contact,
                     const RegistryError& error);
    int SelectedContactRow() const;
    // The group the contact pane is on: the group typed into the search panel while
    // it is open, else the selected contact's; empty when neither.
    std::string CurrentGroup() const;
    // The contact pane again from the registry, with the search on view kept.
    void RefreshContacts();
    // The group for the imported contacts without one, or nothing when cancelled.
    std::optional<std::string> AskImportGroup(contact_files::ImportSource source);
    // Imports the rows read from a file or the SIM: asks for a group when some row
    // has none and what to do with numbers stored under other names, writes,
    // refreshes the contact pane and reports.
    void ImportParsed(const contact_files::ParsedFile& parsed, contact_files::ImportSource source);
    // What the SIM's phone book reading gave, on the window's thread.
    void SimPhoneBookRead(const app::SimPhoneBook& read);
    // The contacts of the file's bytes. A CSV header the program does not know is
    // read through the columns the user names, asked once per header and
    // remembered (contact_files/column_choices.h). Nothing when the user cancelled.
    std::optional<contact_files::ParsedFile> ReadImportFile(contact_files::ContactFormat format,
                                                            const std::string& bytes);
    std::optional<contact_files::ColumnChoice> AskImportColumns(
        const std::vector<std::string>& titles);
    // Whether to skip or update the numbers stored under other names, with a list of
    // them; nothing when the user cancelled.
    std::optional<contact_files::ExistingNumber> AskExistingNumbers(
        const contact_files::ImportPlan& plan, contact_files::ImportSource source);
    void ShowContactsMenu(const QPoint& position);

    // ---- The balance watched (main_form_balance.cpp) ----
    // The status bar's balance, the kept reading and the timer of the checks.
    void BuildBalanceWatch();
    app::BalanceSettings BalanceWatchSettings() const;
    void CheckBalanceWhenDue();
    // Asks the balance code as an errand on the modem; the answer comes back to
    // BalanceAnswered on the window's thread.
    void CheckBalance(const std::string& code);
    void BalanceAnswered(const std::string& code, const modem::UssdAnswer& answer);
    void ShowBalance();
    void TellLowBalanceOnRefusal();

    // ---- The HTTP API for other programs (main_form_gateway.cpp) ----
    // With [Gateway] Enabled, makes the server (and the token at the first start)
    // and hooks it onto the worker's events; before the core starts.
    app::WorkerEvents WithGatewayEvents(app::WorkerEvents events);
    // Starts serving, once the core runs; a port that cannot be bound is said.
    void ServeGateway();
    // The settings dialog's fields of the API, and what it hands back.
    void PrepareGatewayOptions();
    void ApplyGatewayOptions();

    // ---- The limits of the SIM in the modem (main_form_sim_limits.cpp) ----
    // The settings dialog's fields of the SIM's limits, and what it hands back.
    void PrepareSimLimitsOptions();
    void ApplySimLimitsOptions();

    // ---- The modems of the pool (main_form_pool.cpp) ----
    // The settings dialog's list of modems, and what it hands back.
    void PreparePoolOptions();
    void ApplyPoolOptions();
    // The pool the dialog's rows make, or nothing once the reason it is refused has
    // been shown over `parent`.
    std::optional<std::vector<settings::PoolModem>> CheckedPool(QWidget* parent);

    // ---- The status bar, the queue view, notifications and the tray ----
    // The status bar's labels and its one-second clock, the quick menu's "Очередь",
    // the tray and the unread marks. Before FormCreate, which starts the worker.
    void BuildStatusArea();
    // Adds to the window's worker events what the status bar, the tray and the
    // unread count follow.
    app::WorkerEvents WithStatusEvents(app::WorkerEvents events);
    // Runs `work` on the window's thread, unless the window closed meanwhile.
    void PostToWindow(std::function<void()> work);
    // The modem, the queue, the bulk's progress and the last failure's countdown;
    // the queue view too while it is open.
    void RefreshStatusBar();
    // One part of the status bar: its words, hidden while it has none.
    static void ShowStatusPart(QLabel& part, const QString& text);
    // RefreshStatusBar for a worker event: events close together share one refresh.
    void RefreshStatusBarSoon();
    void MessagesArrived(const std::vector<store::ReceivedRecord>& stored);
    // A flash message (class 0) is shown at once in a window of its own, as phones
    // show it; it is in the inbox as well.
    // The box of a modem state that needs the user's hand (no SIM, a refused port):
    // the one standing closes, and a new one shows for a non-empty text.
    void ShowModemStateBox(const std::string& text);
    void KeepRoomForTheText();
    void ShowFlashMessages(const std::vector<store::ReceivedRecord>& stored,
                           const contacts::NumberNames& names);
    // The current message of the pane is read once it shows in the reading pane.
    void MarkShownRead();
    // "Принятые (3)" on the quick menu; the designed caption when none is unread.
    void ShowUnreadCount();
    void SaveUnreadMarks();
    void RemoveFromQueue(const app::QueueRow& row);
    void FillQueueForm();
    // For a pool, `modem_part` (the status bar's modem part, which the tray's
    // tooltip repeats) becomes the pool in a line, with each modem in the part's
    // tooltip; the pane "Модемы" is filled too while it is open.
    void ShowPool(QString& modem_part);

    Dialogs& dialogs_;
    std::size_t told_unbelieved_states_ = 0;  // the last count warned of
    bool told_sims_error_ = false;  // unreadable SIM notes were told; until they are read again
    Registry& registry_;
    app::AppCore& core_;
    contacts::ContactBook book_;
    TConfigForm* config_form_ = nullptr;
    bool closed_ = false;       // FormClose ran: a later close event has nothing left to release
    std::string shown_box_;     // the store file the message pane shows; empty while hidden
    std::string conversation_;  // the number whose conversation is on view, or empty
    std::optional<messages::SearchIndex> search_index_;  // of the boxes the model holds
    std::string program_dir_;
    std::vector<std::string> recipients_;
    std::unique_ptr<Ui::TMainForm> ui_;
    ContactTableModel* contacts_model_;  // owned by the window (Qt parent)
    BoxTableModel* box_model_;           // owned by the window (Qt parent)
    QMenu* PopupMenu;                    // named as the form names it; owned by the window
    QMenu* MessagePopupMenu;             // the message pane's context menu; owned by the window
    QTimer* BoxRefreshTimer;  // single shot, runs RefreshChangedBoxes; owned by the window
    std::set<std::string> boxes_changed_;  // store files written since the last reload
    // Another process's arrivals show within a second of being stored.
    static constexpr int kBoxWatchInterval = 1000;  // ms
    QTimer* BoxWatchTimer;                          // runs WatchBoxes; owned by the window
    std::optional<messages::BoxWatch> box_watch_;

    // What the worker said last, on the window's thread.
    modem::ModemStatus modem_status_;
    modem::ModemInfo modem_info_;
    std::optional<app::SendFailure> last_failure_;  // until a record is sent
    std::optional<app::SimRest> sim_rest_;          // until a record is sent
    std::optional<messages::UnreadMarks> unread_;   // nothing when inbox.unread is unreadable
    bool unread_failing_ = false;                   // a save failed and was told
    // Events for other programs, from FormCreate to FormClose: it outlives the worker.
    std::unique_ptr<webhooks::WebhookService> webhooks_;
    std::unique_ptr<Notifier> tray_;
    // The HTTP API, while [Gateway] Enabled was set at start-up; stopped in FormClose
    // before the core shuts down. Its threads are its own (gateway/api_server.h).
    std::unique_ptr<gateway::ApiServer> api_server_;
    gateway::GatewaySettings gateway_shown_;  // what the settings dialog last showed
    // The SIM whose limits the settings dialog last showed, and its settings as
    // read; none when no SIM was known or its settings could not be read.
    std::string sim_key_shown_;
    std::optional<settings::SimSettings> sim_shown_;
    // The pool the settings dialog last showed, the first modem's port left out
    // (the port field's); none when it could not be read.
    std::optional<std::vector<settings::PoolModem>> pool_shown_;
    Notifier* notifier_ = nullptr;        // tray_, or a test's double
    TQueueForm* queue_form_ = nullptr;    // while the queue view is open
    TModemsForm* modems_form_ = nullptr;  // while the pane "Модемы" is open
    QMenu* TrayMenu = nullptr;            // owned by the window
    QLabel* ModemLabel = nullptr;         // the status bar's labels, owned by it
    QLabel* QueueLabel = nullptr;
    QLabel* BulkLabel = nullptr;
    QLabel* WebhookLabel = nullptr;
    ElidedLabel* FailureLabel = nullptr;     // takes the room the others leave
    QPointer<QMessageBox> modem_state_box_;  // owned by the window; gone once closed
    QTimer* StatusTimer = nullptr;           // each second; owned by the window
    QTimer* StatusSoonTimer = nullptr;  // single shot, after worker events; owned by the window
    QLabel* BalanceLabel = nullptr;     // the status bar's balance, owned by it
    QTimer* BalanceTimer = nullptr;     // looks whether a check is due; owned by the window
    std::optional<app::BalanceReading> balance_;  // the last reading, kept in balance.json
    std::optional<app::Clock::time_point> last_balance_check_;  // asked at this run
    bool balance_asked_ = false;                                // a check waits for its answer
    bool refusal_told_ = false;  // a refused send told of this reading's low balance
};

}  // namespace velka::gui
