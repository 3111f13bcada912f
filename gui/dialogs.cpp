#include "gui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>

namespace velka::gui {

void FixSizeToContents(QDialog& dialog) {
    dialog.setFixedSize(dialog.sizeHint().expandedTo(dialog.minimumSize()));
}

namespace {

// Window managers cut a caption wider than the window, and a box sizes itself to
// its text alone: a short report under the application's long name lost the name's
// end. A spacer below the text keeps room for the caption, its icon and the title
// bar's buttons.
void KeepRoomForTheCaption(QMessageBox& box) {
    constexpr int kTitleBarExtras = 130;  // the window icon and three buttons, with margins
    QFont caption_font = box.font();
    caption_font.setBold(true);
    const int width =
        QFontMetrics(caption_font).horizontalAdvance(box.windowTitle()) + kTitleBarExtras;
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) return;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

// The box of a kind before its caption is given room: a box that gets details or
// buttons of its own afterwards has its layout made anew.
std::unique_ptr<QMessageBox> BuildMessageBox(MessageKind kind, QWidget* parent,
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
        case MessageKind::Report:
            box->setWindowTitle(QApplication::applicationName());
            box->setIcon(QMessageBox::Information);
            box->setStandardButtons(QMessageBox::Ok);
            break;
        case MessageKind::Question:
            box->setWindowTitle(QApplication::applicationName());
            box->setIcon(QMessageBox::Question);
            return box;  // the asker adds its own buttons
    }
    box->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    return box;
}

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(MessageKind kind, QWidget* parent,
                                            const QString& text) {
    auto box = BuildMessageBox(kind, parent, text);
    KeepRoomForTheCaption(*box);
    return box;
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& text,
                                             const QStringList& buttons) {
    auto box = BuildMessageBox(MessageKind::Question, parent, text);
    // One role for all, so that the box keeps the order the asker gave.
    for (const QString& button : buttons) box->addButton(button, QMessageBox::ActionRole);
    const QList<QAbstractButton*> added = box->buttons();
    if (!added.isEmpty()) {
        box->setDefaultButton(qobject_cast<QPushButton*>(added.first()));
        box->setEscapeButton(added.last());
    }
    KeepRoomForTheCaption(*box);
    return box;
}

std::unique_ptr<QMessageBox> MakeReportBox(QWidget* parent, const QString& text,
                                           const QString& details) {
    auto box = BuildMessageBox(MessageKind::Report, parent, text);
    if (!details.isEmpty()) box->setDetailedText(details);
    KeepRoomForTheCaption(*box);
    return box;
}

std::unique_ptr<QInputDialog> MakeChoiceDialog(QWidget* parent, const QString& caption,
                                               const QString& label, const QStringList& choices,
                                               bool editable) {
    auto dialog = std::make_unique<QInputDialog>(parent);
    dialog->setWindowTitle(caption);
    dialog->setLabelText(label);
    dialog->setComboBoxItems(choices);
    dialog->setComboBoxEditable(editable);
    if (!choices.isEmpty()) dialog->setTextValue(choices.first());
    return dialog;
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
    QString chosen_filter;
    QString path = QFileDialog::getSaveFileName(parent, caption, QString(), filter, &chosen_filter);
    // "CSV (*.csv)": the extension after the filter's first "*".
    const QRegularExpressionMatch extension =
        QRegularExpression(QStringLiteral("\\*(\\.\\w+)")).match(chosen_filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && extension.hasMatch())
        path += extension.captured(1);
    return path;
}

QString WindowDialogs::OpenFileName(QWidget* parent, const QString& caption,
                                    const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString WindowDialogs::Choose(QWidget* parent, const QString& caption, const QString& label,
                              const QStringList& choices, bool editable) {
    const auto dialog = MakeChoiceDialog(parent, caption, label, choices, editable);
    return dialog->exec() == QDialog::Accepted ? dialog->textValue() : QString();
}

void WindowDialogs::Report(QWidget* parent, const QString& text, const QString& details) {
    MakeReportBox(parent, text, details)->exec();
}

int WindowDialogs::Ask(QWidget* parent, const QString& text, const QStringList& buttons) {
    const auto box = MakeQuestionBox(parent, text, buttons);
    box->exec();
    const auto pressed = box->buttons().indexOf(box->clickedButton());
    return pressed < 0 ? static_cast<int>(buttons.size()) - 1 : static_cast<int>(pressed);
}

}  // namespace velka::gui
