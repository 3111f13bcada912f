#include "gui/edit_form.h"

#include <QSignalBlocker>

#include "gui/qt_text.h"
#include "ui_edit_form.h"

namespace velka::gui {

TEditForm::TEditForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TEditForm>()) {
    ui_->setupUi(this);
    connect(ui_->okBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->noBtn, &QPushButton::clicked, this, &QDialog::reject);
}

TEditForm::~TEditForm() = default;

void TEditForm::ClearFields() {
    ui_->NameEdit->clear();
    ui_->GroupSelect->clear();
    ui_->GroupSelect->setEditText({});
    ui_->NumEdit->clear();
}

void TEditForm::FillFields(const contacts::Contact& contact) {
    ui_->NameEdit->setText(ToQt(contact.name));
    ui_->NumEdit->setText(ToQt(contact.number));
    ui_->GroupSelect->setEditText(ToQt(contact.group));
}

void TEditForm::SetGroups(const std::vector<std::string>& groups) {
    const QString text = ui_->GroupSelect->currentText();
    const QSignalBlocker quiet(ui_->GroupSelect);
    ui_->GroupSelect->clear();
    for (const std::string& group : groups) ui_->GroupSelect->addItem(ToQt(group));
    ui_->GroupSelect->setEditText(text);
}

contacts::Contact TEditForm::Entry() const {
    return {FromQt(ui_->NameEdit->text()), FromQt(ui_->NumEdit->text()),
            FromQt(ui_->GroupSelect->currentText())};
}

}  // namespace velka::gui
