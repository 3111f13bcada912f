// Every caption and button the user meets speaks Russian. The GUI tests check each
// box and form they are shown (ScriptedDialogs), and each window that opens by
// itself (RussianOnlyWatch), so that together they walk every dialog.
#pragma once

#include <QObject>
#include <QStringList>

class QWidget;

namespace velka::gui::testing {

// The captions and button texts of `window` and its children that hold a Latin
// word outside the few the design fixes or that are names (the application's name,
// "Warning", "Confirm", "OK", "&No", SMS, SIM, PIN, COM and the like; the serial
// component's "Select Port" dialog).
QStringList LatinTexts(const QWidget& window);

// Fails the running test when `window` shows such a text.
void ExpectRussianOnly(const QWidget& window);

// Checks every top-level window as it is shown, for as long as it lives.
class RussianOnlyWatch final : public QObject {
  public:
    RussianOnlyWatch();
    ~RussianOnlyWatch() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace velka::gui::testing
