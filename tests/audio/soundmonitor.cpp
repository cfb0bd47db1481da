#include "tests/audio/soundmonitor.h"

#include <gtest/gtest.h>
#include <pulse/error.h>

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "tests/audio/mp3testfiles.h"

namespace soundtest {

namespace {

using namespace std::chrono_literals;
using mp3test::WaitUntil;

QString Pactl(const QStringList& args, bool* ok) {
  QProcess process;
  process.start(QStringLiteral("pactl"), args);
  *ok = process.waitForStarted(5000) && process.waitForFinished(5000) &&
        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  if (!*ok) process.kill();
  return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Checks the server, then gives the process a null sink of its own as the default for its
// streams (PULSE_SINK, read when the device first connects). Without a server every test
// fails with `problem`.
class SoundServer : public ::testing::Environment {
 public:
  void SetUp() override {
    bool ok = false;
    Pactl({QStringLiteral("info")}, &ok);
    if (!ok) {
      problem =
          QStringLiteral(
              "no PulseAudio server answers `pactl info` (PULSE_SERVER=%1, "
              "XDG_RUNTIME_DIR=%2). These tests need one: export XDG_RUNTIME_DIR as "
              "scripts/run-tests.sh does and run scripts/start-sound-server.sh.")
              .arg(qEnvironmentVariable("PULSE_SERVER"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
      return;
    }
    sink = QStringLiteral("velmo_test_%1").arg(QCoreApplication::applicationPid());
    module = Pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                    QStringLiteral("sink_name=") + sink},
                   &ok);
    if (!ok) {
      problem = QStringLiteral("the server would not load module-null-sink");
      return;
    }
    qputenv("PULSE_SINK", sink.toLocal8Bit());
  }

  void TearDown() override {
    bool ok = false;
    if (!module.isEmpty()) Pactl({QStringLiteral("unload-module"), module}, &ok);
  }

  QString problem;
  QString sink;
  QString module;
};

SoundServer* const theServer =
    static_cast<SoundServer*>(::testing::AddGlobalTestEnvironment(new SoundServer));

}  // namespace

QString SoundProblem() {
  return theServer->problem;
}

QString MonitorRecorder::Start() {
  const QString sink = theServer->sink;
  pa_sample_spec format{PA_SAMPLE_S16NE, kRecordRate, 2};
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(20000, &format));
  int error = 0;
  const QByteArray monitor = (sink + QStringLiteral(".monitor")).toLocal8Bit();
  pa_ = pa_simple_new(nullptr, "velmo-tests", PA_STREAM_RECORD, monitor.constData(), "monitor",
                      &format, nullptr, &attr, &error);
  if (!pa_)
    return QStringLiteral("cannot record %1: %2").arg(sink, QString::fromUtf8(pa_strerror(error)));
  thread_ = std::thread([this] { Loop(); });
  // Only once the monitor delivers is the start of what follows sure to be in the recording.
  if (!WaitUntil([this] { return SampleCount() > 0; }, 5s))
    return QStringLiteral("the monitor delivers nothing");
  return {};
}

std::size_t MonitorRecorder::SampleCount() {
  std::lock_guard lock(mutex_);
  return samples_.size();
}

std::vector<float> MonitorRecorder::Samples() {
  std::lock_guard lock(mutex_);
  return samples_;
}

std::vector<float> MonitorRecorder::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (pa_) pa_simple_free(pa_);
  pa_ = nullptr;
  std::lock_guard lock(mutex_);
  return samples_;
}

void MonitorRecorder::Loop() {
  std::vector<std::int16_t> chunk(2 * kRecordRate / 100);
  while (!stop_) {
    int error = 0;
    if (pa_simple_read(pa_, chunk.data(), chunk.size() * 2, &error) < 0) return;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i + 1 < chunk.size(); i += 2) {
      samples_.push_back((chunk[i] + chunk[i + 1]) / 65536.0f);
    }
  }
}

}  // namespace soundtest
