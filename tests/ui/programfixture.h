#pragma once
// The real program as a process, in the fixture's private home.
#include <QElapsedTimer>
#include <QProcess>

#include <sys/stat.h>
#include <csignal>

#include "tests/ui/mainformfixture.h"

class ProgramFixture : public MainFormFixture {
 protected:
  static QString Program() {
    return qEnvironmentVariable("VELMO_BUILD_DIR") + QStringLiteral("/bin/velmo");
  }
  // `runtime`: another runtime folder than the fixture's; "-" for none at all. `display`: the
  // environment of a desktop to show the window on, instead of no screen at all.
  static std::unique_ptr<QProcess> Launch(const QStringList& arguments = {},
                                          const QString& runtime = {},
                                          const QProcessEnvironment* display = nullptr) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = display ? *display : QProcessEnvironment::systemEnvironment();
    if (!display) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (runtime == QLatin1String("-"))
      env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    else if (!runtime.isEmpty())
      env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    process->setProcessEnvironment(env);
    process->setProgram(Program());
    process->setArguments(arguments);
    process->start();
    EXPECT_TRUE(process->waitForStarted(5000));
    return process;
  }
  // The program holds its lock once it has passed the single-instance test; the kernel lists it.
  bool LockHeldWithin(int ms) const {
    QElapsedTimer timer;
    timer.start();
    const QByteArray lock = QFile::encodeName(DataDir() + QStringLiteral("DKOneCopyMutex.lock"));
    while (timer.elapsed() < ms) {
      QFile locks(QStringLiteral("/proc/locks"));
      struct stat st {};
      if (::stat(lock.constData(), &st) == 0 && locks.open(QIODevice::ReadOnly)) {
        const QByteArray inode = ":" + QByteArray::number(static_cast<qulonglong>(st.st_ino)) + " ";
        for (const QByteArray& line : locks.readAll().split('\n'))
          if (line.contains("FLOCK") && line.contains(inode)) return true;
      }
      QTest::qWait(5);
    }
    return false;
  }
  // Never to pid 0, which would be this test's whole process group.
  static void Signal(QProcess& process, int signal) {
    const auto pid = static_cast<pid_t>(process.processId());
    if (pid > 0) ::kill(pid, signal);
  }
};
