#include "gui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace velka::gui {

void FixSizeToContents(QDialog& dialog) {
    dialog.setFixedSize(dialog.sizeHint().expandedTo(dialog.minimumSize()));
}

std::unique_ptr<QMessageBox> MakeMessageBox(MessageKind kind, QWidget* parent,
                                            const QString& text) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setText(text);
    switch (kind) {
        case MessageKind::Warning:
            box->setWindowTitle(QStringLiteral("Warning"));
            box->setIcon(QMessageBox::Warning);
            box->setStandardButtons(QMessageBox::Ok);
            break;
        case MessageKind::Confirm:
            box->setWindowTitle(QStringLiteral("Confirm"));
            box->setIcon(QMessageBox::Question);
            box->setStandardButtons(QMessageBox::Ok | QMessageBox::No);
            box->button(QMessageBox::No)->setText(QStringLiteral("&No"));
            box->setDefaultButton(QMessageBox::Ok);
            break;
        case MessageKind::Error:
            box->setWindowTitle(QApplication::applicationName());
            box->setIcon(QMessageBox::Critical);
            box->setStandardButtons(QMessageBox::Ok);
            break;
    }
    box->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    return box;
}

void WindowDialogs::Warning(QWidget* parent, const QString& text) {
    MakeMessageBox(MessageKind::Warning, parent, text)->exec();
}

bool WindowDialogs::Confirm(QWidget* parent, const QString& text) {
    return MakeMessageBox(MessageKind::Confirm, parent, text)->exec() == QMessageBox::Ok;
}

void WindowDialogs::Error(QWidget* parent, const QString& text) {
    MakeMessageBox(MessageKind::Error, parent, text)->exec();
}

int WindowDialogs::ShowModal(QDialog& form) {
    return form.exec();
}

QString WindowDialogs::SaveFileName(QWidget* parent, const QString& caption,
                                    const QString& filter) {
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
}

}  // namespace velka::gui
