#pragma once
// The end of the session as the system asks for it: SIGTERM (logout, shutdown, kill), SIGINT
// and SIGHUP become one Qt signal on the thread that made the object.
//
// Threading: the signal handler only writes a byte to a socket pair; a socket notifier on the
// owning thread reads it there, so no Qt call ever runs inside the handler.
#include <QObject>

class QSocketNotifier;

namespace platform {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // One per process; installs the handlers. Until then the signals keep their default action.
  explicit TerminationSignals(QObject* parent = nullptr);
  // Restores the default actions.
  ~TerminationSignals() override;

 Q_SIGNALS:
  // Emitted once for each signal received, in the event loop.
  void received(int signal);

 private:
  void ReadPending();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace platform
