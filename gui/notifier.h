// The system tray: an icon that shows the modem's state, a menu to bring the
// window up or leave, and notifications of arrived messages. Behind an interface,
// so that a test reads what would have been shown: offscreen there is no tray.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "app/status_text.h"

class QMenu;
class QSystemTrayIcon;

namespace velka::gui {

class Notifier {
  public:
    virtual ~Notifier() = default;
    // A notification: the sender (or a count) and the start of the text.
    virtual void Notify(const QString& title, const QString& text) = 0;
    // The tray icon's picture and tooltip follow the modem's state.
    virtual void ShowModemState(modem::ModemState state, const QString& tooltip) = 0;
    // Whether the icon is in the tray, so that a window hidden to it can be
    // brought back from there.
    virtual bool InTray() const = 0;
};

// The real tray icon, when the desktop has a tray; otherwise it shows nothing.
// A click on the icon or on a notification runs `bring_up` (the window's own way
// back from the tray); `menu` is the icon's context menu.
class TrayNotifier final : public Notifier {
  public:
    TrayNotifier(QMenu& menu, std::function<void()> bring_up);
    ~TrayNotifier() override;
    void Notify(const QString& title, const QString& text) override;
    void ShowModemState(modem::ModemState state, const QString& tooltip) override;
    bool InTray() const override;

  private:
    std::unique_ptr<QSystemTrayIcon> icon_;
    modem::ModemState shown_state_ = modem::ModemState::Unknown;  // what the icon shows
};

}  // namespace velka::gui
