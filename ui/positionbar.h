#pragma once
#include <QProgressBar>

// The playing-position bar. A maximum of 0 means "nothing to show": it is drawn as an empty bar,
// not as the toolkit's animated busy indicator.
class TPositionBar : public QProgressBar {
  Q_OBJECT

 public:
  using QProgressBar::QProgressBar;

  // The playing position, ten times a second: the bar is told only when the filled width it
  // draws would change, since each change repaints it at once.
  void SetPosition(int position);

 Q_SIGNALS:
  // Any mouse button pressed on the bar, at this horizontal position.
  void MouseDown(int x);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};
