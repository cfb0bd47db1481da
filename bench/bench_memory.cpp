// Memory of 100,000 track records with their list rows, as resident set size: records read from
// a play list (the reader shares folders, sizes and times between records) against records made
// one by one with the constructor, every record holding strings of its own.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <malloc.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "model/mp3objects.h"

namespace {

constexpr int kTracks = 100000;
constexpr int kTracksPerFolder = 12;

// What a row of the main list adds to its record.
struct Row {
  TMp3PlayerPtr record;
  int number = 0;
  bool checked = false;
};
static_assert(sizeof(Row) == 24);

QString Name(int i) {
  return QStringLiteral("%1 - Artist Name - Song Title Number %1.mp3").arg(i);
}
QString Folder(int i) {
  return QStringLiteral("/home/user/Music/Artist Name/Album %1/").arg(i / kTracksPerFolder);
}

// Every string made afresh, as a loader without sharing would.
TMp3PlayerPtr FreshRecord(int i) {
  const QString name = Name(i);
  return std::make_shared<TMp3Player>(i, Folder(i) + name, name, QString::number(3000 + i % 5000),
                                      QStringLiteral("0:3:%1").arg(10 + i % 50), 0,
                                      185000LL * (i + 1));
}

long RssBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  if (!statm) std::abort();
  return resident * sysconf(_SC_PAGESIZE);
}

struct Usage {
  long rss;
  std::size_t heap;
};

// Freed memory goes back to the system first, so only what is still held counts.
Usage Measure() {
  malloc_trim(0);
  return {RssBytes(), mallinfo2().uordblks};
}

void Report(const char* what, const Usage& before, const Usage& after) {
  std::printf("%-46s %7.1f bytes/track RSS  (%7.1f allocated)\n", what,
              static_cast<double>(after.rss - before.rss) / kTracks,
              (static_cast<double>(after.heap) - static_cast<double>(before.heap)) / kTracks);
}

std::vector<Row> MakeRows(const TMp3Cache& records) {
  std::vector<Row> rows;
  rows.reserve(records.size());
  for (const auto& record : records) rows.push_back({record, record->Mp3ID() + 1, false});
  return rows;
}

void CheckCount(std::size_t rows) {
  if (rows != kTracks || Mp3Session->CacheCount() != kTracks) {
    std::fprintf(stderr, "expected %d records, got %zu rows and %d cached\n", kTracks, rows,
                 Mp3Session->CacheCount());
    std::abort();
  }
}

void DropRecords() {
  Mp3Session->SetRefresh();
  CurrMp3.reset();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  const QString list = dir.filePath(QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT"));
  Mp3Session = std::make_unique<TMp3Session>();
  for (int i = 0; i < kTracks; ++i) Mp3Session->AddToCache(FreshRecord(i));
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  settings.SavePlayList(list);
  DropRecords();
  // The parsed file stays cached by the profile reader; one read beforehand keeps it out of the
  // figure, which is then the records' alone.
  settings.ReadPlayList(list);
  DropRecords();

  std::printf("%d tracks, %d per folder; sizeof(TMp3Player) = %zu, row = %zu bytes\n", kTracks,
              kTracksPerFolder, sizeof(TMp3Player), sizeof(Row));
  std::vector<Row> rows;
  Usage before = Measure();
  {
    // The list keeps the rows and the cache; the reader's own vector goes.
    const auto read = settings.ReadPlayList(list);
    rows = MakeRows(*Mp3Session->CacheMp3());
    if (read.size() != rows.size()) std::abort();
  }
  CheckCount(rows.size());
  Report("ReadPlayList + rows", before, Measure());

  rows = {};
  DropRecords();
  before = Measure();
  for (int i = 0; i < kTracks; ++i) Mp3Session->AddToCache(FreshRecord(i));
  rows = MakeRows(*Mp3Session->CacheMp3());
  CheckCount(rows.size());
  Report("one by one, no sharing + rows (reference)", before, Measure());

  rows = {};
  DropRecords();
  Mp3Session.reset();
  return 0;
}
