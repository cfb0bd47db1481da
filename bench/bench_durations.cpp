// Durations of 10,000 MP3 files in a warm cache: the duration scanner against decoding each file
// whole with libmpg123 and against opening each file and reading its first 64 KiB; then the main
// window's longest event-loop stall while it scans 10,000 (and 100,000) tracks.
#include <mpg123.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "audio/mp3length.h"
#include "bench/benchdialogs.h"
#include "bench/benchutil.h"
#include "playback/timethread.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kDecodeSample = 500;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::exit(1);
}

void Encode(const QString& out, const QStringList& codec) {
  if (!bench::EncodeSine(out, 10, codec)) Fail("ffmpeg failed");
}

std::size_t ReadHeads(const std::vector<QByteArray>& paths) {
  std::vector<char> buffer(64 * 1024);
  std::size_t bytes = 0;
  for (const QByteArray& path : paths) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open a file");
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got > 0) bytes += static_cast<std::size_t>(got);
    ::close(fd);
  }
  return bytes;
}

std::int64_t DecodeWhole(const QByteArray& path) {
  mpg123_handle* mh = mpg123_new(nullptr, nullptr);
  if (!mh) Fail("mpg123_new failed");
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  std::int64_t bytes = 0;
  if (mpg123_open(mh, path.constData()) == MPG123_OK) {
    std::vector<unsigned char> buffer(1 << 16);
    std::size_t done = 0;
    int r = MPG123_OK;
    while ((r = mpg123_read(mh, buffer.data(), buffer.size(), &done)) == MPG123_OK ||
           r == MPG123_NEW_FORMAT)
      bytes += static_cast<std::int64_t>(done);
  }
  mpg123_delete(mh);
  return bytes;
}

// One scan of the whole cache by the duration scanner, from its start to its last batch.
int ScanAll(const TMp3Cache& cache) {
  TTimeThread scanner(&cache);
  QEventLoop loop;
  int results = 0;
  scanner.Start([&](const TTimeBatch& batch) {
    for (const TTimeResult& result : batch.results) results += result.error == MP3_OK;
    if (batch.finished) loop.quit();
  });
  loop.exec();
  return results;
}

struct Stall {
  double scanMs = 0;
  double longestGapMs = 0;
  int rows = 0;
  bool allTimed = true;
};

// Loads `folder` into a real window, then runs the event loop until the scan ends, with a 5 ms
// timer recording the longest gap between its ticks.
Stall ScanInWindow(bench::FolderAnswer& dialogs, const QString& folder) {
  dialogs.folder = folder;
  auto form = std::make_unique<TMainForm>();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get(), 10000)) Fail("window not shown");
  form->Command(QStringLiteral("ALoadDir"))->trigger();
  Stall stall;
  stall.rows = form->TrackList()->rowCount();
  QElapsedTimer scan, sinceTick;
  QTimer ticks;
  ticks.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    stall.longestGapMs = std::max(stall.longestGapMs, sinceTick.nsecsElapsed() / 1e6);
    sinceTick.restart();
  });
  scan.start();
  sinceTick.start();
  ticks.start(5);
  if (!QTest::qWaitFor([&] { return form->ProgressBar1->isHidden(); }, 600000))
    Fail("the scan did not end");
  stall.scanMs = scan.nsecsElapsed() / 1e6;
  ticks.stop();
  for (int row = 0; row < stall.rows; ++row)
    stall.allTimed &= !form->TrackList()->Record(row)->Mp3Time().isEmpty();
  form.reset();
  FormProgress.reset();
  return stall;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  mpg123_init();

  const QString cbr = home.filePath(QStringLiteral("cbr.mp3"));
  const QString vbr = home.filePath(QStringLiteral("vbr_plain.mp3"));
  Encode(cbr, {QStringLiteral("-b:a"), QStringLiteral("128k")});
  Encode(vbr, {QStringLiteral("-q:a"), QStringLiteral("4"), QStringLiteral("-write_xing"),
               QStringLiteral("0")});
  const QString music = home.filePath(QStringLiteral("music"));
  QDir().mkpath(music);
  std::vector<QByteArray> paths;
  TMp3Cache cache;
  for (int i = 0; i < kFiles; ++i) {
    const bool tagged = i % 2 == 0;
    const QString name = QStringLiteral("%1 %2.mp3")
                             .arg(i, 5, 10, QLatin1Char('0'))
                             .arg(tagged ? QStringLiteral("cbr") : QStringLiteral("vbr"));
    const QString path = music + QLatin1Char('/') + name;
    if (!QFile::copy(tagged ? cbr : vbr, path)) Fail("cannot copy a file");
    paths.push_back(QFile::encodeName(path));
    cache.push_back(
        std::make_shared<TMp3Player>(i, path, name, QStringLiteral("1"), QString(), 0, 0));
  }
  std::printf(
      "%d files of 10 s: half CBR 128k with an Info tag (%lld bytes), half VBR -q 4 "
      "without a tag (%lld bytes)\n",
      kFiles, static_cast<long long>(QFileInfo(cbr).size()),
      static_cast<long long>(QFileInfo(vbr).size()));
  // Warm the cache: every byte once.
  for (const QByteArray& path : paths) DecodeWhole(path), ReadHeads({path});

  const double heads = bench::MedianMs(5, [&] { ReadHeads(paths); });
  bench::Report("open + read first 64 KiB of each file (reference)", heads);

  int measured = 0;
  const double scanner = bench::MedianMs(5, [&] { measured = ScanAll(cache); });
  if (measured != kFiles) Fail("the scanner did not measure every file");
  bench::Report("duration scanner (TTimeThread), all files", scanner, "reading heads", heads);
  // Each kind alone, against reading the heads of the same files.
  for (const int kind : {0, 1}) {
    TMp3Cache half;
    std::vector<QByteArray> halfPaths;
    for (int i = kind; i < kFiles; i += 2) {
      half.push_back(cache[i]);
      halfPaths.push_back(paths[i]);
    }
    const double halfHeads = bench::MedianMs(5, [&] { ReadHeads(halfPaths); });
    const double halfScan = bench::MedianMs(5, [&] { ScanAll(half); });
    bench::Report(
        kind == 0 ? "  the 5,000 CBR files with a tag" : "  the 5,000 VBR files without a tag",
        halfScan, "reading their heads", halfHeads);
  }
  const double direct = bench::MedianMs(5, [&] {
    std::int64_t ms = 0;
    for (const QByteArray& path : paths) MeasureMp3Length(path.constData(), &ms);
  });
  bench::Report("MeasureMp3Length in a loop on this thread", direct, "reading heads", heads);

  // Decoding is measured on every 20th file (both kinds alike) and scaled to all of them.
  std::vector<QByteArray> sample;
  for (int i = 0; i < kDecodeSample; ++i) sample.push_back(paths[i * (kFiles / kDecodeSample)]);
  const double decodeSample = bench::MedianMs(3, [&] {
    for (const QByteArray& path : sample) DecodeWhole(path);
  });
  const double decode = decodeSample * kFiles / kDecodeSample;
  bench::Report("decode whole with libmpg123 (500 files, scaled x20)", decode, "scanner", scanner);

  bench::FolderAnswer dialogs;
  SetDialogs(&dialogs);
  const Stall stall = ScanInWindow(dialogs, music);
  if (stall.rows != kFiles || !stall.allTimed) Fail("the window's scan missed rows");
  std::printf("main window, %d tracks: scan %.1f ms, longest event-loop gap %.1f ms (5 ms timer)\n",
              stall.rows, stall.scanMs, stall.longestGapMs);

  // 100,000 tracks: hard links to the same two files, in 100 folders.
  const QString big = home.filePath(QStringLiteral("big"));
  for (int f = 0; f < 100; ++f) {
    const QString folder = big + QStringLiteral("/folder %1").arg(f, 3, 10, QLatin1Char('0'));
    QDir().mkpath(folder);
    for (int i = 0; i < 1000; ++i) {
      const QByteArray link = QFile::encodeName(
          folder + QStringLiteral("/track %1.mp3").arg(i, 4, 10, QLatin1Char('0')));
      if (::link(QFile::encodeName(i % 2 ? vbr : cbr).constData(), link.constData()) != 0)
        Fail("cannot make a link");
    }
  }
  const Stall bigStall = ScanInWindow(dialogs, big);
  if (bigStall.rows != 100 * 1000 || !bigStall.allTimed) Fail("the window's scan missed rows");
  std::printf("main window, %d tracks: scan %.1f ms, longest event-loop gap %.1f ms (5 ms timer)\n",
              bigStall.rows, bigStall.scanMs, bigStall.longestGapMs);
  SetDialogs(nullptr);
  return 0;
}
