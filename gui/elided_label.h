// A status bar panel whose text may be longer than the room the bar leaves it: it
// takes what room there is, shows as much as fits with "…" in the middle (so that
// both the cause at the start and the countdown at the end stay in view), and
// gives the whole text in its tool tip. text() is the whole text. UI thread only.
#pragma once

#include <QLabel>

namespace velka::gui {

class ElidedLabel final : public QLabel {
  public:
    using QLabel::QLabel;

    // Sets the text and the tool tip that holds it whole.
    void SetWholeText(const QString& text);
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velka::gui
