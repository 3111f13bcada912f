#include "gui/config_form.h"

#include <QShowEvent>

#include "gui/dialogs.h"
#include "gui/qt_text.h"
#include "ui_config_form.h"

namespace velka::gui {

// A fixed border with only a close box: closing it is the one way out besides
// "Применить", and writes nothing.
TConfigForm::TConfigForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TConfigForm>()) {
    ui_->setupUi(this);
    connect(ui_->ApplyBtn, &QPushButton::clicked, this, &QDialog::accept);
    FixSizeToContents(*this);
}

TConfigForm::~TConfigForm() = default;

void TConfigForm::Prepare(const std::vector<std::string>& ports,
                          const settings::DialogSettings& shown) {
    ui_->PortBox->clear();
    for (const std::string& port : ports) ui_->PortBox->addItem(ToQt(port));
    ui_->PortBox->setEditText(ToQt(shown.port));
    ui_->MailCheck->setChecked(shown.reception);
    ui_->DeliveryReportCheck->setChecked(shown.delivery_reports);
}

settings::DialogSettings TConfigForm::Chosen() const {
    return {FromQt(ui_->PortBox->currentText()), ui_->MailCheck->isChecked(),
            ui_->DeliveryReportCheck->isChecked()};
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
