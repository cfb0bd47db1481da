// A file opened with the program while it runs: the real program started again with the file,
// timed until the running window lists it, on a window of 100,000 tracks against the same on an
// empty window (the list's size must not matter), with the later start's own run to its end.
// Over the local socket: the benchmark has no session bus.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdlib>

#include "bench/benchdialogs.h"
#include "bench/benchlibrary.h"
#include "bench/benchutil.h"
#include "bench/benchwindow.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

constexpr int kTracks = 100000;
constexpr int kRuns = 9;

QString Program() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmo");
}

struct Times {
  std::vector<double> listed, ended;
};

// Starts the program with a file `runs` times; each run ends when the window lists the file and
// the later start has ended.
Times OpenWithRunningWindow(TMainForm& form, int runs) {
  Times times;
  for (int run = 0; run < runs; ++run) {
    const int rows = form.TrackList()->rowCount();
    QProcess later;
    QElapsedTimer timer;
    timer.start();
    later.start(Program(), {QStringLiteral("/music/opened %1.mp3").arg(run)});
    double listed = 0;
    while (listed == 0 || later.state() != QProcess::NotRunning) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
      if (listed == 0 && form.TrackList()->rowCount() == rows + 1)
        listed = timer.nsecsElapsed() / 1e6;
      if (timer.elapsed() > 10000) std::abort();
    }
    times.listed.push_back(listed);
    times.ended.push_back(timer.nsecsElapsed() / 1e6);
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velmo-bench-has-no-bus");
  QApplication app(argc, argv);
  bench::FolderAnswer dialogs;
  SetDialogs(&dialogs);
  const QString list = home.filePath(QStringLiteral("velmo/MP3_PLAYER_PLAY_LIST.DAT"));

  Times empty, large;
  {
    double ms = 0;
    std::unique_ptr<TMainForm> form = bench::StartWindow(&ms);
    empty = OpenWithRunningWindow(*form, kRuns);
  }
  FormProgress.reset();
  QFile::remove(list);
  {
    std::unique_ptr<TMainForm> form = bench::StartOnStoredList(list, kTracks);
    large = OpenWithRunningWindow(*form, kRuns);
  }
  bench::Report("File listed after a later start, 100,000-track window",
                bench::Median(large.listed), "the same on an empty window",
                bench::Median(empty.listed));
  bench::Report("  the later start's run to its end", bench::Median(large.ended),
                "the same on an empty window", bench::Median(empty.ended));
  FormProgress.reset();
  SetDialogs(nullptr);
  return 0;
}
