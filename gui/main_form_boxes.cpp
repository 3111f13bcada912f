#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <array>
#include <map>

#include "compose/compose.h"
#include "gui/box_table_model.h"
#include "gui/contact_table_model.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"
#include "messages/box_export.h"
#include "messages/delivery_states.h"
#include "messages/message_list.h"
#include "platform/files.h"
#include "settings/sim_settings.h"
#include "ui_main_form.h"

namespace velka::gui {

// ---- The message pane: the box views, their refresh, search, conversation and export ----

namespace {

QString BoxCaption(const std::string& file_name) {
    return file_name == app::kOutboxFile ? QStringLiteral(" Отправленные")
                                         : QStringLiteral(" Принятые");
}

// The messages that hold what was typed, characters Windows-1251 lacks included.
std::vector<messages::MessageRef> FindTyped(const messages::SearchIndex& index,
                                            const QString& query) {
    const compose::TypedText typed = compose::KeptFormOf(query.toStdU16String());
    return index.Find(typed.text, typed.whole);
}

}  // namespace

void TMainForm::qmInBoxClick() {
    OpenBoxView(app::kInboxFile);
}

void TMainForm::qmOutBoxClick() {
    OpenBoxView(app::kOutboxFile);
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

// A reply goes through the SIM the message came to while its modem takes records.
void TMainForm::actReplyExecute() {
    if (const auto shown = CurrentMessage())
        ComposeAndQueue({shown->message.number, {}, {}, {shown->message.sim, false}});
}

// A joined message may be longer than one record holds: the compose window takes
// the first 1024 characters, as it does with any text pasted into it.
void TMainForm::actForwardExecute() {
    if (const auto shown = CurrentMessage())
        ComposeAndQueue({{}, shown->message.text, shown->message.whole, {}});
}

void TMainForm::actCopyExecute() {
    if (const auto shown = CurrentMessage()) {
        QGuiApplication::clipboard()->setText(WholeTextQt(shown->message));
    }
}

void TMainForm::actSaveDataExecute() {
    const auto shown = CurrentMessage();
    if (!shown || shown->message.data.empty()) return;
    const QString path = dialogs_.SaveFileName(this, QStringLiteral("Сохранить данные сообщения"),
                                               QStringLiteral("Все файлы (*)"));
    if (path.isEmpty()) return;
    if (const Status saved =
            files::SaveDurably(path.toLocal8Bit().toStdString(), shown->message.data);
        !saved)
        dialogs_.Error(this, SystemTextToQt(saved.error().message));
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
    ShowAllSims();
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
        box_model_->ShowPicked(FindTyped(*search_index_, query));
        box_model_->Narrow(ChosenSim());
        QHeaderView* header = ui_->MessageTable->horizontalHeader();
        if (header->sortIndicatorSection() >= 0) {
            box_model_->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
        }
        return;
    }
    conversation_.clear();
    RefreshBoxView(shown_box_);
}

void TMainForm::SimToSearchChange() {
    if (!shown_box_.empty()) RefreshBoxView(shown_box_);
}

void TMainForm::FillSimToSearch() {
    QComboBox* combo = ui_->SimToSearch;
    const std::string chosen = ChosenSim();
    const QSignalBlocker quiet(combo);
    combo->clear();
    combo->addItem(QStringLiteral("Все SIM"));
    for (const std::string& key : box_model_->SimKeys()) {
        combo->addItem(ToQt(box_model_->ShownSim(key)), ToQt(key));
        combo->setItemData(combo->count() - 1, ToQt(key), Qt::ToolTipRole);
    }
    combo->setCurrentIndex(std::max(0, combo->findData(ToQt(chosen))));
}

void TMainForm::ShowAllSims() {
    const QSignalBlocker quiet(ui_->SimToSearch);
    ui_->SimToSearch->setCurrentIndex(0);
}

std::string TMainForm::ChosenSim() const {
    return FromQt(ui_->SimToSearch->currentData().toString());
}

messages::SimNames TMainForm::SimNamesOf(const std::vector<std::string>& keys) const {
    std::map<std::string, std::string, std::less<>> names;
    for (const std::string& key : keys) {
        // Settings that cannot be read (a limit that is no number) cost the name
        // alone: the SIM shows by its key.
        const auto sim = settings::ReadSimSettings(core_.FilePath(app::kConfigFile), key);
        if (sim && !sim->name.empty()) names.emplace(key, sim->name);
    }
    return messages::SimNames(std::move(names));
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

bool TMainForm::ShowsBothBoxes() const {
    return !conversation_.empty() || !ui_->MessageSearch->text().isEmpty();
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
    ShowAllSims();
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
Result<store::JoinedBox> TMainForm::OpenSentBox(const std::string& outbox_path) {
    auto sent = messages::OpenSentBox(outbox_path);
    if (!sent) return sent.error();
    if (sent->states_error) {
        dialogs_.Error(this, SystemTextToQt(sent->states_error->message));
        return std::move(sent->box);
    }
    // Said once for each new count, not at every refresh of the view.
    if (sent->unbelieved != told_unbelieved_states_) {
        told_unbelieved_states_ = sent->unbelieved;
        if (sent->unbelieved > 0)
            dialogs_.Warning(this, ToQt(messages::UnbelievedStatesWarning(sent->unbelieved)));
    }
    return std::move(sent->box);
}

// Said once until the notes can be read again, not at every refresh of the view.
void TMainForm::TellUnreadableSims(const std::optional<Error>& error) {
    if (error && !told_sims_error_) {
        dialogs_.Warning(
            this, QStringLiteral("SIM сообщений не показаны: ") + SystemTextToQt(error->message));
    }
    told_sims_error_ = error.has_value();
}

bool TMainForm::LoadBoxView(const std::string& file_name) {
    box_model_->Clear();
    search_index_.reset();
    const bool both = ShowsBothBoxes();
    const messages::Box shown =
        file_name == app::kOutboxFile ? messages::Box::Outbox : messages::Box::Inbox;
    std::array<std::optional<store::JoinedBox>, 2> boxes;
    std::optional<Error> sims_error;
    for (const messages::Box box : {messages::Box::Inbox, messages::Box::Outbox}) {
        if (!both && box != shown) continue;
        const std::string path =
            core_.FilePath(box == messages::Box::Inbox ? app::kInboxFile : app::kOutboxFile);
        auto opened =
            box == messages::Box::Outbox ? OpenSentBox(path) : store::JoinedBox::Open(path);
        if (!opened) {
            dialogs_.Error(this, SystemTextToQt(opened.error().message));
            return false;
        }
        if (opened->sims_error()) sims_error = opened->sims_error();
        boxes[box == messages::Box::Inbox ? 0 : 1] = std::move(*opened);
    }
    TellUnreadableSims(sims_error);
    const std::vector<std::string> sims =
        messages::SimsOf({boxes[0] ? &*boxes[0] : nullptr, boxes[1] ? &*boxes[1] : nullptr});
    box_model_->Show(std::move(boxes), contacts::NumberNames(book_.FullListing().rows),
                     SimNamesOf(sims), shown);
    if (!conversation_.empty()) {
        box_model_->ShowPicked(messages::Conversation(box_model_->BoxOf(messages::Box::Inbox),
                                                      box_model_->BoxOf(messages::Box::Outbox),
                                                      conversation_));
    } else if (both) {
        search_index_.emplace(box_model_->BoxOf(messages::Box::Inbox),
                              box_model_->BoxOf(messages::Box::Outbox), box_model_->Names());
        box_model_->ShowPicked(FindTyped(*search_index_, ui_->MessageSearch->text()));
    }
    FillSimToSearch();
    box_model_->Narrow(ChosenSim());
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
    // Boxes whose messages name no SIM (one modem that gives no ICCID, messages
    // kept before the notes) keep the columns and the filter they had.
    const bool sims_known = !box_model_->SimKeys().empty();
    ui_->MessageTable->setColumnHidden(BoxTableModel::kSim, !sims_known);
    ui_->SimToSearch->setVisible(sims_known);
    ui_->MessageTable->resizeColumnToContents(BoxTableModel::kSim);
    const int widest_state = ui_->MessageTable->fontMetrics().horizontalAdvance(
                                 QStringLiteral("доставлено 00.00.0000 00:00:00")) +
                             12;
    if (ui_->MessageTable->columnWidth(BoxTableModel::kState) > widest_state)
        ui_->MessageTable->setColumnWidth(BoxTableModel::kState, widest_state);
    KeepRoomForTheText();
    return true;
}

// The text keeps a third of the table's width at the least: the SIM column, the
// state column, then the number column give up what it needs, down to the width of
// their headings. What they cut shows whole in their tool tips and the reading pane.
void TMainForm::KeepRoomForTheText() {
    QTableView& table = *ui_->MessageTable;
    const int width = table.viewport()->width();
    int others = 0;
    for (int column = 0; column < BoxTableModel::kColumnCount; ++column) {
        if (column != BoxTableModel::kText && !table.isColumnHidden(column))
            others += table.columnWidth(column);
    }
    int over = width / 3 - (width - others);
    for (const int column :
         {static_cast<int>(BoxTableModel::kSim), static_cast<int>(BoxTableModel::kState),
          static_cast<int>(BoxTableModel::kNumber)}) {
        if (over <= 0 || table.isColumnHidden(column)) continue;
        // The SIM column's heading is short beside the names under it: it narrows to
        // the heading's letters, without the room a sort mark would take.
        const int least = column == BoxTableModel::kSim
                              ? table.fontMetrics().horizontalAdvance(QStringLiteral("SIM")) + 12
                              : table.horizontalHeader()->sectionSizeHint(column);
        const int given = std::min(over, table.columnWidth(column) - least);
        if (given <= 0) continue;
        table.setColumnWidth(column, table.columnWidth(column) - given);
        over -= given;
    }
}

void TMainForm::ShowCurrentMessage() {
    const QModelIndex current = ui_->MessageTable->currentIndex();
    if (!current.isValid()) {
        ui_->ReaderHeader->clear();
        ui_->ReaderText->clear();
        ui_->actSaveData->setVisible(false);
        return;
    }
    const auto [box, message] = box_model_->MessageAt(current.row());
    ui_->actSaveData->setVisible(!message.data.empty());
    const QString party =
        box == messages::Box::Outbox ? QStringLiteral("Кому: ") : QStringLiteral("От: ");
    QString header = party + ToQt(box_model_->Shown(message.number)) + QStringLiteral("    ") +
                     ToQt(message.datetime);
    if (!message.state.empty()) header += QStringLiteral("\nСостояние: ") + ToQt(message.state);
    if (!message.sim.empty())
        header += QStringLiteral("\nSIM: ") + ToQt(box_model_->ShownSim(message.sim));
    ui_->ReaderHeader->setText(header);
    QString text = WholeTextQt(message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ui_->ReaderText->setPlainText(text);
}

}  // namespace velka::gui
