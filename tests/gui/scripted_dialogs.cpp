#include "tests/gui/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QInputDialog>
#include <QMessageBox>
#include <QPainter>
#include <cstdlib>
#include <utility>

#include "tests/gui/russian_only.h"

namespace velka::gui::testing {
namespace {

const char* ScreenshotDir() {
    return std::getenv("VELKA_SCREENSHOTS");
}

// The offscreen platform draws no window frames; a plain title bar keeps the
// caption, which is part of what the user sees.
QImage Framed(QWidget& window) {
    const QPixmap client = window.grab();
    const int border = 1;
    const int title_height = 26;
    QImage image(client.width() + 2 * border, client.height() + title_height + border,
                 QImage::Format_ARGB32);
    image.fill(QColor(0x8a, 0x9b, 0xb0));
    QPainter painter(&image);
    painter.fillRect(border, border, image.width() - 2 * border, title_height - border,
                     QColor(0xe8, 0xee, 0xf5));
    int text_left = 8;
    if (const QIcon icon = window.windowIcon(); !icon.isNull()) {
        painter.drawPixmap(6, 5, icon.pixmap(16, 16));
        text_left = 28;
    }
    QFont font = window.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x22, 0x33, 0x44));
    painter.drawText(QRect(text_left, border, image.width() - text_left, title_height - border),
                     Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawPixmap(border, title_height, client);
    return image;
}

}  // namespace

bool Screenshots::Enabled() {
    return ScreenshotDir() != nullptr;
}

void Screenshots::Save(QWidget& window, const std::string& name) {
    if (!Enabled()) return;
    const QString path =
        QString::fromLocal8Bit(ScreenshotDir()) + "/" + QString::fromStdString(name) + ".png";
    EXPECT_TRUE(Framed(window).save(path)) << path.toStdString();
}

void ScriptedDialogs::TakeScreenshot(QWidget& window, const std::string& name) {
    if (name.empty() || !Screenshots::Enabled()) return;
    window.show();
    QApplication::processEvents();
    Screenshots::Save(window, name);
    window.hide();
}

void ScriptedDialogs::Record(MessageKind kind, QWidget* parent, const QString& text) {
    messages_.push_back({kind, text, {}});
    Look(*MakeMessageBox(kind, parent, text));
}

// Every box is made as the user would see it, so that its caption and buttons are
// checked, and pictured when a screenshot is asked for.
void ScriptedDialogs::Look(QWidget& box) {
    ExpectRussianOnly(box);
    TakeScreenshot(box, std::exchange(next_screenshot_, {}));
}

void ScriptedDialogs::Warning(QWidget* parent, const QString& text) {
    Record(MessageKind::Warning, parent, text);
}

bool ScriptedDialogs::Confirm(QWidget* parent, const QString& text) {
    Record(MessageKind::Confirm, parent, text);
    if (confirm_answers_.empty()) {
        ADD_FAILURE() << "unexpected confirmation: " << text.toStdString();
        return false;
    }
    const bool answer = confirm_answers_.front();
    confirm_answers_.pop_front();
    return answer;
}

void ScriptedDialogs::Error(QWidget* parent, const QString& text) {
    Record(MessageKind::Error, parent, text);
}

int ScriptedDialogs::ShowModal(QDialog& form) {
    ++forms_shown_;
    ExpectRussianOnly(form);
    // Taken now, so that the script may name the box that its answer brings up.
    const std::string name = std::exchange(next_screenshot_, {});
    if (form_scripts_.empty()) {
        ADD_FAILURE() << "unexpected form: " << form.windowTitle().toStdString();
        return QDialog::Rejected;
    }
    FormScript script = std::move(form_scripts_.front());
    form_scripts_.pop_front();
    const int result = script(form);
    TakeScreenshot(form, name);
    return result;
}

QString ScriptedDialogs::SaveFileName(QWidget*, const QString& caption, const QString&) {
    return NextFile(caption);
}

QString ScriptedDialogs::OpenFileName(QWidget*, const QString& caption, const QString&) {
    return NextFile(caption);
}

QString ScriptedDialogs::Choose(QWidget* parent, const QString& caption, const QString& label,
                                const QStringList& choices, bool editable) {
    choices_.push_back({label, choices});
    Look(*MakeChoiceDialog(parent, caption, label, choices, editable));
    if (choice_answers_.empty()) {
        ADD_FAILURE() << "unexpected choice: " << label.toStdString();
        return {};
    }
    QString answer = std::move(choice_answers_.front());
    choice_answers_.pop_front();
    return answer;
}

void ScriptedDialogs::Report(QWidget* parent, const QString& text, const QString& details) {
    messages_.push_back({MessageKind::Report, text, details});
    const auto box = MakeReportBox(parent, text, details);
    // Shown with the details open, as the user reads them after a click.
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();
    }
    Look(*box);
}

int ScriptedDialogs::Ask(QWidget* parent, const QString& text, const QStringList& buttons) {
    messages_.push_back({MessageKind::Question, text, {}});
    Look(*MakeQuestionBox(parent, text, buttons));
    if (question_answers_.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return static_cast<int>(buttons.size()) - 1;
    }
    const QString answer = std::move(question_answers_.front());
    question_answers_.pop_front();
    const auto index = buttons.indexOf(answer);
    if (index < 0)
        ADD_FAILURE() << "no button " << answer.toStdString() << " in: " << text.toStdString();
    return index < 0 ? static_cast<int>(buttons.size()) - 1 : static_cast<int>(index);
}

QString ScriptedDialogs::NextFile(const QString& caption) {
    if (file_answers_.empty()) {
        ADD_FAILURE() << "unexpected file question: " << caption.toStdString();
        return {};
    }
    QString answer = std::move(file_answers_.front());
    file_answers_.pop_front();
    return answer;
}

}  // namespace velka::gui::testing
