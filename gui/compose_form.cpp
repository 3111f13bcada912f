#include "gui/compose_form.h"

#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <algorithm>

#include "compose/compose.h"
#include "compose/text_price.h"
#include "gui/contact_table_model.h"
#include "gui/dialogs.h"
#include "gui/qt_text.h"
#include "ui_compose_form.h"

namespace velka::gui {

compose::TypedText StoredMessageText(const QString& text) {
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return compose::KeptFormOf(crlf.toStdU16String());
}

TComposeForm::TComposeForm(contacts::ContactBook& book, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      book_(book),
      dialogs_(dialogs),
      ui_(std::make_unique<Ui::TComposeForm>()),
      contacts_model_(new ContactTableModel(this)),
      PopupMenu(new QMenu(this)),
      CheaperMenu(new QMenu(this)) {
    ui_->setupUi(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addActions({ui_->pmAdd, ui_->pmAddAll, ui_->pmAddChecked});
    contacts_model_->SetCheckable(true);
    ui_->ContactsList->setModel(contacts_model_);
    ui_->ContactsList->setColumnWidth(ContactTableModel::kName, 170);
    ui_->ContactsList->setColumnWidth(ContactTableModel::kNumber, 120);
    QHeaderView* rows = ui_->ContactsList->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(ui_->ContactsList->fontMetrics().height() + 6);
    ui_->ContactsList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    BindControls();

    ui_->SignatureLabel->setText(ToQt(compose::SignatureLine()));
    ui_->CheaperButton->setMenu(CheaperMenu);
    ui_->ViaPanel->hide();  // one modem: nothing to choose
    ShowPrice();

    const QSignalBlocker quiet(ui_->GroupToSearch);
    for (const std::string& group : book_.GroupNames()) ui_->GroupToSearch->addItem(ToQt(group));
    ui_->GroupToSearch->setEditText({});
    ShowListing(book_.FullListing());
}

TComposeForm::~TComposeForm() = default;

void TComposeForm::BindControls() {
    connect(ui_->btnSend, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->btnAbort, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->pmAdd, &QAction::triggered, this, &TComposeForm::pmAddClick);
    connect(ui_->pmAddAll, &QAction::triggered, this, &TComposeForm::pmAddAllClick);
    connect(ui_->pmAddChecked, &QAction::triggered, this, &TComposeForm::pmAddCheckedClick);
    connect(ui_->ContactsList, &QAbstractItemView::doubleClicked, this, &TComposeForm::pmAddClick);
    connect(ui_->ContactsList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                PopupMenu->popup(ui_->ContactsList->viewport()->mapToGlobal(at));
            });
    connect(ui_->NameToSearch, &QLineEdit::textChanged, this, &TComposeForm::NameToSearchChange);
    connect(ui_->GroupToSearch, &QComboBox::editTextChanged, this,
            &TComposeForm::NameToSearchChange);
    connect(ui_->MessageText, &QPlainTextEdit::textChanged, this, &TComposeForm::MessageTextChange);
}

ComposedMessage TComposeForm::Message() const {
    compose::TypedText typed = StoredMessageText(ui_->MessageText->toPlainText());
    const int picked = ui_->ViaCombo->currentIndex();
    app::Route route = prefilled_route_;
    if (picked > 0 && static_cast<std::size_t>(picked) <= modem_vias_.size())
        route = {modem_vias_[static_cast<std::size_t>(picked) - 1], true};
    return {FromQt(ui_->RecepientsEdit->text()), std::move(typed.text), std::move(typed.whole),
            std::move(route)};
}

void TComposeForm::OfferModems(const std::vector<ModemChoice>& modems) {
    ui_->ViaCombo->clear();
    modem_vias_.clear();
    ui_->ViaCombo->addItem(QStringLiteral("любой"));
    for (const ModemChoice& modem : modems) {
        ui_->ViaCombo->addItem(modem.label);
        modem_vias_.push_back(modem.via);
    }
    ui_->ViaPanel->setVisible(modems.size() > 1);
}

void TComposeForm::Prefill(const ComposedMessage& message) {
    prefilled_route_ = message.route;
    ui_->RecepientsEdit->setText(ToQt(message.recipients));
    QString text =
        message.whole.empty() ? ToQt(message.text) : QString::fromStdU16String(message.whole);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ShowText(text);
}

void TComposeForm::ShowText(QString text) {
    if (!text.isEmpty()) ui_->MessageText->setPlainText(text);
}

void TComposeForm::KeepDraftsIn(std::string path, const std::optional<compose::Draft>& kept) {
    draft_path_ = std::move(path);
    opened_from_draft_ = kept.has_value();
    if (kept) {
        ui_->RecepientsEdit->setText(QString::fromStdString(kept->recipients));
        ShowText(QString::fromStdString(kept->text));
    }
    opened_with_ = CurrentDraft();
}

compose::Draft TComposeForm::CurrentDraft() const {
    return {ui_->RecepientsEdit->text().toStdString(),
            ui_->MessageText->toPlainText().toStdString()};
}

// A draft that cannot be emptied only comes back at the next compose: told, and
// the window closes as asked.
void TComposeForm::DiscardKeptDraft() {
    if (const Status discarded = compose::DiscardDraft(draft_path_); !discarded)
        dialogs_.Error(this, QStringLiteral("Черновик не удалён:\n") +
                                 SystemTextToQt(discarded.error().message));
}

void TComposeForm::reject() {
    if (SettleDraft()) QDialog::reject();
}

bool TComposeForm::SettleDraft() {
    const compose::Draft now = CurrentDraft();
    if (draft_path_.empty() || now == opened_with_) return true;
    if (now.text.empty()) {
        if (opened_from_draft_) DiscardKeptDraft();
        return true;
    }
    const QString keep = QStringLiteral("Сохранить");
    const QString discard = QStringLiteral("Не сохранять");
    const int answer = dialogs_.Ask(
        this,
        QStringLiteral("Сохранить текст как черновик? Он откроется при следующем вводе сообщения."),
        {keep, discard, QStringLiteral("Вернуться")});
    if (answer == 0) {
        if (const Status kept = compose::SaveDraft(draft_path_, now); !kept) {
            dialogs_.Error(this, QStringLiteral("Черновик не сохранён:\n") +
                                     SystemTextToQt(kept.error().message));
            return false;
        }
        return true;
    }
    if (answer == 1) {
        if (opened_from_draft_) DiscardKeptDraft();
        return true;
    }
    return false;
}

void TComposeForm::ShowListing(contacts::Listing listing) {
    contacts_model_->SetRows(std::move(listing.rows));
    if (listing.error) dialogs_.Error(this, ToQt(*listing.error));
}

void TComposeForm::AddRow(int row) {
    std::string list = FromQt(ui_->RecepientsEdit->text());
    compose::AddRecipient(list, contacts_model_->At(row).number);
    ui_->RecepientsEdit->setText(ToQt(list));
}

void TComposeForm::pmAddClick() {
    const QModelIndexList selected = ui_->ContactsList->selectionModel()->selectedRows();
    if (!selected.isEmpty()) AddRow(selected.first().row());
}

void TComposeForm::pmAddAllClick() {
    for (int row = 0; row < contacts_model_->rowCount(); ++row) AddRow(row);
}

void TComposeForm::pmAddCheckedClick() {
    for (int row = 0; row < contacts_model_->rowCount(); ++row) {
        if (contacts_model_->IsChecked(row)) AddRow(row);
    }
}

void TComposeForm::NameToSearchChange() {
    ShowListing(book_.FilteredListing(FromQt(ui_->NameToSearch->text()),
                                      FromQt(ui_->GroupToSearch->currentText())));
}

void TComposeForm::MessageTextChange() {
    KeepWithinLimit();
    const compose::TypedText typed = StoredMessageText(ui_->MessageText->toPlainText());
    ui_->CounterLabel->setText(ToQt(compose::CounterText(typed.text, room_, typed.whole)));
    ShowPrice();
}

void TComposeForm::CountWith(SegmentRoom room) {
    room_ = room;
    // The designed counter says nothing before the text first changes.
    if (!ui_->MessageText->toPlainText().isEmpty()) MessageTextChange();
    ShowPrice();
}

// The coding and the room left beside the counter, the characters that force UCS2
// marked, and the cheaper forms of the text offered where they cost fewer messages.
void TComposeForm::ShowPrice() {
    const compose::TypedText typed = StoredMessageText(ui_->MessageText->toPlainText());
    const std::string& text = typed.text;
    const compose::TextPrice price = compose::PriceOf(text, room_, typed.whole);
    ui_->PriceLabel->setText(ToQt(compose::PriceLine(price)));
    MarkCharactersForcingUcs2(price.ucs2);
    CheaperMenu->clear();
    // A character beyond the code page has no 7-bit look-alike: nothing makes such
    // a text cheaper, and the Windows-1251 forms below would lose it.
    if (!typed.whole.empty()) {
        ui_->CheaperButton->setVisible(false);
        return;
    }
    const std::string look_alikes = compose::WithLookAlikes(text);
    OfferCheaper(QStringLiteral("Заменить похожими латинскими знаками"), look_alikes, price);
    // Only where it changes more than the look-alikes do: the text has Cyrillic letters.
    if (const std::string latin = compose::Transliterated(text); latin != look_alikes)
        OfferCheaper(QStringLiteral("Написать латиницей (транслитерация)"), latin, price);
    ui_->CheaperButton->setVisible(!CheaperMenu->isEmpty());
}

void TComposeForm::OfferCheaper(const QString& what, const std::string& cheaper,
                                const compose::TextPrice& price) {
    const compose::TextPrice after = compose::PriceOf(cheaper, room_);
    if (after.messages >= price.messages && (after.ucs2 || !price.ucs2)) return;
    const QString label =
        QStringLiteral("%1: %2 → 7 бит, сообщений %3 → %4")
            .arg(what, price.ucs2 ? QStringLiteral("UCS2") : QStringLiteral("7 бит"))
            .arg(price.messages)
            .arg(after.messages);
    QString replacement = ToQt(cheaper);
    replacement.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    connect(CheaperMenu->addAction(label), &QAction::triggered, this, [this, replacement] {
        // One edit of the document, so that Ctrl+Z brings the typed text back.
        QTextCursor cursor(ui_->MessageText->document());
        cursor.select(QTextCursor::Document);
        cursor.insertText(replacement);
    });
}

// In a text that is mostly 7-bit, the few characters that make it UCS2 are what the
// user wants to find; in a Russian text every letter would be marked, which says
// nothing the coding beside the counter does not.
void TComposeForm::MarkCharactersForcingUcs2(bool ucs2) {
    QList<QTextEdit::ExtraSelection> marks;
    const QString text = ui_->MessageText->toPlainText();
    if (ucs2) {
        QTextEdit::ExtraSelection mark;
        mark.format.setBackground(QColor(0xff, 0xd8, 0x80));
        for (int at = 0; at < text.size(); ++at) {
            if (!compose::ForcesUcs2(text.at(at).unicode())) continue;
            mark.cursor = QTextCursor(ui_->MessageText->document());
            mark.cursor.setPosition(at);
            mark.cursor.setPosition(at + 1, QTextCursor::KeepAnchor);
            marks.push_back(mark);
        }
        if (marks.size() * 2 > text.size()) marks.clear();
    }
    ui_->MessageText->setExtraSelections(marks);
}

// The limit counts the stored text, where a line break takes two characters. Each
// pass removes at most as many characters as are too many (a line break counts
// two), so nothing the limit allows is lost, and at least half of them, so a long
// paste is cut in a few passes.
void TComposeForm::KeepWithinLimit() {
    QPlainTextEdit* edit = ui_->MessageText;
    std::size_t length = StoredMessageText(edit->toPlainText()).text.size();
    if (length <= compose::kMaxMessageLength) return;
    const QSignalBlocker quiet(edit);
    QTextCursor cursor = edit->textCursor();
    if (cursor.position() == 0) cursor.movePosition(QTextCursor::End);
    while (length > compose::kMaxMessageLength && cursor.position() > 0) {
        const auto excess = static_cast<int>(length - compose::kMaxMessageLength);
        const int cut = std::min(cursor.position(), std::max(1, excess / 2));
        cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, cut);
        cursor.removeSelectedText();
        length = StoredMessageText(edit->toPlainText()).text.size();
    }
    edit->setTextCursor(cursor);
}

}  // namespace velka::gui
