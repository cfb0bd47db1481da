#include "ui/milestones.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

namespace milestones {
namespace {

int OpenLog() {
  const char* path = std::getenv("VELMO_MILESTONES");
  if (!path || !*path) return -1;
  return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

int LogFd() {
  static const int fd = OpenLog();
  return fd;
}

// Waits for the widget's next paint; the mark follows once the paint and its flush are done.
class TPaintWatch : public QObject {
 public:
  TPaintWatch(QWidget* widget, std::string_view name, std::function<long long()> value)
      : QObject(widget), name_(name), value_(std::move(value)) {
    widget->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      watched->removeEventFilter(this);
      QTimer::singleShot(0, this, [this] {
        Mark(name_, value_());
        deleteLater();
      });
    }
    return false;
  }

 private:
  std::string name_;
  std::function<long long()> value_;
  bool seen_ = false;
};

long long NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

bool Enabled() {
  return LogFd() >= 0;
}

void Mark(std::string_view name, std::string_view value) {
  if (!Enabled()) return;
  std::string line = std::to_string(NowNs());
  line.append(" ").append(name).append(" ").append(value).append("\n");
  // One write per line: O_APPEND keeps lines whole.
  [[maybe_unused]] const ssize_t written = ::write(LogFd(), line.data(), line.size());
}

void Mark(std::string_view name, long long value) {
  Mark(name, std::to_string(value));
}

void MarkAfterNextPaint(QWidget* widget, std::string_view name, std::function<long long()> value) {
  if (Enabled()) new TPaintWatch(widget, name, std::move(value));
}

void WatchEventLoop(QObject* owner, int limitMs) {
  if (!Enabled() || qEnvironmentVariableIsEmpty("VELMO_WATCH_STALLS")) return;
  // A timer due every few milliseconds is late by as much as the loop was busy.
  constexpr int kTickMs = 5;
  auto* timer = new QTimer(owner);
  timer->setTimerType(Qt::PreciseTimer);
  auto last = std::make_shared<long long>(NowNs());
  QObject::connect(timer, &QTimer::timeout, timer, [last, limitMs] {
    const long long now = NowNs();
    const long long gapMs = (now - *last) / 1000000;
    *last = now;
    if (gapMs > limitMs) Mark("stall", gapMs);
  });
  timer->start(kTickMs);
}

}  // namespace milestones
