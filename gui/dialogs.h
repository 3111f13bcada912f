// Message boxes and modal forms go through this one interface, so that tests can
// answer them by script (see tests/gui/scripted_dialogs.h). UI thread only; every
// call blocks until the user answers.
#pragma once

#include <QString>
#include <memory>

class QDialog;
class QMessageBox;
class QWidget;

namespace velka::gui {

enum class MessageKind {
    Warning,  // caption "Warning", one button "OK"
    Confirm,  // caption "Confirm", buttons "OK" and "&No"
    Error,    // the error box of a failed handler: the application's name, "OK"
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // True when the user answered "OK".
    virtual bool Confirm(QWidget* parent, const QString& text) = 0;
    virtual void Error(QWidget* parent, const QString& text) = 0;
    // Shows the form modally and gives its result (QDialog::Accepted or Rejected).
    virtual int ShowModal(QDialog& form) = 0;
    // Asks where to save a file: its path, or empty when the user cancelled.
    virtual QString SaveFileName(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
};

// Fixes a dialog's size at its designed (minimum) size, or larger where the
// platform's font needs more room than the designed one did.
void FixSizeToContents(QDialog& dialog);

// The message box of a kind as the user sees it; the real dialogs and the test
// double both build their boxes here.
std::unique_ptr<QMessageBox> MakeMessageBox(MessageKind kind, QWidget* parent, const QString& text);

// Dialogs shown to the user.
class WindowDialogs final : public Dialogs {
  public:
    void Warning(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
    int ShowModal(QDialog& form) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter) override;
};

}  // namespace velka::gui
