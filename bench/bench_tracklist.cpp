// The main list at 100,000 tracks: Load Directory over 1,000 folders against a bare recursive
// walk with stat of the same tree, and the fast search, Refresh and sorting on the full list.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>

#include "bench/benchdialogs.h"
#include "bench/benchutil.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

constexpr int kFolders = 1000;
constexpr int kPerFolder = 100;

void BuildTree(const QString& root) {
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder =
        (root + QStringLiteral("/Artist %1 - Album %2").arg(f / 10).arg(f % 10)).toStdString();
    std::filesystem::create_directories(folder);
    for (int i = 0; i < kPerFolder; ++i) {
      const std::string file = folder + "/" + std::to_string(i) + " - Song Title " +
                               std::to_string(f * kPerFolder + i) + ".mp3";
      const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd < 0) std::abort();
      ::ftruncate(fd, 3000000 + i * 1000);
      ::close(fd);
    }
  }
}

std::size_t WalkWithStat(const QString& root) {
  std::size_t files = 0;
  struct stat st {};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root.toStdString()))
    if (::stat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) ++files;
  return files;
}

double Ms(const std::function<void()>& body) {
  QElapsedTimer timer;
  timer.start();
  body();
  QCoreApplication::processEvents();
  return timer.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  const QString music = home.filePath(QStringLiteral("music"));
  BuildTree(music);
  bench::FolderAnswer dialogs;
  dialogs.folder = music;
  SetDialogs(&dialogs);

  std::size_t walked = 0;
  const double walk = bench::MedianMs(3, [&] { walked = WalkWithStat(music); });
  std::printf("tree: %zu files in %d folders\n", walked, kFolders);
  bench::Report("bare recursive walk with stat (std::filesystem)", walk);

  std::vector<double> loads;
  for (int run = 0; run < 3; ++run) {
    auto form = std::make_unique<TMainForm>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get(), 10000)) std::abort();
    loads.push_back(Ms([&] { form->Command(QStringLiteral("ALoadDir"))->trigger(); }));
    if (form->TrackList()->rowCount() != kFolders * kPerFolder) {
      std::fprintf(stderr, "rows: %d\n", form->TrackList()->rowCount());
      std::abort();
    }
    if (run == 2) {
      const char* keys[] = {"s", "so", "son", "song", "song title 9", "song title 99"};
      double worst = 0;
      for (const char* key : keys)
        worst = std::max(worst, Ms([&] { form->edtSearch->setText(QLatin1String(key)); }));
      bench::Report("fast search, slowest of 6 keystrokes", worst);
      form->edtSearch->clear();
      QCoreApplication::processEvents();
      bench::Report("Refresh", Ms([&] { form->Command(QStringLiteral("ARefresh"))->trigger(); }));
      bench::Report("sort by Title", Ms([&] { form->lvMainColumnClick(1); }));
      bench::Report("sort by Size", Ms([&] { form->lvMainColumnClick(2); }));
      // Rows added one at a time (files dropped or loaded one by one) onto the full list,
      // against the same rows added at once.
      const TMp3PlayerPtr one = std::make_shared<TMp3Player>();
      const std::vector<TMp3PlayerPtr> batch(5000, one);
      const double atOnce = Ms([&] { form->TrackList()->AppendRecords(batch); });
      bench::Report("5,000 rows appended at once", atOnce);
      const double oneByOne = Ms([&] {
        for (int i = 0; i < 5000; ++i) form->TrackList()->AppendRecords({one});
      });
      bench::Report("5,000 rows appended one by one", oneByOne, "at once", atOnce);
    }
    form.reset();
    FormProgress.reset();
  }
  std::sort(loads.begin(), loads.end());
  bench::Report("Load Directory, rows shown", loads[1], "bare walk", walk);
  SetDialogs(nullptr);
  return 0;
}
