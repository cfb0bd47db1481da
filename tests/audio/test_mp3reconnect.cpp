// The MP3 device and the file engine while the sound server goes away and comes back. The
// server is a PulseAudio daemon of the test's own, killed (SIGKILL) and started again; the
// shared one other tests play to is never touched. A test process of its own: PULSE_SERVER
// points at the private daemon before the process's first connection, which a process that has
// already connected would not notice.
//
// The daemon listens on two sockets: the device's (PULSE_SERVER) and a control one for pactl
// and for the parec that records the null sink's monitor. After a restart the device's socket
// is opened only once the recorder runs, so that the first sound after the restart is recorded.
//
// Threading: the test drives the device and the engine from the main thread; the daemon and the
// recorder are child processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "audio/mp3device.h"
#include "playback/mp3filethread.h"
#include "tests/audio/mp3testfiles.h"

void PrintTo(TMp3Mode mode, std::ostream* out) {
  static const char* const kNames[] = {"NotReady", "Stopped", "Playing", "Paused"};
  *out << kNames[static_cast<int>(mode)];
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr auto kStartBound = 5s;  // the first sound of a new stream
// Back once the device's socket is open: it retries every half second at most.
constexpr auto kBackBound = 5s;

std::int64_t Ms(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

using mp3test::WaitUntil;

std::int64_t PositionOf(const TMp3Device& device) {
  std::int64_t ms = -1;
  EXPECT_EQ(device.Position(&ms), MP3_OK);
  return ms;
}

// Six seconds, one tone per second: 400 Hz, 500 Hz, ... 900 Hz. What is heard tells where in
// the file it is.
QString Steps() {
  return mp3test::Made(
      QStringLiteral("steps.mp3"),
      {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
       QStringLiteral("aevalsrc=exprs=0.25*sin(2*PI*(400+100*floor(t))*t):s=44100:d=6"),
       QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
       QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("128k")});
}

double ToneAt(std::int64_t ms) {
  return 400 + 100 * static_cast<double>(ms / 1000);
}

// Children die with the test process even if it crashes.
void StartChild(QProcess& process, const QString& program, const QStringList& args) {
  process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
  process.start(program, args);
}

// The private daemon: a null sink, the control socket always, the device's socket on request.
class PrivateServer {
 public:
  // Sockets, runtime and state all in `folder`, which a daemon started before may have left.
  explicit PrivateServer(QString folder) : folder_(std::move(folder)) {}
  ~PrivateServer() {
    StopRecording();
    Kill();
  }

  // Empty, or what went wrong.
  QString Start(bool deviceSocket) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Its own runtime, state and cookie folders: nothing of the shared server's.
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), Path(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path(QStringLiteral("runtime")));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), Path(QStringLiteral("state")));
    env.insert(QStringLiteral("HOME"), folder_);
    env.remove(QStringLiteral("PULSE_SERVER"));
    daemon_ = std::make_unique<QProcess>();
    daemon_->setProcessEnvironment(env);
    daemon_->setStandardOutputFile(QProcess::nullDevice());
    daemon_->setStandardErrorFile(Path(QStringLiteral("daemon.log")), QIODevice::Append);
    QStringList args = {QStringLiteral("--daemonize=no"),
                        QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--disallow-exit"),
                        QStringLiteral("--disable-shm=yes"),
                        QStringLiteral("--use-pid-file=no"),
                        QStringLiteral("-n"),
                        QStringLiteral("--log-target=stderr"),
                        QStringLiteral("--load=module-null-sink sink_name=velmo_null"),
                        QStringLiteral("--load=") + SocketModule(ControlSocket())};
    if (deviceSocket) args << QStringLiteral("--load=") + SocketModule(DeviceSocket());
    StartChild(*daemon_, QStringLiteral("pulseaudio"), args);
    if (!daemon_->waitForStarted(5000)) return QStringLiteral("pulseaudio did not start");
    if (!WaitUntil([&] { return Pactl({QStringLiteral("info")}); }, 10s)) {
      return QStringLiteral("the private daemon does not answer: ") +
             QString::fromLocal8Bit(mp3test::ReadAll(Path(QStringLiteral("daemon.log"))));
    }
    return {};
  }

  bool OpenDeviceSocket() {
    return Pactl({QStringLiteral("load-module"), QStringLiteral("module-native-protocol-unix"),
                  QStringLiteral("auth-anonymous=1"), QStringLiteral("socket=") + DeviceSocket()});
  }

  void Kill() {
    if (!daemon_) return;
    if (daemon_->state() != QProcess::NotRunning) {
      ::kill(static_cast<pid_t>(daemon_->processId()), SIGKILL);
      daemon_->waitForFinished(5000);
    }
    daemon_.reset();
  }

  // The null sink's monitor, read at low latency: that also keeps the sink from rendering
  // seconds ahead, which would hold back the sound of a new stream.
  QString StartRecording() {
    StopRecording();
    recording_ = Path(QStringLiteral("rec%1.raw").arg(++recordings_));
    recorder_ = std::make_unique<QProcess>();
    recorder_->setStandardOutputFile(recording_);
    recorder_->setStandardErrorFile(QProcess::nullDevice());
    StartChild(
        *recorder_, QStringLiteral("parec"),
        {QStringLiteral("-s"), QStringLiteral("unix:") + ControlSocket(), QStringLiteral("-d"),
         QStringLiteral("velmo_null.monitor"), QStringLiteral("--latency-msec=20"),
         QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(kRate),
         QStringLiteral("--channels=2"), QStringLiteral("--raw")});
    if (!recorder_->waitForStarted(5000)) return QStringLiteral("parec did not start");
    if (!WaitUntil([&] { return QFile(recording_).size() > 0; }, 5s))
      return QStringLiteral("the monitor delivers nothing");
    return {};
  }

  // The recording as mono samples; the recorder ends by itself when the daemon is killed.
  std::vector<float> StopRecording() {
    if (!recorder_) return {};
    if (recorder_->state() != QProcess::NotRunning) {
      recorder_->terminate();
      if (!recorder_->waitForFinished(3000)) {
        recorder_->kill();
        recorder_->waitForFinished(3000);
      }
    }
    recorder_.reset();
    const QByteArray bytes = mp3test::ReadAll(recording_);
    std::vector<float> samples;
    for (qsizetype i = 0; i + 3 < bytes.size(); i += 4) {
      std::int16_t left = 0;
      std::int16_t right = 0;
      std::memcpy(&left, bytes.constData() + i, 2);
      std::memcpy(&right, bytes.constData() + i + 2, 2);
      samples.push_back((left + right) / 65536.0f);
    }
    return samples;
  }

  // Streams the daemon is playing, the device's among them once it has reconnected.
  int SinkInputs() {
    QString out;
    if (!Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")},
               &out))
      return -1;
    return static_cast<int>(out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
  }

  QString DeviceSocket() const { return Path(QStringLiteral("device")); }

  // pactl on the control socket.
  bool Pactl(const QStringList& args, QString* out = nullptr) {
    QProcess process;
    StartChild(process, QStringLiteral("pactl"),
               QStringList{QStringLiteral("-s"), QStringLiteral("unix:") + ControlSocket()} + args);
    const bool ok = process.waitForStarted(5000) && process.waitForFinished(5000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok) {
      process.kill();
      process.waitForFinished(1000);
    }
    if (out) *out = QString::fromLocal8Bit(process.readAllStandardOutput());
    return ok;
  }

 private:
  QString Path(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
  QString ControlSocket() const { return Path(QStringLiteral("control")); }

  static QString SocketModule(const QString& socket) {
    return QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket;
  }

  QString folder_;
  std::unique_ptr<QProcess> daemon_;
  std::unique_ptr<QProcess> recorder_;
  QString recording_;
  int recordings_ = 0;
};

// What a recording holds, in 10 ms windows: a window is "sound" above a level far under the
// test tones.
struct Heard {
  std::int64_t soundMs = 0;
  double firstHz = 0;  // the first 150 ms of sound
  double lastHz = 0;   // the last 150 ms of sound
};

Heard Analyse(const std::vector<float>& samples) {
  constexpr std::size_t kWindow = kRate / 100;
  std::vector<bool> sound;
  for (std::size_t at = 0; at + kWindow <= samples.size(); at += kWindow) {
    double sum = 0;
    for (std::size_t i = at; i < at + kWindow; ++i) sum += samples[i] * samples[i];
    sound.push_back(std::sqrt(sum / kWindow) > 0.01);
  }
  // Half periods between the first and the last zero crossing of [from, from + 150 ms).
  const auto hzFrom = [&](std::size_t from) {
    const std::size_t to = std::min(samples.size(), from + kRate * 15 / 100);
    long first = -1;
    long last = -1;
    long crossings = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < to; ++i) {
      if ((samples[i - 1] < 0) == (samples[i] < 0)) continue;
      if (first < 0) first = static_cast<long>(i);
      last = static_cast<long>(i);
      ++crossings;
    }
    return crossings > 1 ? (crossings - 1) / 2.0 / (static_cast<double>(last - first) / kRate)
                         : 0.0;
  };
  Heard h;
  std::size_t first = sound.size();
  std::size_t last = 0;
  for (std::size_t w = 0; w < sound.size(); ++w) {
    if (!sound[w]) continue;
    h.soundMs += 10;
    first = std::min(first, w);
    last = w;
  }
  if (h.soundMs >= 200) {
    // Two windows in from either edge: a cut may leave a fade there.
    h.firstHz = hzFrom((first + 2) * kWindow);
    h.lastHz = hzFrom((last - 16) * kWindow);
  }
  return h;
}

class ServerRestart : public ::testing::Test {
 protected:
  // Before the process's first connection, and the same for all tests here: every daemon they
  // start puts the device's socket in this folder.
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    qputenv("PULSE_SERVER", "unix:" + PrivateServer(folder_->path()).DeviceSocket().toLocal8Bit());
    qunsetenv("PULSE_SINK");
  }

  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
      GTEST_SKIP() << "pulseaudio is not installed: these tests start a private daemon";
    ASSERT_TRUE(folder_->isValid());
    server_ = std::make_unique<PrivateServer>(folder_->path());
    const QString problem = server_->Start(true);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
  }

  void TearDown() override { server_.reset(); }

  // Brings the server back: the recorder first, then the device's socket.
  void Restart() {
    const QString problem = server_->Start(false);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    const QString recording = server_->StartRecording();
    ASSERT_TRUE(recording.isEmpty()) << recording.toStdString();
    ASSERT_TRUE(server_->OpenDeviceSocket());
  }

  static inline QTemporaryDir* folder_ = nullptr;
  std::unique_ptr<PrivateServer> server_;
};

// Killed mid-track and back a moment later: the track goes on from where the listener was,
// and reads as playing, never as ended, meanwhile. A file opened while the server is away
// starts once it is back.
TEST_F(ServerRestart, DevicePlaysOnFromWhereTheListenerWas) {
  const QString path = Steps();
  ASSERT_FALSE(path.isEmpty());
  ASSERT_TRUE(server_->StartRecording().isEmpty());
  TMp3Device device;
  ASSERT_EQ(device.Open(path), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  ASSERT_EQ(device.Play(), MP3_OK);
  // Well inside the third tone, so that a little either way is still that tone.
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) >= 2300; }, kStartBound + 3s))
      << "position stays " << PositionOf(device);
  const std::int64_t atKill = PositionOf(device);
  server_->Kill();
  const Heard before = Analyse(server_->StopRecording());

  std::this_thread::sleep_for(300ms);
  const std::int64_t held = PositionOf(device);
  EXPECT_GE(held, atKill - 150) << "lost more than the server still held";
  EXPECT_LE(held, atKill + 150);
  for (int i = 0; i < 7 && !HasFailure(); ++i) {
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(device.Mode(), TMp3Mode::Playing);
    EXPECT_EQ(device.LastError(), MP3_OK);
    EXPECT_EQ(PositionOf(device), held);
  }

  TMp3Device late;
  ASSERT_EQ(late.SetVolume(0), MP3_OK);  // keeps the recording to the first device
  const auto opening = Clock::now();
  ASSERT_EQ(late.Open(mp3test::File("cbr")), MP3_OK) << "a server lost a moment ago is awaited";
  ASSERT_EQ(late.Play(), MP3_OK);
  EXPECT_LT(Ms(Clock::now() - opening), 500) << "Open waited for the server";

  ASSERT_NO_FATAL_FAILURE(Restart());
  const auto back = Clock::now();
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) > held + 100; }, kBackBound + kStartBound))
      << "did not play on; position " << PositionOf(device) << ", error " << device.LastError();
  EXPECT_LE(PositionOf(device), held + Ms(Clock::now() - back) + 100) << "skipped ahead";
  EXPECT_TRUE(WaitUntil([&] { return PositionOf(late) > 100; }, kStartBound))
      << "the file opened meanwhile did not start";

  ASSERT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; },
                        std::chrono::milliseconds(length - held) + kStartBound));
  EXPECT_EQ(PositionOf(device), length);
  EXPECT_EQ(device.LastError(), MP3_OK);
  std::this_thread::sleep_for(150ms);  // the monitor lags the sink a little
  const Heard after = Analyse(server_->StopRecording());

  EXPECT_NEAR(before.lastHz, ToneAt(held), 15);
  EXPECT_NEAR(after.firstHz, ToneAt(held), 15) << "did not go on where it was";
  EXPECT_NEAR(after.lastHz, ToneAt(length - 1), 15);
  EXPECT_NEAR(after.soundMs, length - held, 150);
  EXPECT_NEAR(before.soundMs + after.soundMs, length, 200) << "lost or repeated audio";
}

// Paused stays paused and stopped stays stopped: the new stream stays silent until asked, and
// then plays from where the listener left it.
TEST_F(ServerRestart, PausedAndStoppedStaySo) {
  for (const TMp3Mode mode : {TMp3Mode::Paused, TMp3Mode::Stopped}) {
    SCOPED_TRACE(mode == TMp3Mode::Paused ? "paused" : "stopped");
    if (!server_) {
      server_ = std::make_unique<PrivateServer>(folder_->path());
      ASSERT_TRUE(server_->Start(true).isEmpty());
    }
    const QString path = Steps();
    ASSERT_FALSE(path.isEmpty());
    TMp3Device device;
    ASSERT_EQ(device.Open(path), MP3_OK);
    std::int64_t length = 0;
    ASSERT_EQ(device.Length(&length), MP3_OK);
    // The reader keeps the sink from rendering seconds ahead of a new stream.
    ASSERT_TRUE(server_->StartRecording().isEmpty());
    ASSERT_EQ(device.Play(), MP3_OK);
    ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) >= 4300; }, kStartBound + 5s));
    ASSERT_EQ(mode == TMp3Mode::Paused ? device.Pause() : device.Stop(), MP3_OK);
    const std::int64_t held = PositionOf(device);
    server_->Kill();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(device.Mode(), mode);
    EXPECT_EQ(PositionOf(device), held);

    ASSERT_NO_FATAL_FAILURE(Restart());
    ASSERT_TRUE(WaitUntil([&] { return server_->SinkInputs() == 1; }, kBackBound))
        << "the device did not reconnect";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(device.Mode(), mode);
    EXPECT_EQ(PositionOf(device), held);
    EXPECT_EQ(device.LastError(), MP3_OK);
    const Heard meanwhile = Analyse(server_->StopRecording());
    EXPECT_EQ(meanwhile.soundMs, 0)
        << "played while " << (mode == TMp3Mode::Paused ? "paused" : "stopped");

    ASSERT_TRUE(server_->StartRecording().isEmpty());
    const auto asked = Clock::now();
    ASSERT_EQ(mode == TMp3Mode::Paused ? device.Resume() : device.Play(), MP3_OK);
    ASSERT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; },
                          std::chrono::milliseconds(length - held) + kStartBound));
    EXPECT_GE(Ms(Clock::now() - asked), length - held - 100) << "did not play the rest";
    EXPECT_EQ(PositionOf(device), length);
    std::this_thread::sleep_for(150ms);
    const Heard rest = Analyse(server_->StopRecording());
    EXPECT_NEAR(rest.firstHz, ToneAt(held), 15);
    EXPECT_NEAR(rest.soundMs, length - held, 150);
    server_.reset();
  }
}

// A sink that goes away while the server stays (a sound card unplugged, with none to move to)
// takes the stream with it: the device waits for a sink in the same way.
TEST_F(ServerRestart, DeviceWaitsForASinkThatWentAway) {
  const QString path = Steps();
  ASSERT_FALSE(path.isEmpty());
  ASSERT_TRUE(server_->StartRecording().isEmpty());
  TMp3Device device;
  ASSERT_EQ(device.Open(path), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  ASSERT_EQ(device.Play(), MP3_OK);
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) >= 1300; }, kStartBound + 2s));
  server_->StopRecording();
  ASSERT_TRUE(
      server_->Pactl({QStringLiteral("unload-module"), QStringLiteral("module-null-sink")}));
  std::this_thread::sleep_for(300ms);
  const std::int64_t held = PositionOf(device);
  for (int i = 0; i < 7 && !HasFailure(); ++i) {
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(device.Mode(), TMp3Mode::Playing);
    EXPECT_EQ(device.LastError(), MP3_OK);
    EXPECT_EQ(PositionOf(device), held);
  }

  ASSERT_TRUE(server_->Pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                              QStringLiteral("sink_name=velmo_null")}));
  ASSERT_TRUE(server_->StartRecording().isEmpty());
  const auto back = Clock::now();
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) > held + 100; }, kBackBound + kStartBound))
      << "did not play on; position " << PositionOf(device) << ", error " << device.LastError();
  EXPECT_LE(PositionOf(device), held + Ms(Clock::now() - back) + 100) << "skipped ahead";
  ASSERT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; },
                        std::chrono::milliseconds(length - held) + kStartBound));
  EXPECT_EQ(PositionOf(device), length);
  EXPECT_EQ(device.LastError(), MP3_OK);
}

class RecordingHost final : public TMp3FileThreadHost {
 public:
  std::vector<bool> endChecks;

  void SetPositionMaximum(std::uint32_t) override {}
  void ShowOpenError(const QString&) override {}
  void TrackEndCheck(bool stopped) override { endChecks.push_back(stopped); }
  void TrackOpened(TMp3FileThread*, bool) override {}
};

TMp3PlayerPtr Track(const QString& path) {
  return std::make_shared<TMp3Player>(0, path, QStringLiteral("t.mp3"), QStringLiteral("1"),
                                      QString(), 0, 0);
}

// The window's end-of-track check, polled as its timer does, sees the track end only at its
// real end, not while the server is away.
TEST_F(ServerRestart, EngineSeesNoTrackEndWhileTheServerIsAway) {
  const QString path = Steps();
  ASSERT_FALSE(path.isEmpty());
  ASSERT_TRUE(server_->StartRecording().isEmpty());
  RecordingHost host;
  auto engine = std::make_shared<TMp3FileThread>(Track(path), 100);
  engine->Start(&host);
  QCoreApplication::processEvents();
  ASSERT_NE(engine->FDeviceID, 0) << "error " << engine->MyError;
  const std::uint32_t length = engine->GetLength();
  const auto poll = [&] {
    std::this_thread::sleep_for(100ms);
    engine->CheckTrackEnd();
    return !host.endChecks.back();
  };
  ASSERT_TRUE(WaitUntil([&] { return poll() && engine->GetPosition() >= 1500; }, kStartBound + 2s));
  server_->Kill();
  std::this_thread::sleep_for(200ms);
  const std::uint32_t held = engine->GetPosition();
  for (int i = 0; i < 8 && !HasFailure(); ++i) {
    EXPECT_TRUE(poll()) << "a lost server read as the end of the track";
    EXPECT_FALSE(engine->IsStopped());
    EXPECT_EQ(engine->GetPosition(), held);
  }

  ASSERT_NO_FATAL_FAILURE(Restart());
  ASSERT_TRUE(WaitUntil([&] { return !poll() || engine->GetPosition() > held + 100; },
                        kBackBound + kStartBound));
  ASSERT_FALSE(host.endChecks.back()) << "ended at " << engine->GetPosition();
  ASSERT_TRUE(
      WaitUntil([&] { return !poll(); }, std::chrono::milliseconds(length - held) + kStartBound));
  EXPECT_EQ(engine->GetPosition(), length) << "ended before the end of the file";
}

// A server that stays away: the device waits about 30 s, playing as far as anyone asks, then
// stops with the position held and says why; the engine does not count that as the end of the
// track. Afterwards a new file fails at once.
TEST_F(ServerRestart, GivesUpOnAServerThatStaysAway) {
  const QString path = Steps();
  ASSERT_FALSE(path.isEmpty());
  ASSERT_TRUE(server_->StartRecording().isEmpty());
  TMp3Device device;
  ASSERT_EQ(device.Open(path), MP3_OK);
  ASSERT_EQ(device.Play(), MP3_OK);
  RecordingHost host;
  auto engine = std::make_shared<TMp3FileThread>(Track(path), 0);
  engine->Start(&host);
  QCoreApplication::processEvents();
  ASSERT_NE(engine->FDeviceID, 0);
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) > 500; }, kStartBound + 2s));
  server_->Kill();
  const auto killed = Clock::now();
  std::this_thread::sleep_for(200ms);
  const std::int64_t held = PositionOf(device);

  bool gaveUp = false;
  while (!gaveUp && !HasFailure() && Clock::now() - killed < 45s) {
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(engine->IsStopped()) << "after " << Ms(Clock::now() - killed) << " ms";
    gaveUp = device.LastError() != MP3_OK;
    if (!gaveUp) {
      EXPECT_EQ(device.Mode(), TMp3Mode::Playing);
    }
  }
  ASSERT_TRUE(gaveUp) << "still waiting after 45 s";
  EXPECT_GE(Ms(Clock::now() - killed), 28000);
  EXPECT_LE(Ms(Clock::now() - killed), 36000);
  EXPECT_EQ(device.LastError(), MP3_ERR_NO_SERVER);
  EXPECT_EQ(device.Mode(), TMp3Mode::Stopped);
  EXPECT_EQ(PositionOf(device), held);
  EXPECT_EQ(device.Play(), MP3_ERR_NO_SERVER);

  // The engine's device gave up at the same time; its track still has not ended.
  EXPECT_TRUE(WaitUntil(
      [&] {
        engine->Play();
        return engine->MyError == MP3_ERR_NO_SERVER;
      },
      5s));
  EXPECT_FALSE(engine->IsStopped());

  TMp3Device later;
  const auto opening = Clock::now();
  EXPECT_EQ(later.Open(path), MP3_ERR_NO_SERVER);
  EXPECT_LT(Ms(Clock::now() - opening), 500);
}

}  // namespace
