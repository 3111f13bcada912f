// The test double of the dialogs interface: it records every message box, answers
// confirmations and modal forms from a script, and, in screenshot mode, saves a
// picture of each box and form it is shown.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "gui/dialogs.h"

class QWidget;

namespace velka::gui::testing {

// With VELKA_SCREENSHOTS=DIR set, Save writes DIR/NAME.png: the window's client
// area under a plain title bar with its caption. Otherwise it does nothing.
class Screenshots {
  public:
    static bool Enabled();
    static void Save(QWidget& window, const std::string& name);
};

struct ShownMessage {
    MessageKind kind;
    QString text;
    QString details;  // of a report
};

// A choice the window asked for, with what it offered.
struct AskedChoice {
    QString label;
    QStringList choices;
};

class ScriptedDialogs final : public Dialogs {
  public:
    using FormScript = std::function<int(QDialog&)>;

    // The answers, used in order. A confirmation or form without one fails the test.
    void AnswerConfirm(bool ok) { confirm_answers_.push_back(ok); }
    void AnswerForm(FormScript script) { form_scripts_.push_back(std::move(script)); }
    // The path the next file question gives (empty: the user cancelled).
    void AnswerFile(QString path) { file_answers_.push_back(std::move(path)); }
    // The text the next choice gives (empty: the user cancelled).
    void AnswerChoice(QString text) { choice_answers_.push_back(std::move(text)); }
    // The button the next question is answered with: its text, as the window named it.
    void AnswerQuestion(QString button) { question_answers_.push_back(std::move(button)); }
    // The screenshot name of the next box or form shown. A form script may name
    // the box that its answer brings up.
    void NameNextScreenshot(std::string name) { next_screenshot_ = std::move(name); }

    const std::vector<ShownMessage>& Messages() const { return messages_; }
    const std::vector<AskedChoice>& Choices() const { return choices_; }
    int FormsShown() const { return forms_shown_; }
    bool AllAnswersUsed() const {
        return confirm_answers_.empty() && form_scripts_.empty() && file_answers_.empty() &&
               choice_answers_.empty() && question_answers_.empty();
    }

    void Warning(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
    int ShowModal(QDialog& form) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    // Open and save questions share the answers of AnswerFile.
    QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    QString Choose(QWidget* parent, const QString& caption, const QString& label,
                   const QStringList& choices, bool editable) override;
    void Report(QWidget* parent, const QString& text, const QString& details) override;
    int Ask(QWidget* parent, const QString& text, const QStringList& buttons) override;

  private:
    void Record(MessageKind kind, QWidget* parent, const QString& text);
    void Look(QWidget& box);
    QString NextFile(const QString& caption);
    static void TakeScreenshot(QWidget& window, const std::string& name);

    std::vector<ShownMessage> messages_;
    std::deque<bool> confirm_answers_;
    std::deque<FormScript> form_scripts_;
    std::deque<QString> file_answers_;
    std::deque<QString> choice_answers_;
    std::deque<QString> question_answers_;
    std::vector<AskedChoice> choices_;
    std::string next_screenshot_;
    int forms_shown_ = 0;
};

}  // namespace velka::gui::testing
