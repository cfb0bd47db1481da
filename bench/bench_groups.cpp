// The folder groups tree: start-up with a 100,000-track main list and 1,000 stored groups of 100
// tracks each, the tree rebuilt from the disk, against the start-up with the list alone plus a
// bare stat walk of the same folders; and the memory a track node adds to its record.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTreeView>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bench/benchutil.h"
#include "bench/benchwindow.h"
#include "model/groupfile.h"
#include "model/mp3objects.h"
#include "platform/atomicfile.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/nodetree.h"
#include "ui/tracklistmodel.h"

namespace {

constexpr int kGroups = 1000;
constexpr int kPerGroup = 100;
constexpr int kTracks = kGroups * kPerGroup;

// The stored main list holds the tracks of the groups' folders, as after a Load Directory.
void StoreList(const QString& path, const QStringList& folders) {
  Mp3Session = std::make_unique<TMp3Session>();
  int id = 0;
  for (const QString& folder : folders)
    for (int t = 0; t < kPerGroup; ++t) {
      const QString name = QStringLiteral("%1 - Song Title Number %1.mp3").arg(t);
      Mp3Session->AddToCache(std::make_shared<TMp3Player>(
          id++, folder + u'/' + name, name, QStringLiteral("3"), QStringLiteral("0:3:05"), 0, 0));
    }
  Mp3Session->Mp3Settings().SavePlayList(path);
  Mp3Session.reset();
}

// readdir and a stat of every entry, as find -printf "%s" does.
void StatWalk(const QStringList& folders) {
  std::size_t seen = 0;
  for (const QString& folder : folders) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) std::abort();
    struct stat st {};
    while (const dirent* entry = ::readdir(dir))
      if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++seen;
    ::closedir(dir);
  }
  if (seen < static_cast<std::size_t>(kTracks)) std::abort();
}

double StartMs(int expectedRows, std::size_t expectedGroups) {
  double ms = 0;
  auto form = bench::StartWindow(&ms);
  if (form->TrackList()->rowCount() != expectedRows ||
      form->NodeTree()->Groups().size() != expectedGroups)
    std::abort();
  form.reset();
  FormProgress.reset();
  return ms;
}

std::size_t Heap() {
  malloc_trim(0);
  return mallinfo2().uordblks;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PrivateHome home;
  QApplication app(argc, argv);
  const QString data = home.filePath(QStringLiteral("velmo/"));
  QDir().mkpath(data);

  // 1,000 album folders of hard links to 100 small files: 100,000 names, little disk (and no
  // file with more links than a file system allows).
  for (int t = 0; t < kPerGroup; ++t) {
    QFile file(home.filePath(QStringLiteral("tone%1.mp3").arg(t)));
    if (!file.open(QIODevice::WriteOnly)) std::abort();
    file.write(QByteArray(4000, '\xFF'));
  }
  QStringList folders;
  std::vector<QString> stored;
  for (int g = 0; g < kGroups; ++g) {
    const QString folder =
        home.filePath(QStringLiteral("Music/Artist %1/Album %2").arg(g / 10).arg(g % 10));
    QDir().mkpath(folder);
    for (int t = 0; t < kPerGroup; ++t)
      if (::link(QFile::encodeName(home.filePath(QStringLiteral("tone%1.mp3").arg(t))).constData(),
                 QFile::encodeName(folder + QStringLiteral("/%1 - Song Title Number %1.mp3").arg(t))
                     .constData()) != 0)
        std::abort();
    folders << folder;
    stored.push_back(folder);
  }
  StoreList(data + QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT"), folders);
  const QString groupFile = data + QStringLiteral("MP3_GROUP_LIST.DAT");
  const std::string groups = groupfile::GroupsText(stored);

  StatWalk(folders);  // the folders in the page cache for every run
  std::vector<double> alone, walk, both;
  for (int run = 0; run < 5; ++run) {
    QFile::remove(groupFile);
    alone.push_back(StartMs(kTracks, 0));
    walk.push_back(bench::MedianMs(1, [&] { StatWalk(folders); }));
    if (!platform::writeFileAtomically(groupFile, groups)) std::abort();
    both.push_back(StartMs(kTracks, kGroups));
  }
  std::sort(alone.begin(), alone.end());
  std::sort(walk.begin(), walk.end());
  std::sort(both.begin(), both.end());
  const double reference = alone[2] + walk[2];
  std::printf("start-up, list alone %8.1f ms; stat walk of the group folders %8.1f ms\n", alone[2],
              walk[2]);
  std::printf("start-up, list and %d groups of %d %8.1f ms   %.2fx list alone + stat walk\n",
              kGroups, kPerGroup, both[2], both[2] / reference);

  // What the tree adds to the records it holds: the records are made first and kept.
  Mp3Session = std::make_unique<TMp3Session>();
  std::vector<std::vector<TMp3PlayerPtr>> records(kGroups);
  for (int g = 0; g < kGroups; ++g) {
    const QString folder = folders[g] + u'/';
    for (int t = 0; t < kPerGroup; ++t) {
      const QString name = QStringLiteral("%1 - Song Title Number %1.mp3").arg(t);
      records[g].push_back(std::make_shared<TMp3Player>(t, folder, name, name, QStringLiteral("4"),
                                                        QString(), 0, 0));
    }
  }
  const std::size_t before = Heap();
  auto* model = new TNodeTreeModel;
  QTreeView view;
  view.setModel(model);
  for (int g = 0; g < kGroups; ++g) model->AppendGroup(folders[g], records[g]);
  QCoreApplication::processEvents();
  const std::size_t collapsed = Heap();
  view.expandAll();
  QCoreApplication::processEvents();
  const std::size_t expanded = Heap();
  std::printf(
      "tree memory per track node, on top of its record: %.1f B in the model and a "
      "collapsed view, %.1f B with every group expanded\n",
      (static_cast<double>(collapsed) - static_cast<double>(before)) / kTracks,
      (static_cast<double>(expanded) - static_cast<double>(before)) / kTracks);
  view.setModel(nullptr);
  delete model;
  Mp3Session.reset();
  return 0;
}
