// The master mute against sound servers of the test's own: PulseAudio daemons with and without
// sinks, a socket nobody listens on and one that accepts and never answers. The shared server
// that other tests record from is never reached: every call finds its server through
// PULSE_SERVER or XDG_RUNTIME_DIR, set for the call and restored after it.
//
// Threading: the test calls from the main thread; the daemons are child processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/mastermute.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Far above the call's own bound: only a hang gets this far.
constexpr auto kHangBound = 10s;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto end = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// Sets (or, without a value, removes) environment variables until the end of the scope.
class ScopedEnv {
 public:
  using Var = std::pair<const char*, std::optional<QByteArray>>;
  explicit ScopedEnv(const std::vector<Var>& vars) {
    for (const auto& [name, value] : vars) {
      const char* old = ::getenv(name);
      saved_.emplace_back(name, old ? std::optional<QByteArray>(old) : std::nullopt);
      Apply(name, value);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Apply(it->first, it->second);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static void Apply(const char* name, const std::optional<QByteArray>& value) {
    if (value)
      ::setenv(name, value->constData(), 1);
    else
      ::unsetenv(name);
  }
  std::vector<Var> saved_;
};

// Everything that decides which server a client reaches, pointed at `server` (or, without one,
// at the default socket of `runtimeDir`).
std::vector<ScopedEnv::Var> ServerEnv(const std::optional<QString>& server,
                                      const QString& runtimeDir) {
  return {{"PULSE_SERVER", server ? std::optional(server->toLocal8Bit()) : std::nullopt},
          {"XDG_RUNTIME_DIR", runtimeDir.toLocal8Bit()},
          {"PULSE_RUNTIME_PATH", std::nullopt},
          {"PULSE_CLIENTCONFIG", QByteArray("/dev/null")},  // no default-server of the user's
          {"DISPLAY", std::nullopt}};
}

// A PulseAudio daemon of the test's own, with its native socket where a client whose
// XDG_RUNTIME_DIR is `folder` looks first, and null sinks of the given names, the last one the
// default.
class PrivateDaemon {
 public:
  PrivateDaemon(const QString& folder, const QStringList& sinks)
      : folder_(folder), socket_(folder + QStringLiteral("/pulse/native")) {
    QDir().mkpath(folder + QStringLiteral("/pulse"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Runtime, state and cookie folders of its own: nothing of the shared server's.
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder + QStringLiteral("/daemon"));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), folder + QStringLiteral("/daemon/state"));
    env.insert(QStringLiteral("HOME"), folder + QStringLiteral("/daemon"));
    env.remove(QStringLiteral("PULSE_SERVER"));
    env.remove(QStringLiteral("PULSE_RUNTIME_PATH"));
    QStringList args = {QStringLiteral("-n"),
                        QStringLiteral("--daemonize=no"),
                        QStringLiteral("--use-pid-file=no"),
                        QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--disallow-exit"),
                        QStringLiteral("--disable-shm=yes"),
                        QStringLiteral("--realtime=no"),
                        QStringLiteral("--high-priority=no"),
                        QStringLiteral("--log-target=stderr"),
                        QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                       "socket=") +
                            socket_};
    for (const QString& sink : sinks)
      args << QStringLiteral("--load=module-null-sink sink_name=") + sink;
    daemon_.setProcessEnvironment(env);
    daemon_.setStandardOutputFile(QProcess::nullDevice());
    daemon_.setStandardErrorFile(folder + QStringLiteral("/daemon.log"));
    // It dies with the test process even if that crashes.
    daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    daemon_.start(QStringLiteral("pulseaudio"), args);
    if (!daemon_.waitForStarted(5000)) {
      error_ = QStringLiteral("pulseaudio did not start: ") + daemon_.errorString();
      return;
    }
    // A daemon that has ended will not answer: no need to wait out the bound.
    const auto answers = [&] { return Pactl({QStringLiteral("info")}).has_value(); };
    if (!WaitFor([&] { return answers() || daemon_.waitForFinished(0); }, 10s) || !answers()) {
      QFile log(folder + QStringLiteral("/daemon.log"));
      log.open(QIODevice::ReadOnly);
      error_ = QStringLiteral("the private daemon does not answer: ") +
               QString::fromLocal8Bit(log.readAll());
      return;
    }
    if (!sinks.isEmpty() && !Pactl({QStringLiteral("set-default-sink"), sinks.last()}))
      error_ = QStringLiteral("the default sink could not be set");
  }

  ~PrivateDaemon() {
    const qint64 pid = daemon_.processId();
    if (daemon_.state() != QProcess::NotRunning && pid > 0) {
      ::kill(static_cast<pid_t>(pid), SIGKILL);
      daemon_.waitForFinished(5000);
    }
  }

  // Empty when the daemon answers with its sinks in place.
  const QString& error() const { return error_; }
  QString server() const { return QStringLiteral("unix:") + socket_; }
  const QString& runtimeDir() const { return folder_; }

  // The sink's mute as the server reports it; none when pactl cannot tell.
  std::optional<bool> Muted(const QString& sink) {
    const std::optional<QString> out = Pactl({QStringLiteral("get-sink-mute"), sink});
    if (!out) return std::nullopt;
    if (out->trimmed() == QStringLiteral("Mute: yes")) return true;
    if (out->trimmed() == QStringLiteral("Mute: no")) return false;
    return std::nullopt;
  }

 private:
  // pactl's output, or none when it fails.
  std::optional<QString> Pactl(const QStringList& args) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                QStringList{QStringLiteral("--server=") + server()} + args);
    const bool ok = pactl.waitForStarted(5000) && pactl.waitForFinished(5000) &&
                    pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
    if (!ok) {
      pactl.kill();
      pactl.waitForFinished(1000);
      return std::nullopt;
    }
    return QString::fromLocal8Bit(pactl.readAllStandardOutput());
  }

  QString folder_;
  QString socket_;
  QProcess daemon_;
  QString error_;
};

// A unix socket at `path`: listening (a server that accepts the connection and never says a
// word), or bound and closed, as a server that died leaves its socket file behind.
class TestSocket {
 public:
  TestSocket(const QString& path, bool listening) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    std::strncpy(address.sun_path, bytes.constData(), sizeof address.sun_path - 1);
    ok_ = fd_ >= 0 &&
          ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
          (!listening || ::listen(fd_, 8) == 0);
    if (!listening) Close();
  }
  ~TestSocket() { Close(); }
  TestSocket(const TestSocket&) = delete;
  TestSocket& operator=(const TestSocket&) = delete;
  bool ok() const { return ok_; }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
  bool ok_ = false;
};

// The mute call with its server found through `env`, and how long it took.
std::pair<int, Clock::duration> TimedMute(bool muted, const std::vector<ScopedEnv::Var>& env) {
  ScopedEnv scope(env);
  const auto start = Clock::now();
  const int result = setMasterMute(muted);
  return {result, Clock::now() - start};
}

TEST(MasterMute, SwitchesTheDefaultSinkAndNoOther) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PrivateDaemon daemon(dir.path(), {QStringLiteral("mute_other"), QStringLiteral("mute_test")});
  ASSERT_TRUE(daemon.error().isEmpty()) << daemon.error().toStdString();
  ASSERT_EQ(daemon.Muted(QStringLiteral("mute_test")), false);

  const struct {
    const char* name;
    bool muted;
    bool byRuntimeDir;  // found through XDG_RUNTIME_DIR instead of PULSE_SERVER
  } steps[] = {
      {"mute", true, false},
      {"mute again", true, false},
      {"unmute", false, false},
      {"unmute again", false, false},
      {"mute, server found in the runtime folder", true, true},
      {"unmute, server found in the runtime folder", false, true},
  };
  for (const auto& s : steps) {
    const auto server = s.byRuntimeDir ? std::nullopt : std::optional(daemon.server());
    const auto [result, took] = TimedMute(s.muted, ServerEnv(server, daemon.runtimeDir()));
    EXPECT_EQ(result, kMuteOk) << s.name;
    EXPECT_LT(took, kHangBound) << s.name;
    EXPECT_EQ(daemon.Muted(QStringLiteral("mute_test")), s.muted) << s.name;
    EXPECT_EQ(daemon.Muted(QStringLiteral("mute_other")), false) << s.name;
  }
}

TEST(MasterMute, ReportsEachWayItFailsWithinItsBound) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString root = dir.path();
  PrivateDaemon sinkless(root + QStringLiteral("/sinkless"), {});
  ASSERT_TRUE(sinkless.error().isEmpty()) << sinkless.error().toStdString();
  TestSocket silent(root + QStringLiteral("/silent"), true);
  ASSERT_TRUE(silent.ok());
  TestSocket stale(root + QStringLiteral("/stale"), false);
  ASSERT_TRUE(stale.ok());
  ASSERT_TRUE(QFile::exists(root + QStringLiteral("/stale")));
  const QString emptyRuntime = root + QStringLiteral("/empty");
  // Unnamed, a system-wide server would be found, and muted.
  const bool systemServer = QFile::exists(QStringLiteral("/run/pulse/native")) ||
                            QFile::exists(QStringLiteral("/var/run/pulse/native"));

  const struct {
    const char* name;
    std::optional<QString> server;
    QString runtimeDir;
    int expected;
  } cases[] = {
      {"nothing at the socket path", QStringLiteral("unix:") + root + QStringLiteral("/absent"),
       emptyRuntime, kMuteNoServer},
      {"socket of a server that died", QStringLiteral("unix:") + root + QStringLiteral("/stale"),
       emptyRuntime, kMuteNoServer},
      {"no server named, none in the runtime folder", std::nullopt, emptyRuntime, kMuteNoServer},
      {"server without sinks", sinkless.server(), emptyRuntime, kMuteNoSink},
      {"server that accepts and never answers",
       QStringLiteral("unix:") + root + QStringLiteral("/silent"), emptyRuntime, kMuteTimeout},
  };
  for (const auto& c : cases) {
    if (!c.server && systemServer) {
      std::cout << "Not run, a system-wide server listens: " << c.name << "\n";
      continue;
    }
    for (const bool muted : {true, false}) {
      const auto [result, took] = TimedMute(muted, ServerEnv(c.server, c.runtimeDir));
      EXPECT_EQ(result, c.expected) << c.name << (muted ? ", mute" : ", unmute");
      EXPECT_LT(took, kHangBound) << c.name;
    }
  }
}

}  // namespace
