// Playing a file through the real window and the real sound server:
// - the CPU the program spends playing a 320 kbit/s file, against mpg123 playing the same file
//   to the same sink over the same ten seconds (and the device alone, the same way);
// - the time from the Play command to the first sound the sink mixes, against the device
//   alone and against starting mpg123;
// - the CPU of the idle window while paused and with its timer running on an ended track,
//   against the same window with nothing opened.
// The process plays to a null sink of its own, read at low latency as a sound card would take
// it. Without a sound server it prints a note and ends.
//
// Threading: the main thread drives the window and the device. Recorder reads the sink's
// monitor on a thread of its own and appends under its mutex.
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "audio/mp3device.h"
#include "bench/benchutil.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRate = 44100;
// A recorded peak (halved) above this is sound (-48 dBFS); the test file plays far louder.
constexpr int kLoud = 64;
constexpr int kLatencyRuns = 9;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

QString RunTool(const QString& program, const QStringList& args, bool* ok, int limitMs = 10000) {
  QProcess process;
  process.start(program, args);
  *ok = process.waitForStarted(5000) && process.waitForFinished(limitMs) &&
        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(2000);
  }
  return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// A player or reader that ends with the benchmark, even when the benchmark is killed.
class ChildProcess : public QProcess {
 public:
  ChildProcess() {
    setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
  }
  ~ChildProcess() override {
    if (state() != NotRunning) {
      kill();
      waitForFinished(5000);
    }
  }
};

// A stereo 44.1 kHz file whose channels differ (a tone and noise each), so the decoder does the
// full work of a music file.
bool MakeFile(const QString& path, int seconds, const QString& bitrate) {
  const QString d = QString::number(seconds);
  const QString graph = QStringLiteral(
                            "sine=frequency=440:duration=%1:sample_rate=44100[a];"
                            "anoisesrc=duration=%1:amplitude=0.15:seed=1:sample_rate=44100[n1];"
                            "sine=frequency=587:duration=%1:sample_rate=44100[b];"
                            "anoisesrc=duration=%1:amplitude=0.15:seed=2:sample_rate=44100[n2];"
                            "[a][n1]amix=inputs=2[l];[b][n2]amix=inputs=2[r];"
                            "[l][r]join=inputs=2:channel_layout=stereo[out]")
                            .arg(d);
  bool ok = false;
  RunTool(
      QStringLiteral("ffmpeg"),
      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
       QStringLiteral("-filter_complex"), graph, QStringLiteral("-map"), QStringLiteral("[out]"),
       QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), bitrate, path},
      &ok, 60000);
  return ok;
}

// CPU of the whole process, exited threads included.
std::int64_t SelfCpuNs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return (std::int64_t{ru.ru_utime.tv_sec} + ru.ru_stime.tv_sec) * 1000000000 +
         (std::int64_t{ru.ru_utime.tv_usec} + ru.ru_stime.tv_usec) * 1000;
}

// The live threads of a process with the CPU the scheduler counted for each (ns), so another
// process is measured over a window of our choosing, and our own time can be split by thread.
struct TaskCpu {
  QString name;
  std::int64_t ns = 0;
  std::int64_t switches = 0;  // times the thread gave up or lost its core
};
std::map<int, TaskCpu> Tasks(qint64 pid) {
  std::map<int, TaskCpu> tasks;
  const QString dir = QStringLiteral("/proc/%1/task/").arg(pid);
  for (const QString& tid : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile stat(dir + tid + QStringLiteral("/schedstat"));
    QFile comm(dir + tid + QStringLiteral("/comm"));
    QFile status(dir + tid + QStringLiteral("/status"));
    if (!stat.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly) ||
        !status.open(QIODevice::ReadOnly))
      continue;
    TaskCpu& task = tasks[tid.toInt()];
    task.name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    task.ns = stat.readAll().split(' ').value(0).toLongLong();
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.contains("ctxt_switches:"))
        task.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
  }
  return tasks;
}
std::int64_t TotalNs(const std::map<int, TaskCpu>& tasks) {
  std::int64_t total = 0;
  for (const auto& [tid, task] : tasks) total += task.ns;
  return total;
}

// Runs the real event loop (no polling) for `d`.
void Idle(Clock::duration d) {
  QEventLoop loop;
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(d), Qt::PreciseTimer,
                     &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until `done` or `limit`; false on the limit.
template <class Predicate>
bool WaitFor(Predicate done, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A message box would wait for a person; the benchmark prints the text and goes on.
class PrintedDialogs final : public TDialogs {
 public:
  void ShowMessage(QWidget*, const QString& text, const QString&, TMessageIcon) override {
    std::fprintf(stderr, "window message: %s\n", qPrintable(text));
  }
  bool Confirm(QWidget*, const QString&) override { return true; }
  QString OpenFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SelectFolder(QWidget*, const QString&, const QString&) override { return {}; }
  std::optional<QFont> SelectFont(QWidget*, const QFont&) override { return {}; }
  std::optional<QColor> SelectColor(QWidget*, const QColor&) override { return {}; }
  std::optional<QString> InputText(QWidget*, const QString&, const QString&,
                                   const QString&) override {
    return {};
  }
};

// A null sink for this process alone, so nothing else on the server mixes into what is
// measured; unloaded when the benchmark ends.
class PrivateSink {
 public:
  bool Load() {
    UnloadOrphans();
    name_ = QStringLiteral("velmo_bench_%1").arg(QCoreApplication::applicationPid());
    bool ok = false;
    module_ = RunTool(QStringLiteral("pactl"),
                      {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                       QStringLiteral("sink_name=") + name_, QStringLiteral("rate=44100")},
                      &ok);
    if (!ok) module_.clear();
    return ok;
  }
  ~PrivateSink() {
    bool ok = false;
    if (!module_.isEmpty())
      RunTool(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module_}, &ok);
  }
  const QString& Name() const { return name_; }
  QString Monitor() const { return name_ + QStringLiteral(".monitor"); }

 private:
  // Sinks of earlier runs that were killed before they could unload theirs.
  static void UnloadOrphans() {
    bool ok = false;
    const QString modules =
        RunTool(QStringLiteral("pactl"),
                {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")}, &ok);
    const QString prefix = QStringLiteral("sink_name=velmo_bench_");
    for (const QString& line : modules.split(QLatin1Char('\n'))) {
      const QStringList fields = line.split(QLatin1Char('\t'));
      if (fields.size() < 3 || !fields[2].startsWith(prefix)) continue;
      const pid_t owner = fields[2].mid(prefix.size()).section(QLatin1Char(' '), 0, 0).toInt();
      if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
        RunTool(QStringLiteral("pactl"), {QStringLiteral("unload-module"), fields[0]}, &ok);
    }
  }

  QString name_;
  QString module_;
};

// What the server says of the sink's latency now ("Latency: … usec, configured … usec").
QString SinkLatency(const QString& sink) {
  bool ok = false;
  const QString all =
      RunTool(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sinks")}, &ok);
  const qsizetype at = all.indexOf(QStringLiteral("Name: ") + sink);
  const qsizetype line = at < 0 ? -1 : all.indexOf(QStringLiteral("Latency: "), at);
  if (line < 0) return QStringLiteral("not reported");
  return all.mid(line, all.indexOf(QLatin1Char('\n'), line) - line).trimmed();
}

// Records the sink's monitor in small pieces and keeps, per recorded frame, the louder channel,
// and per piece when it arrived and how old the server said its end was then. From these the
// time at which the sink rendered any recorded frame is worked out.
class Recorder {
 public:
  ~Recorder() { Stop(); }

  QString Start(const QString& monitor) {
    pa_sample_spec format{PA_SAMPLE_S16NE, kRate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(5000, &format));
    int error = 0;
    const QByteArray source = monitor.toLocal8Bit();
    pa_ = pa_simple_new(nullptr, "velmo-bench", PA_STREAM_RECORD, source.constData(), "monitor",
                        &format, nullptr, &attr, &error);
    if (!pa_) return QString::fromUtf8(pa_strerror(error));
    thread_ = std::thread([this] { Loop(); });
    const auto deadline = Clock::now() + 5s;
    while (Frames() == 0) {
      if (Clock::now() > deadline) return QStringLiteral("the monitor delivers nothing");
      std::this_thread::sleep_for(5ms);
    }
    return {};
  }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (pa_) pa_simple_free(pa_);
    pa_ = nullptr;
  }

  std::int64_t Frames() {
    std::lock_guard lock(mutex_);
    return static_cast<std::int64_t>(peak_.size());
  }

  // True when the last `span` frames recorded hold no sound.
  bool Quiet(std::int64_t span) {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<std::int64_t>(peak_.size());
    if (size < span) return false;
    for (std::int64_t i = size - span; i < size; ++i)
      if (peak_[i] > kLoud) return false;
    return true;
  }

  // When the sink rendered the first sound recorded at or after frame `from`, if any yet.
  std::optional<Clock::time_point> OnsetAfter(std::int64_t from) {
    std::lock_guard lock(mutex_);
    for (std::int64_t i = std::max<std::int64_t>(from, scanned_);
         i < static_cast<std::int64_t>(peak_.size()); ++i) {
      if (peak_[i] <= kLoud) continue;
      // The piece that carried it: its arrival, less how long the server said it had waited
      // for us. The sink hands over what it mixed in blocks, so the frames before this one in
      // the piece did not come out earlier, and are not taken off.
      const auto piece =
          std::upper_bound(pieces_.begin(), pieces_.end(), i,
                           [](std::int64_t frame, const Piece& p) { return frame < p.end; });
      if (piece == pieces_.end()) return std::nullopt;
      return piece->arrival - std::chrono::microseconds(piece->ageUs);
    }
    scanned_ = static_cast<std::int64_t>(peak_.size());
    return std::nullopt;
  }
  void ForgetScan() { scanned_ = 0; }

  // Median age of the recorded pieces on arrival, as the server reports it.
  double MedianAgeMs() {
    std::lock_guard lock(mutex_);
    std::vector<std::int64_t> ages;
    for (const Piece& p : pieces_) ages.push_back(p.ageUs);
    if (ages.empty()) return 0;
    std::nth_element(ages.begin(), ages.begin() + ages.size() / 2, ages.end());
    return ages[ages.size() / 2] / 1000.0;
  }

 private:
  struct Piece {
    std::int64_t end;  // one past its last frame
    Clock::time_point arrival;
    std::int64_t ageUs;
  };

  void Loop() {
    std::vector<std::int16_t> chunk(2 * 64);  // 1.5 ms: arrival times stay fine-grained
    while (!stop_) {
      int error = 0;
      if (pa_simple_read(pa_, chunk.data(), chunk.size() * 2, &error) < 0) return;
      const auto arrival = Clock::now();
      const pa_usec_t age = pa_simple_get_latency(pa_, &error);
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i + 1 < chunk.size(); i += 2)
        peak_.push_back(static_cast<std::int16_t>(
            std::max(std::abs(int{chunk[i]}), std::abs(int{chunk[i + 1]})) >> 1));
      pieces_.push_back({static_cast<std::int64_t>(peak_.size()), arrival,
                         age == static_cast<pa_usec_t>(-1) ? 0 : static_cast<std::int64_t>(age)});
    }
  }

  pa_simple* pa_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::int16_t> peak_;  // halved, so that -32768 fits
  std::vector<Piece> pieces_;
  std::int64_t scanned_ = 0;
};

struct IdleCpuFigure;

class Bench {
 public:
  Bench(const QString& file, const QString& sink)
      : file_(file), sink_(sink), monitor_(sink + QStringLiteral(".monitor")) {}

  bool StartWindow(const QString& listPath);
  void Stop() {
    QAction* stop = form_->Command(QStringLiteral("Mp3Close"));
    if (stop && stop->isEnabled()) {
      stop->trigger();
    } else {
      form_->Mp3CloseExecute();
    }
    QCoreApplication::processEvents();
  }
  // The Play command on the selected row; false when no engine started.
  bool Play();
  bool WaitHeard(std::uint32_t beyondMs) {
    return WaitFor([&] { return Mp3FileThread->Position() > beyondMs; }, 5s);
  }
  void Latency(const QString& mpg123);
  void PlayingCpu(const QString& mpg123);
  void IdleCpu(const IdleCpuFigure& reference);
  void Close() {
    if (form_) Stop();
    form_.reset();
    FormProgress.reset();
  }

 private:
  // Median play-to-sound time (ms) of `runs` starts made by `start`, each ended by `stop`.
  double StartLatency(Recorder& recorder, const std::function<bool()>& start,
                      const std::function<void()>& stop, std::vector<double>* all);
  // CPU over one 10 s window: ours (the whole process) and mpg123's, playing at the same time.
  struct CpuRound {
    QString problem;
    double ourMs = 0, theirMs = 0, wallMs = 0;
    qint64 pid = 0;
    std::map<int, TaskCpu> us0, us1, them0, them1;
  };
  CpuRound CompareCpu(const QString& mpg123, const std::function<bool()>& start,
                      const std::function<bool()>& playing, const std::function<void()>& stop);
  // The round with the median ratio of `rounds`, with where the time went.
  void ReportCpu(const std::string& ours, int rounds, const QString& mpg123,
                 const std::function<bool()>& start, const std::function<bool()>& playing,
                 const std::function<void()>& stop);

  QString file_, sink_, monitor_;
  std::unique_ptr<TMainForm> form_;
  std::unique_ptr<TMp3Device> device_;  // the reference rows' device, without the window
};

bool Bench::StartWindow(const QString& listPath) {
  QDir().mkpath(QFileInfo(listPath).path());
  QFile list(listPath);
  if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  list.write(QStringLiteral("[0PlayList]\nFileName=%1\nFileSize=%2\nTime=\nOnlyName=%3\n"
                            "[PlayList]\nCount=1\n_TotalTime=0\n")
                 .arg(file_)
                 .arg(QFileInfo(file_).size() / 1024)
                 .arg(QFileInfo(file_).fileName())
                 .toUtf8());
  list.close();
  form_ = std::make_unique<TMainForm>();
  if (form_->IsSecondCopy()) return false;
  form_->show();
  if (!QTest::qWaitForWindowExposed(form_.get(), 10000)) return false;
  if (form_->TrackList()->rowCount() != 1) return false;
  form_->lvMain->selectionModel()->select(
      form_->TrackList()->index(0, 0),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QCoreApplication::processEvents();
  return true;
}

bool Bench::Play() {
  const TMp3FileThread* before = Mp3FileThread.get();
  QAction* play = form_->Command(QStringLiteral("Mp3Play"));
  if (play && play->isEnabled()) {
    play->trigger();
  } else {
    form_->Mp3PlayExecute();
  }
  return Mp3FileThread.get() != before;
}

double Bench::StartLatency(Recorder& recorder, const std::function<bool()>& start,
                           const std::function<void()>& stop, std::vector<double>* all) {
  for (int run = 0; run < kLatencyRuns + 1; ++run) {
    // Only once the sink has been quiet for a while is the next sound surely this start's.
    if (!WaitFor([&] { return recorder.Quiet(kRate / 5); }, 3s)) {
      std::fprintf(stderr, "the sink did not go quiet\n");
      return -1;
    }
    const std::int64_t from = recorder.Frames();
    recorder.ForgetScan();
    const auto command = Clock::now();
    if (!start()) {
      std::fprintf(stderr, "nothing started\n");
      return -1;
    }
    std::optional<Clock::time_point> onset;
    WaitFor([&] { return (onset = recorder.OnsetAfter(from)).has_value(); }, 5s);
    stop();
    if (!onset) {
      std::fprintf(stderr, "no sound came out\n");
      return -1;
    }
    // The first start of each kind pays for loading and connecting once; not counted.
    if (run > 0) all->push_back(Ms(*onset - command));
  }
  return bench::Median(*all);
}

void Bench::Latency(const QString& mpg123) {
  Recorder recorder;
  if (const QString problem = recorder.Start(monitor_); !problem.isEmpty()) {
    std::printf("cannot record %s (%s): start latency skipped\n", qPrintable(monitor_),
                qPrintable(problem));
    return;
  }
  struct Row {
    std::string what;
    double median;
    std::vector<double> all;
  };
  std::vector<Row> rows;

  std::vector<double> all;
  const double device = StartLatency(
      recorder,
      [&] {
        auto d = std::make_unique<TMp3Device>();
        const bool ok = d->Open(file_) == MP3_OK && d->Play() == MP3_OK;
        device_ = std::move(d);
        return ok;
      },
      [&] { device_.reset(); }, &all);
  if (device < 0) return;
  rows.push_back({"TMp3Device Open + Play (reference)", device, all});

  all.clear();
  const double window = StartLatency(
      recorder, [&] { return Play(); }, [&] { Stop(); }, &all);
  if (window < 0) return;
  rows.push_back({"window: Play command", window, all});

  if (!mpg123.isEmpty()) {
    all.clear();
    ChildProcess player;
    const double external = StartLatency(
        recorder,
        [&] {
          player.start(
              mpg123, {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("pulse"), file_});
          return player.waitForStarted(5000);
        },
        [&] {
          player.kill();
          player.waitForFinished(5000);
        },
        &all);
    if (external >= 0) rows.push_back({"mpg123 -o pulse, process start included", external, all});
  }

  std::printf(
      "\nPlay to the first sound the sink mixes, seen on its monitor (median of %d, each after\n"
      "Stop; the first start of each kind not counted). Taken off: the age the server reports\n"
      "for recorded pieces (median %.1f ms). A card would play it after the sink's latency\n"
      "(%s)\n",
      kLatencyRuns, recorder.MedianAgeMs(), qPrintable(SinkLatency(sink_)));
  for (const Row& row : rows) {
    bench::Report(row.what, row.median, "device", rows[0].median);
    std::printf("%58s  range %.1f .. %.1f ms\n", "",
                *std::min_element(row.all.begin(), row.all.end()),
                *std::max_element(row.all.begin(), row.all.end()));
  }
}

Bench::CpuRound Bench::CompareCpu(const QString& mpg123, const std::function<bool()>& start,
                                  const std::function<bool()>& playing,
                                  const std::function<void()>& stop) {
  CpuRound round;
  ChildProcess player;
  player.start(mpg123,
               {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("pulse"), file_});
  if (!player.waitForStarted(5000)) {
    round.problem = mpg123 + QStringLiteral(" did not start");
    return round;
  }
  if (!start()) {
    round.problem = QStringLiteral("ours did not start");
    player.kill();
    player.waitForFinished(5000);
    return round;
  }
  // Both past their start-up, which is not what this measures.
  Idle(1500ms);
  round.pid = player.processId();
  round.them0 = Tasks(round.pid);
  round.us0 = Tasks(QCoreApplication::applicationPid());
  const std::int64_t self0 = SelfCpuNs();
  const auto t0 = Clock::now();
  Idle(10s);
  round.wallMs = Ms(Clock::now() - t0);
  const std::int64_t self1 = SelfCpuNs();
  round.us1 = Tasks(QCoreApplication::applicationPid());
  round.them1 = Tasks(round.pid);
  const bool theirsPlaying = player.state() == QProcess::Running;
  const bool oursPlaying = playing();
  player.kill();
  player.waitForFinished(5000);
  stop();
  if (!theirsPlaying || round.them1.empty()) round.problem = QStringLiteral("mpg123 ended early");
  if (!oursPlaying) round.problem = QStringLiteral("ours was not playing at the end");
  round.theirMs = (TotalNs(round.them1) - TotalNs(round.them0)) / 1e6;
  round.ourMs = (self1 - self0) / 1e6;
  return round;
}

void Bench::ReportCpu(const std::string& ours, int rounds, const QString& mpg123,
                      const std::function<bool()>& start, const std::function<bool()>& playing,
                      const std::function<void()>& stop) {
  std::vector<CpuRound> done;
  for (int i = 0; i < rounds; ++i) {
    CpuRound round = CompareCpu(mpg123, start, playing, stop);
    if (!round.problem.isEmpty()) {
      std::printf("%s: %s; CPU comparison skipped\n", ours.c_str(), qPrintable(round.problem));
      return;
    }
    done.push_back(std::move(round));
  }
  std::sort(done.begin(), done.end(), [](const CpuRound& a, const CpuRound& b) {
    return a.ourMs / a.theirMs < b.ourMs / b.theirMs;
  });
  const CpuRound& median = done[done.size() / 2];
  bench::Report(ours + ": CPU over 10 s" + (rounds > 1 ? ", median round" : ""), median.ourMs,
                "mpg123", median.theirMs);
  if (rounds > 1) {
    std::printf("%58s  rounds:", "");
    for (const CpuRound& r : done) std::printf(" %.2fx", r.ourMs / r.theirMs);
    std::printf("\n");
  }
  // Where the time went, by thread (threads that ended inside the window are only in our
  // total), and how often each thread gave up its core.
  const auto byThread = [&](const char* who, qint64 pid, const std::map<int, TaskCpu>& before,
                            const std::map<int, TaskCpu>& after) {
    for (const auto& [tid, task] : after) {
      const auto was = before.find(tid);
      const TaskCpu start = was == before.end() ? TaskCpu{} : was->second;
      const double ms = (task.ns - start.ns) / 1e6;
      if (ms < 0.5) continue;
      const QString name = tid == pid ? QStringLiteral("main thread")
                                      : QStringLiteral("thread \"%1\"").arg(task.name);
      std::printf("%58s  %7.1f ms %-7s %-26s %5.0f switches/s\n", "", ms, who, qPrintable(name),
                  (task.switches - start.switches) / (median.wallMs / 1000));
    }
  };
  byThread("ours", QCoreApplication::applicationPid(), median.us0, median.us1);
  byThread("mpg123", median.pid, median.them0, median.them1);
  std::printf("%58s  (%.2f%% of a core; mpg123 %.2f%%)\n", "", median.ourMs / median.wallMs * 100,
              median.theirMs / median.wallMs * 100);
}

void Bench::PlayingCpu(const QString& mpg123) {
  std::printf(
      "\nCPU while playing a 320 kbit/s stereo file, beside mpg123 -o pulse playing it\n"
      "to the same sink over the same window\n");
  ReportCpu(
      "window playing (timer on)", 3, mpg123, [&] { return Play() && WaitHeard(100); },
      [&] { return Mp3FileThread->FDeviceID != 0 && !Mp3FileThread->IsStopped(); },
      [&] { Stop(); });
  ReportCpu(
      "TMp3Device alone (window idle)", 1, mpg123,
      [&] {
        device_ = std::make_unique<TMp3Device>();
        device_->SetVolume(500);  // as the window plays: the default volume scales samples
        if (device_->Open(file_) != MP3_OK || device_->Play() != MP3_OK) return false;
        return WaitFor(
            [&] {
              std::int64_t ms = 0;
              return device_->Position(&ms) == MP3_OK && ms > 100;
            },
            5s);
      },
      [&] { return device_->Mode() == TMp3Mode::Playing; }, [&] { device_.reset(); });
}

// CPU milliseconds per wall second over 5 s of the event loop, and which threads woke.
struct IdleCpuFigure {
  double msPerS = 0;
  QString threads;
};
IdleCpuFigure IdleMsPerS() {
  const qint64 pid = QCoreApplication::applicationPid();
  const auto tasks0 = Tasks(pid);
  const std::int64_t cpu0 = SelfCpuNs();
  const auto t0 = Clock::now();
  Idle(5s);
  const double seconds = Ms(Clock::now() - t0) / 1000;
  IdleCpuFigure figure{(SelfCpuNs() - cpu0) / 1e6 / seconds, {}};
  for (const auto& [tid, task] : Tasks(pid)) {
    const auto was = tasks0.find(tid);
    const TaskCpu start = was == tasks0.end() ? TaskCpu{} : was->second;
    const double wakeups = (task.switches - start.switches) / seconds;
    if (wakeups < 0.5) continue;
    figure.threads += QStringLiteral("%1%2 %3/s")
                          .arg(figure.threads.isEmpty() ? QString() : QStringLiteral(", "),
                               tid == pid ? QStringLiteral("main") : task.name)
                          .arg(wakeups, 0, 'f', 0);
  }
  return figure;
}

void ReportIdle(const std::string& what, const IdleCpuFigure& figure, double reference) {
  if (reference > 0) {
    bench::Report(what, figure.msPerS, "nothing opened", reference);
  } else {
    bench::Report(what, figure.msPerS);
  }
  std::printf("%58s  %.3f%% of a core; switches: %s\n", "", figure.msPerS / 10,
              figure.threads.isEmpty() ? "none" : qPrintable(figure.threads));
}

void Bench::IdleCpu(const IdleCpuFigure& reference) {
  std::printf(
      "\nIdle CPU of the window: CPU ms per wall second over 5 s of its event loop, and the\n"
      "threads' switches per second\n");
  ReportIdle("nothing opened yet (reference)", reference, 0);
  const double ref = reference.msPerS;

  QAction* pause = form_->Command(QStringLiteral("Mp3Pause"));
  if (!Play() || !WaitHeard(300)) {
    std::printf("the file did not play: idle figures skipped\n");
    return;
  }
  pause->trigger();
  if (!form_->Mp3Paused() || form_->Timer->isActive()) std::printf("(pause did not take)\n");
  Idle(300ms);
  ReportIdle("paused", IdleMsPerS(), ref);

  // Resumed and moved to just before the end, as a click on the bar does; with one row and no
  // repeat nothing follows, and the timer goes on polling the ended track.
  pause->trigger();
  const TMp3FileThread* engine = Mp3FileThread.get();
  Mp3FileThread->SetPosition(Mp3FileThread->GetLength() - 300);
  if (!WaitFor([&] { return Mp3FileThread->IsStopped(); }, 5s)) {
    std::printf("the track did not end: figure skipped\n");
  } else {
    Idle(300ms);
    if (Mp3FileThread.get() != engine || !form_->Timer->isActive())
      std::printf("(the timer is not polling the ended track)\n");
    ReportIdle("ended track, timer running", IdleMsPerS(), ref);
  }

  Stop();
  Idle(300ms);
  ReportIdle("after Stop (server connection kept)", IdleMsPerS(), ref);
}

}  // namespace

int main(int argc, char** argv) {
  // The window gets a private runtime folder; the sound server stays the session's.
  if (qEnvironmentVariableIsEmpty("PULSE_SERVER") &&
      !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    qputenv("PULSE_SERVER", "unix:" + qgetenv("XDG_RUNTIME_DIR") + "/pulse/native");
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  PrintedDialogs dialogs;
  SetDialogs(&dialogs);

  bool ok = false;
  RunTool(QStringLiteral("pactl"), {QStringLiteral("info")}, &ok);
  if (!ok) {
    std::printf(
        "no sound server answers `pactl info` (PULSE_SERVER=%s): playback benchmarks skipped.\n"
        "Start one: export XDG_RUNTIME_DIR=/tmp/velmo-runtime-$(id -u); "
        "scripts/start-sound-server.sh\n",
        qPrintable(qEnvironmentVariable("PULSE_SERVER")));
    return 0;
  }
  PrivateSink sink;
  if (!sink.Load()) {
    std::printf("the sound server would not load a null sink: playback benchmarks skipped\n");
    return 0;
  }
  // Our streams and mpg123's (it inherits the environment) go to the private sink.
  qputenv("PULSE_SINK", sink.Name().toLocal8Bit());
  // A reader of the monitor asking for a short latency, so the sink takes new streams within
  // it as a sound card does, instead of rendering seconds ahead. A process of its own, so its
  // CPU is no one's measured CPU.
  ChildProcess reader;
  reader.setStandardOutputFile(QProcess::nullDevice());
  reader.start(QStringLiteral("parec"),
               {QStringLiteral("-d"), sink.Monitor(), QStringLiteral("--latency-msec=20"),
                QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                QStringLiteral("--channels=2")});
  if (!reader.waitForStarted(5000)) std::printf("(parec did not start: the sink renders ahead)\n");

  const QString file = home.filePath(QStringLiteral("music/320k.mp3"));
  QDir().mkpath(home.filePath(QStringLiteral("music")));
  if (!MakeFile(file, 20, QStringLiteral("320k"))) {
    std::fprintf(stderr, "ffmpeg could not make the test file\n");
    return 1;
  }
  QString mpg123 = QStandardPaths::findExecutable(QStringLiteral("mpg123"));
  if (mpg123.isEmpty()) std::printf("(mpg123 is not installed: its reference rows are skipped)\n");

  Bench bench(file, sink.Name());
  if (!bench.StartWindow(home.filePath(QStringLiteral("velmo/MP3_PLAYER_PLAY_LIST.DAT")))) {
    std::fprintf(stderr, "the window did not start with the stored list\n");
    return 1;
  }

  // Before anything is opened, once the start-up's own work has settled: the reference for the
  // idle figures.
  Idle(1s);
  const IdleCpuFigure idle = IdleMsPerS();

  bench.Latency(mpg123);
  if (!mpg123.isEmpty()) bench.PlayingCpu(mpg123);
  bench.IdleCpu(idle);
  bench.Close();
  return 0;
}
