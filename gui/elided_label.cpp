#include "gui/elided_label.h"

#include <QPainter>
#include <QStyle>

namespace velka::gui {

void ElidedLabel::SetWholeText(const QString& text) {
    setText(text);
    setToolTip(text);
}

QSize ElidedLabel::minimumSizeHint() const {
    // Room for a few characters on either side of the mark, and the frame.
    const QSize whole = QLabel::minimumSizeHint();
    const int least = fontMetrics().averageCharWidth() * 12 + 2 * (frameWidth() + margin());
    return {std::min(whole.width(), least), whole.height()};
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    if (fontMetrics().horizontalAdvance(text()) <= room.width()) {
        QLabel::paintEvent(event);
        return;
    }
    QFrame::paintEvent(event);  // the panel's frame
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(room, static_cast<int>(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
}

}  // namespace velka::gui
