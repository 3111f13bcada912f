#include "gui/ser_sel_com_form.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include "gui/dialogs.h"
#include "serial/ser_selcom.h"
#include "ui_ser_sel_com_form.h"

namespace velka::gui {

TComSelectForm::TComSelectForm(const std::vector<std::string>& ports, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TComSelectForm>()) {
    ui_->setupUi(this);
    ui_->OkBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    ui_->AbortBtn->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    connect(ui_->OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->AbortBtn, &QPushButton::clicked, this, &QDialog::reject);
    for (const std::string& port : ports) ui_->PortsComboBox->addItem(QString::fromStdString(port));
    if (!ports.empty()) ui_->PortsComboBox->setCurrentIndex(0);
    FixSizeToContents(*this);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TComSelectForm::~TComSelectForm() = default;

std::string TComSelectForm::SelectedCom() const {
    return ui_->PortsComboBox->currentText().toStdString();
}

std::uint16_t TComSelectForm::SelectedComNum() const {
    return velka::SelectedComNum(SelectedCom());
}

TPortSelector MakePortSelector(Dialogs& dialogs, std::function<bool(std::uint16_t)> available) {
    return [&dialogs, available = std::move(available)]() -> std::optional<std::uint16_t> {
        TComSelectForm form(AvailablePortList(available));
        if (dialogs.ShowModal(form) != QDialog::Accepted) return std::nullopt;
        const std::uint16_t chosen = form.SelectedComNum();
        if (chosen == 0) return std::nullopt;
        return chosen;
    };
}

}  // namespace velka::gui
