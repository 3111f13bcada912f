#include "gui/ussd_form.h"

#include <QApplication>
#include <QPointer>

#include "app/ussd_codes.h"
#include "app/ussd_text.h"
#include "gui/dialogs.h"
#include "gui/qt_text.h"
#include "ui_ussd_form.h"

namespace velka::gui {
namespace {

// Runs `work` on the front end's thread, unless `form` is gone by then. The
// application, not the form, carries the call: the form may be destroyed on its
// thread while the worker posts.
void PostTo(QPointer<TUssdForm> form, std::function<void(TUssdForm&)> work) {
    QMetaObject::invokeMethod(
        QApplication::instance(),
        [form, work = std::move(work)] {
            if (form) work(*form);
        },
        Qt::QueuedConnection);
}

}  // namespace

TUssdForm::TUssdForm(Dialogs& dialogs, app::AppCore& core, std::string codes_path, QWidget* parent)
    : QDialog(parent),
      dialogs_(dialogs),
      core_(core),
      codes_path_(std::move(codes_path)),
      ui_(std::make_unique<Ui::TUssdForm>()) {
    ui_->setupUi(this);
    ui_->ModemPanel->hide();
    // The two lists start at one edge, under each other.
    ui_->ModemLabel->setMinimumWidth(ui_->CodeLabel->sizeHint().width());
    FillCodes();
    connect(ui_->SendButton, &QPushButton::clicked, this, &TUssdForm::SendButtonClick);
    connect(ui_->ReplyButton, &QPushButton::clicked, this, &TUssdForm::ReplyButtonClick);
    connect(ui_->ReplyEdit, &QLineEdit::returnPressed, this, &TUssdForm::ReplyButtonClick);
    connect(ui_->EndButton, &QPushButton::clicked, this, &TUssdForm::EndButtonClick);
    connect(ui_->CloseButton, &QPushButton::clicked, this, &TUssdForm::reject);
}

TUssdForm::~TUssdForm() {
    EndSession();
}

void TUssdForm::OfferModems(const std::vector<ModemChoice>& modems) {
    ui_->ModemCombo->clear();
    modem_vias_.clear();
    for (const ModemChoice& modem : modems) {
        ui_->ModemCombo->addItem(modem.label);
        modem_vias_.push_back(modem.via);
    }
    ui_->ModemPanel->setVisible(modems.size() > 1);
}

void TUssdForm::FillCodes() {
    ui_->UssdCode->clear();
    for (const std::string& code : app::LoadUssdCodes(codes_path_))
        ui_->UssdCode->addItem(QString::fromStdString(code));
}

void TUssdForm::SendButtonClick() {
    const QString code = ui_->UssdCode->currentText().trimmed();
    if (code.isEmpty()) {
        dialogs_.Warning(this, "Введите код запроса, например *100#.");
        return;
    }
    // A new request starts a new session; the network's open one is ended first.
    EndSession();
    const int picked = ui_->ModemCombo->currentIndex();
    session_via_ = modem_vias_.size() > 1 && picked >= 0
                       ? modem_vias_[static_cast<std::size_t>(picked)]
                       : std::string();
    if (const Status kept = app::RememberUssdCode(codes_path_, code.toStdString()); !kept) {
        dialogs_.Warning(
            this, "Не удалось сохранить список кодов: " + SystemTextToQt(kept.error().message));
    }
    FillCodes();
    ui_->UssdCode->setCurrentText(code);
    ui_->AnswerText->clear();
    Ask(code);
}

void TUssdForm::ReplyButtonClick() {
    const QString reply = ui_->ReplyEdit->text().trimmed();
    if (!session_open_ || reply.isEmpty()) return;
    ui_->ReplyEdit->clear();
    Ask(reply);
}

void TUssdForm::EndButtonClick() {
    EndSession();
    ShowState("Сеанс завершён.");
}

void TUssdForm::reject() {
    EndSession();
    QDialog::reject();
}

void TUssdForm::Ask(const QString& request) {
    session_open_ = false;
    pending_ = std::make_shared<Pending>();
    ui_->SendButton->setEnabled(false);
    ui_->ReplyEdit->setEnabled(false);
    ui_->ReplyButton->setEnabled(false);
    ui_->EndButton->setEnabled(true);
    ShowState("Запрос отправлен, ждём ответа сети…");
    const QPointer<TUssdForm> form(this);
    core_.RunOnModem(
        {[form, pending = pending_, text = request.toStdU16String()](modem::Session& session) {
             const modem::UssdAnswer answer = session.Ussd(text);
             if (answer.status == modem::UssdStatus::Question && pending->abandoned.load())
                 session.EndUssd();
             PostTo(form,
                    [pending, answer](TUssdForm& shown) { shown.Answered(*pending, answer); });
         },
         [form, pending = pending_](const Error& why) {
             PostTo(form, [pending, why = ToQt(why.message)](TUssdForm& shown) {
                 shown.Failed(*pending, why);
             });
         },
         session_via_});
}

void TUssdForm::Answered(const Pending& request, const modem::UssdAnswer& answer) {
    // The answer to a request given up meanwhile (a new one, the session ended).
    if (pending_.get() != &request) return;
    pending_.reset();
    ui_->SendButton->setEnabled(true);
    if (!answer.text.empty()) ui_->AnswerText->setPlainText(QString::fromStdU16String(answer.text));
    session_open_ = answer.status == modem::UssdStatus::Question;
    ui_->ReplyEdit->setEnabled(session_open_);
    ui_->ReplyButton->setEnabled(session_open_);
    ui_->EndButton->setEnabled(session_open_);
    if (session_open_) {
        ShowState("Сеть ждёт ответа: введите его и нажмите «Ответить».");
        ui_->ReplyEdit->setFocus();
        return;
    }
    const QString outcome = ToQt(app::UssdOutcomeText(answer));
    ShowState(outcome.isEmpty() ? QString("Сеанс завершён.") : outcome);
    if (!app::UssdAnswered(answer)) dialogs_.Warning(this, outcome);
}

void TUssdForm::Failed(const Pending& request, const QString& why) {
    if (pending_.get() != &request) return;
    pending_.reset();
    session_open_ = false;
    ui_->SendButton->setEnabled(true);
    ui_->EndButton->setEnabled(false);
    ShowState(why);
    dialogs_.Warning(this, why);
}

// The network's side of an open session, or of one whose answer is still coming,
// is ended: nobody is left to answer its question.
void TUssdForm::EndSession() {
    if (pending_) {
        pending_->abandoned.store(true);
        pending_.reset();
    } else if (session_open_) {
        core_.RunOnModem({[](modem::Session& session) { session.EndUssd(); }, [](const Error&) {},
                          session_via_});
    }
    session_open_ = false;
    ui_->SendButton->setEnabled(true);
    ui_->ReplyEdit->setEnabled(false);
    ui_->ReplyButton->setEnabled(false);
    ui_->EndButton->setEnabled(false);
}

void TUssdForm::ShowState(const QString& text) {
    ui_->StateLabel->setText(text);
}

}  // namespace velka::gui
