#include "ui/positionbar.h"

#include <QMouseEvent>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

void TPositionBar::paintEvent(QPaintEvent* event) {
  if (maximum() != minimum()) {
    QProgressBar::paintEvent(event);
    return;
  }
  QStylePainter painter(this);
  QStyleOptionProgressBar option;
  initStyleOption(&option);
  option.minimum = 0;
  option.maximum = 1;
  option.progress = 0;
  painter.drawControl(QStyle::CE_ProgressBar, option);
}

void TPositionBar::SetPosition(int position) {
  const qint64 span = qint64{maximum()} - minimum();
  if (span > 0 && position >= minimum() && position <= maximum() && value() >= minimum()) {
    const auto filled = [&](int v) { return (qint64{v} - minimum()) * width() / span; };
    if (filled(position) == filled(value())) return;
  }
  setValue(position);
}

void TPositionBar::mousePressEvent(QMouseEvent* event) {
  Q_EMIT MouseDown(static_cast<int>(event->position().x()));
  event->accept();
}
