#pragma once
// A private session bus for tests that talk over the desktop bus: a real dbus-daemon of its own,
// listening in a temporary folder, so that no test reaches the desktop's own bus and two test
// programs never meet on one bus.
//
// The program's bus connection is made once, at its first use, and kept for the whole process:
// start the bus before anything asks for the session bus, and keep it until the process ends.
#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <csignal>
#include <memory>

class PrivateSessionBus {
 public:
  // Starts the daemon and points DBUS_SESSION_BUS_ADDRESS of this process (and of the programs
  // it starts) at it. address() is empty when it could not start; the reason went to the log.
  PrivateSessionBus() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty() || !folder_.isValid()) {
      ADD_FAILURE() << "dbus-daemon is not installed (scripts/install-deps.sh --test)";
      return;
    }
    process_.setProgram(daemon);
    process_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                           QStringLiteral("--address=unix:dir=") + folder_.path()});
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    // However the test program ends (a crash, an abort, a closed pipe), its bus goes with it.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start();
    // The daemon prints its address once it listens; bounded, as it may fail to start.
    if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000)) {
      ADD_FAILURE() << "dbus-daemon did not start: "
                    << process_.readAllStandardError().toStdString();
      return;
    }
    address_ = process_.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_);
  }
  ~PrivateSessionBus() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) process_.kill();
    process_.waitForFinished(3000);
  }
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const QByteArray& address() const { return address_; }

  // The one bus of this test program, started at the first call and stopped with the
  // application object, while its process can still be waited for.
  static PrivateSessionBus& Shared() {
    static PrivateSessionBus* bus = [] {
      auto* made = new PrivateSessionBus;
      qAddPostRoutine([] { delete bus; });
      return made;
    }();
    return *bus;
  }

 private:
  QTemporaryDir folder_;
  QProcess process_;
  QByteArray address_;
};
