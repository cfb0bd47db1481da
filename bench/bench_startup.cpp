// Start-up with a stored main list of 100,000 tracks to a shown window, and Exit with its save,
// against the same with an empty list.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "bench/benchutil.h"
#include "bench/benchwindow.h"
#include "model/mp3objects.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

void StoreList(const QString& path, int tracks) {
  Mp3Session = std::make_unique<TMp3Session>();
  for (int i = 0; i < tracks; ++i) {
    const QString name = QStringLiteral("%1 - Artist Name - Song Title Number %1.mp3").arg(i);
    Mp3Session->AddToCache(std::make_shared<TMp3Player>(
        i, QStringLiteral("/home/user/Music/Album %1/").arg(i / 12) + name, name,
        QString::number(3000 + i % 5000), QStringLiteral("0:3:%1").arg(10 + i % 50), 0, 0));
  }
  if (tracks > 0) Mp3Session->Mp3Settings().SavePlayList(path);
  Mp3Session.reset();
}

struct Times {
  double start, exit;
};

Times StartAndExit(int expectedRows) {
  double start = 0;
  auto form = bench::StartWindow(&start);
  if (form->TrackList()->rowCount() != expectedRows) std::abort();

  QElapsedTimer timer;
  timer.start();
  QTimer::singleShot(0, form.get(), [&] { form->Command(QStringLiteral("AExit"))->trigger(); });
  if (QApplication::exec() != 0) std::abort();
  const double exit = timer.nsecsElapsed() / 1e6;
  form.reset();
  FormProgress.reset();
  return {start, exit};
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  const QString list = home.filePath(QStringLiteral("velmo/MP3_PLAYER_PLAY_LIST.DAT"));
  QDir().mkpath(home.filePath(QStringLiteral("velmo")));

  for (int tracks : {0, 100000}) {
    std::vector<double> starts, exits;
    for (int run = 0; run < 3; ++run) {
      QFile::remove(list);
      StoreList(list, tracks);
      const Times t = StartAndExit(tracks);
      starts.push_back(t.start);
      exits.push_back(t.exit);
    }
    std::sort(starts.begin(), starts.end());
    std::sort(exits.begin(), exits.end());
    std::printf("%6d tracks: start-up to a shown window %8.1f ms, Exit with its save %8.1f ms\n",
                tracks, starts[1], exits[1]);
  }
  return 0;
}
