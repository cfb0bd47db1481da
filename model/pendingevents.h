#pragma once
// Lets the window process pending events from inside a long loop, at most about every 16 ms,
// so a loop over 100,000 items stays fast and the window stays live.
#include <QCoreApplication>
#include <QElapsedTimer>

class TPendingEvents {
 public:
  TPendingEvents() { timer_.start(); }
  void Process() {
    if (timer_.elapsed() < kIntervalMs) return;
    QCoreApplication::processEvents();
    timer_.restart();
  }

 private:
  static constexpr qint64 kIntervalMs = 16;
  QElapsedTimer timer_;
};
