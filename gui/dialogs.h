// Message boxes and modal forms go through this one interface, so that tests can
// answer them by script (see tests/gui/scripted_dialogs.h). UI thread only; every
// call blocks until the user answers.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QDialog;
class QInputDialog;
class QMessageBox;
class QWidget;

namespace velka::gui {

enum class MessageKind {
    Warning,   // caption "Warning", one button "OK"
    Confirm,   // caption "Confirm", buttons "OK" and "&No"
    Error,     // the error box of a failed handler: the application's name, "OK"
    Report,    // the outcome of a long action: the application's name, "OK"
    Question,  // a question with buttons of its own: the application's name
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
    // Asks which file to open: its path, or empty when the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
    // Asks the user to pick one of `choices`, the first offered (when `editable`,
    // another may be typed): the text picked, or empty when the user cancelled.
    virtual QString Choose(QWidget* parent, const QString& caption, const QString& label,
                           const QStringList& choices, bool editable) = 0;
    // A report (MessageKind::Report) with `details`, when not empty, behind a button.
    virtual void Report(QWidget* parent, const QString& text, const QString& details) = 0;
    // A question (MessageKind::Question) answered by one of `buttons`, the first the
    // default; Escape or closing the box presses the last. Gives the button's index.
    virtual int Ask(QWidget* parent, const QString& text, const QStringList& buttons) = 0;
};

// Fixes a dialog's size at its designed (minimum) size, or larger where the
// platform's font needs more room than the designed one did.
void FixSizeToContents(QDialog& dialog);

// The message box of a kind as the user sees it; the real dialogs and the test
// double both build their boxes here.
std::unique_ptr<QMessageBox> MakeMessageBox(MessageKind kind, QWidget* parent, const QString& text);
// The report box with its details, and the choice dialog, built the same way for both.
std::unique_ptr<QMessageBox> MakeReportBox(QWidget* parent, const QString& text,
                                           const QString& details);
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& text,
                                             const QStringList& buttons);
std::unique_ptr<QInputDialog> MakeChoiceDialog(QWidget* parent, const QString& caption,
                                               const QString& label, const QStringList& choices,
                                               bool editable);

// Dialogs shown to the user.
class WindowDialogs final : public Dialogs {
  public:
    void Warning(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
    int ShowModal(QDialog& form) override;
    // A name typed without an extension gets the one of the filter chosen.
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    QString Choose(QWidget* parent, const QString& caption, const QString& label,
                   const QStringList& choices, bool editable) override;
    void Report(QWidget* parent, const QString& text, const QString& details) override;
    int Ask(QWidget* parent, const QString& text, const QStringList& buttons) override;
};

}  // namespace velka::gui
