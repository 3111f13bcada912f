#include "gui/notifier.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace velka::gui {
namespace {

// Green when the modem is ready, grey while it is being reached, amber when its
// port is gone, red for every other trouble.
QColor StateColour(modem::ModemState state) {
    switch (state) {
        case modem::ModemState::Ready:
            return QColor(0x2e, 0x9e, 0x44);
        case modem::ModemState::Unknown:
            return QColor(0x90, 0x90, 0x90);
        case modem::ModemState::PortMissing:
            return QColor(0xe0, 0x9a, 0x10);
        default:
            return QColor(0xcc, 0x30, 0x30);
    }
}

// An envelope on a disc of the state's colour, drawn here: no picture files.
QIcon StateIcon(modem::ModemState state) {
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter paint(&picture);
    paint.setRenderHint(QPainter::Antialiasing);
    paint.setBrush(StateColour(state));
    paint.setPen(Qt::NoPen);
    paint.drawEllipse(1, 1, 30, 30);
    paint.setBrush(Qt::white);
    paint.drawRect(8, 10, 16, 12);
    paint.setPen(QPen(StateColour(state), 1.5));
    paint.drawLine(8, 10, 16, 17);
    paint.drawLine(24, 10, 16, 17);
    return QIcon(picture);
}

}  // namespace

TrayNotifier::TrayNotifier(QMenu& menu, std::function<void()> bring_up)
    : icon_(std::make_unique<QSystemTrayIcon>(StateIcon(modem::ModemState::Unknown))) {
    icon_->setContextMenu(&menu);
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, &menu, bring_up);
    QObject::connect(icon_.get(), &QSystemTrayIcon::messageClicked, &menu, bring_up);
    if (QSystemTrayIcon::isSystemTrayAvailable()) icon_->show();
}

TrayNotifier::~TrayNotifier() = default;

void TrayNotifier::Notify(const QString& title, const QString& text) {
    if (InTray()) icon_->showMessage(title, text);
}

bool TrayNotifier::InTray() const {
    return icon_->isVisible();
}

// The window tells the state on every refresh (each second and each send); the icon
// is drawn again only when the state changes.
void TrayNotifier::ShowModemState(modem::ModemState state, const QString& tooltip) {
    if (state != shown_state_) {
        icon_->setIcon(StateIcon(state));
        shown_state_ = state;
    }
    if (tooltip != icon_->toolTip()) icon_->setToolTip(tooltip);
}

}  // namespace velka::gui
