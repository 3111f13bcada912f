#include "tests/gui/russian_only.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QWidget>

namespace velka::gui::testing {
namespace {

// The design's own Latin texts, the application's name, and the names people read
// as they are: the port, the message and card kinds, the file formats.
bool Allowed(const QString& word) {
    static const QSet<QString> kAllowed = {
        QStringLiteral("Warning"), QStringLiteral("Confirm"), QStringLiteral("OK"),
        QStringLiteral("No"),      QStringLiteral("Velka"),   QStringLiteral("SMS"),
        QStringLiteral("Zevu"),    QStringLiteral("COM"),     QStringLiteral("SIM"),
        QStringLiteral("PIN"),     QStringLiteral("PUK"),     QStringLiteral("CSV"),
        QStringLiteral("vCard"),   QStringLiteral("USB"),     QStringLiteral("GSM"),
        QStringLiteral("UCS"),     QStringLiteral("USSD"),    QStringLiteral("IMEI"),
    };
    return kAllowed.contains(word);
}

bool HasForeignWord(const QString& text) {
    static const QRegularExpression kLatinWord(QStringLiteral("[A-Za-z]+"));
    QString plain = text;
    plain.remove(QLatin1Char('&'));  // the mnemonic's mark
    for (auto words = kLatinWord.globalMatch(plain); words.hasNext();) {
        if (!Allowed(words.next().captured())) return true;
    }
    return false;
}

QStringList CaptionsAndButtons(const QWidget& window) {
    QStringList texts{window.windowTitle()};
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>())
        texts << button->text();
    for (const QGroupBox* group : window.findChildren<QGroupBox*>()) texts << group->title();
    for (const QTabWidget* tabs : window.findChildren<QTabWidget*>()) {
        for (int tab = 0; tab < tabs->count(); ++tab) texts << tabs->tabText(tab);
    }
    return texts;
}

}  // namespace

// The serial component's own port selection dialog keeps the component's English
// texts, which the design fixes with it.
bool FixedInEnglish(const QWidget& window, const QString& text) {
    return window.objectName() == QStringLiteral("ComSelectForm") &&
           (text == QStringLiteral("Select Port") || text == QStringLiteral("Cancel"));
}

QStringList LatinTexts(const QWidget& window) {
    QStringList found;
    for (const QString& text : CaptionsAndButtons(window)) {
        if (HasForeignWord(text) && !FixedInEnglish(window, text)) found << text;
    }
    return found;
}

void ExpectRussianOnly(const QWidget& window) {
    const QStringList found = LatinTexts(window);
    if (!found.isEmpty())
        ADD_FAILURE() << "\"" << window.windowTitle().toStdString() << "\" shows Latin texts: "
                      << found.join(QStringLiteral(" | ")).toStdString();
}

RussianOnlyWatch::RussianOnlyWatch() {
    qApp->installEventFilter(this);
}

RussianOnlyWatch::~RussianOnlyWatch() {
    qApp->removeEventFilter(this);
}

bool RussianOnlyWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        const auto* widget = qobject_cast<const QWidget*>(watched);
        if (widget != nullptr && widget->isWindow()) ExpectRussianOnly(*widget);
    }
    return false;
}

}  // namespace velka::gui::testing
