// Durations measured in the background, through the real window: exact lengths of the files a
// library holds, the running total, the skip rule, a list that changes while a scan runs, and
// Exit in the middle of a scan.
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTreeView>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>

#include "audio/mp3length.h"
#include "playback/timethread.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/ui/mainformfixture.h"

namespace {

// Any wait for a scan; far beyond what a scan of these fixtures takes.
constexpr int kScanLimitMs = 60000;

QString FileNamePart(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

std::int64_t Measured(const QString& path) {
  std::int64_t ms = -1;
  EXPECT_EQ(MeasureMp3Length(path, &ms), MP3_OK) << path.toStdString();
  return ms;
}

class Durations : public MainFormFixture {
 protected:
  QString Music(const QString& relative) const {
    return home.filePath(QStringLiteral("music/") + relative);
  }
  // Runs the event loop until the busy indicator is hidden: the scan it shows has ended.
  bool ScanEnds() {
    return QTest::qWaitFor([&] { return form->ProgressBar1->isHidden(); }, kScanLimitMs);
  }
  void LoadDirectory(const QString& folder) {
    dialogs.answers.push_back(folder);
    Cmd("ALoadDir")->trigger();
  }
  QString Panel1() const { return form->StatusPanel(1)->text(); }
  TMp3Cache Cache() const {
    const TMp3Cache* cache = Mp3Session->CacheMp3();
    return cache ? *cache : TMp3Cache();
  }

  // A folder of hard links to a few long MP3 files without a tag, so each length takes a frame
  // scan; as many as this build measures in about `scanMs`, so that a test can act while the
  // scan runs. Titles are "k<minutes> <prefix><n>.mp3", of 2, 4, 6 or 8 minutes.
  struct LinkFolder {
    QString path;
    int files = 0;
  };
  LinkFolder MakeLinkFolder(const QString& name, int scanMs, const QString& prefix = {}) {
    LinkFolder folder{Music(name)};
    EXPECT_TRUE(QDir().mkpath(folder.path));
    for (int minutes = 2; minutes <= 2 * kBases; minutes += 2) BaseLength(minutes);
    // Timed as the scanner measures: one decoder for all files.
    TMp3Decoder decoder;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3; ++i) {
      for (int minutes = 2; minutes <= 2 * kBases; minutes += 2) {
        EXPECT_EQ(decoder.Open(Base(minutes)), MP3_OK);
        decoder.Close();
      }
    }
    const double perFileMs = timer.nsecsElapsed() / 1e6 / (3 * kBases);
    folder.files = std::clamp(static_cast<int>(scanMs / std::max(perFileMs, 0.01)), 200, 20000);
    for (int i = 0; i < folder.files; ++i) {
      const int minutes = 2 + 2 * (i % kBases);
      const QString link =
          folder.path + QStringLiteral("/k%1 %2%3.mp3").arg(minutes).arg(prefix).arg(i);
      EXPECT_EQ(
          ::link(QFile::encodeName(Base(minutes)).constData(), QFile::encodeName(link).constData()),
          0);
    }
    return folder;
  }
  // The time a track of a link folder must show, from its title.
  QString ExpectedTime(const QString& title) {
    return TMp3Session::SecToTime(BaseLength(title.mid(1, 1).toInt()));
  }
  std::int64_t BaseLength(int minutes) {
    auto it = baseLengths_.find(minutes);
    if (it == baseLengths_.end()) it = baseLengths_.emplace(minutes, Measured(Base(minutes))).first;
    return it->second;
  }
  // Runs the event loop until the first results of a long scan are in; false if the scan ended
  // first (then the fixture is too small for this machine).
  bool FirstResultsWhileScanning() {
    const bool waited = QTest::qWaitFor(
        [&] {
          if (form->ProgressBar1->isHidden()) return true;
          for (const TMp3PlayerPtr& record : Cache())
            if (!record->Mp3Time().isEmpty()) return true;
          return false;
        },
        kScanLimitMs);
    return waited && !form->ProgressBar1->isHidden();
  }

 private:
  static constexpr int kBases = 4;
  // About `minutes` minutes of 128 kbit/s audio: a tagless one-second file repeated.
  QString Base(int minutes) {
    const QString path = home.filePath(QStringLiteral("bases/%1.mp3").arg(minutes));
    if (!QFile::exists(path)) {
      EXPECT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("bases"))));
      WriteFile(path, mp3test::ReadAll(mp3test::File("cbr_plain")).repeated(60 * minutes));
    }
    return path;
  }
  std::map<int, std::int64_t> baseLengths_;
};

struct FileCase {
  const char* name;
  std::function<QString()> make;
  bool audio;  // false: not an MP3 at all, so 0:0:00 and nothing added to the total
};

QString Cover() {
  return mp3test::Made(QStringLiteral("cover.png"),
                       {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                        QStringLiteral("nullsrc=s=400x400,geq=lum='random(1)*255':cb=128:cr=128"),
                        QStringLiteral("-frames:v"), QStringLiteral("1")});
}

// A picture of some 200 KB in an ID3v2 tag: the audio starts far beyond the first read.
QString PictureTagged() {
  const QString cover = Cover();
  if (cover.isEmpty()) return {};
  const QString path =
      mp3test::Made(QStringLiteral("picture.mp3"),
                    {QStringLiteral("-i"), QStringLiteral("{sine}"), QStringLiteral("-i"), cover,
                     QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-map"),
                     QStringLiteral("1:v"), QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                     QStringLiteral("-b:a"), QStringLiteral("128k"), QStringLiteral("-c:v"),
                     QStringLiteral("copy"), QStringLiteral("-id3v2_version"), QStringLiteral("3"),
                     QStringLiteral("-disposition:v"), QStringLiteral("attached_pic")});
  const QByteArray head = mp3test::ReadAll(path).left(10);
  EXPECT_TRUE(head.startsWith("ID3"));
  const int tagSize =
      (head[6] & 0x7f) << 21 | (head[7] & 0x7f) << 14 | (head[8] & 0x7f) << 7 | (head[9] & 0x7f);
  EXPECT_GT(tagSize, 128 * 1024) << "the picture tag is meant to be large";
  return path;
}

QString Id3v1Tagged() {
  const QString path =
      mp3test::Made(QStringLiteral("id3v1.mp3"),
                    {QStringLiteral("-i"), QStringLiteral("{sine}"), QStringLiteral("-c:a"),
                     QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("128k"),
                     QStringLiteral("-write_id3v1"), QStringLiteral("1"),
                     QStringLiteral("-metadata"), QStringLiteral("title=A song"),
                     QStringLiteral("-metadata"), QStringLiteral("artist=Someone")});
  EXPECT_EQ(mp3test::ReadAll(path).right(128).left(3), QByteArray("TAG"));
  return path;
}

const FileCase kFileCases[] = {
    {"cbr_128k", [] { return mp3test::File("cbr"); }, true},
    {"vbr_xing", [] { return mp3test::File("vbr_xing"); }, true},
    {"vbr_no_xing", [] { return mp3test::File("vbr_plain"); }, true},
    {"id3v2_picture", &PictureTagged, true},
    {"id3v1_at_end", &Id3v1Tagged, true},
    {"mpeg2_22khz", [] { return mp3test::File("mpeg2"); }, true},
    {"mono", [] { return mp3test::File("mono"); }, true},
    {"junk_before_first_frame",
     [] {
       return mp3test::WriteFile(QStringLiteral("junk.mp3"),
                                 QByteArray("Not a frame. ").repeated(300) +
                                     mp3test::ReadAll(mp3test::File("cbr_plain")));
     },
     true},
    {"truncated_vbr_xing",
     [] {
       const QByteArray whole = mp3test::ReadAll(mp3test::File("vbr_xing"));
       return mp3test::WriteFile(QStringLiteral("truncated.mp3"),
                                 whole.left(whole.size() * 6 / 10));
     },
     true},
    {"empty", [] { return mp3test::WriteFile(QStringLiteral("empty_track.mp3"), {}); }, false},
    {"text_named_mp3",
     [] {
       return mp3test::WriteFile(QStringLiteral("letter.mp3"),
                                 QByteArray("Dear listener,\n").repeated(300));
     },
     false},
};

TEST_F(Durations, EveryKindOfFileGetsItsDecodedLengthAndTheTotalSumsThem) {
  QStringList paths;
  for (const FileCase& c : kFileCases) {
    paths << c.make();
    ASSERT_FALSE(paths.back().isEmpty()) << c.name;
  }
  Start();
  form->WMDropFiles(paths);
  ASSERT_TRUE(ScanEnds());
  ASSERT_EQ(Rows(), paths.size());

  std::int64_t total = 0;
  for (int row = 0; row < Rows(); ++row) {
    const FileCase& c = kFileCases[row];
    const TMp3PlayerPtr& record = form->TrackList()->Record(row);
    ASSERT_EQ(record->Mp3Name(), FileNamePart(paths[row])) << c.name;
    const std::int64_t length = record->Mp3TotalTime() - total;
    if (c.audio) {
      const std::int64_t decoded = mp3test::DecodedMs(paths[row]);
      ASSERT_GT(decoded, 300) << c.name << ": the reference decode failed";
      EXPECT_NEAR(length, decoded, 30) << c.name;
      EXPECT_EQ(record->Mp3Time(), TMp3Session::SecToTime(length)) << c.name;
    } else {
      EXPECT_EQ(record->Mp3Time(), QStringLiteral("0:0:00")) << c.name;
      EXPECT_EQ(length, 0) << c.name << " adds nothing to the total";
    }
    EXPECT_EQ(form->TrackList()->index(row, TTrackListModel::colTime).data().toString(),
              record->Mp3Time())
        << c.name;
    total = record->Mp3TotalTime();
  }
  EXPECT_EQ(Panel1(), QStringLiteral("Total Time ") + TMp3Session::GetTotalTime(total));
}

TEST_F(Durations, ThreeTracksGetTheirTimesAndRunningTotalsAndTheListKeepsThem) {
  ASSERT_TRUE(QDir().mkpath(Music(QString())));
  const std::pair<const char*, int> tracks[] = {
      {"1 first.mp3", 60}, {"2 second.mp3", 150}, {"3 third.mp3", 45}};
  for (const auto& [name, seconds] : tracks) {
    // Silence at 8 kbit/s: minutes of audio in a few kilobytes.
    const QString made =
        mp3test::Made(QStringLiteral("silence%1.mp3").arg(seconds),
                      {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("anullsrc=r=8000:cl=mono"), QStringLiteral("-t"),
                       QString::number(seconds), QStringLiteral("-c:a"),
                       QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("8k")});
    ASSERT_FALSE(made.isEmpty());
    ASSERT_TRUE(QFile::copy(made, Music(QLatin1String(name))));
  }
  Start();
  LoadDirectory(Music(QString()));
  ASSERT_EQ(Rows(), 3);
  EXPECT_FALSE(form->ProgressBar1->isHidden()) << "the indicator shows while the scan works";
  EXPECT_FALSE(form->lblLoading->isHidden());
  EXPECT_EQ(form->ProgressBar1->maximum(), 3);
  ASSERT_TRUE(ScanEnds());
  EXPECT_TRUE(form->lblLoading->isHidden());
  EXPECT_EQ(form->ProgressBar1->value(), 3);

  const char* times[] = {"0:1:00", "0:2:30", "0:0:45"};
  const std::int64_t totals[] = {60000, 210000, 255000};
  for (int row = 0; row < 3; ++row) {
    const TMp3PlayerPtr& record = form->TrackList()->Record(row);
    EXPECT_EQ(record->Mp3Time(), QLatin1String(times[row])) << row;
    EXPECT_EQ(record->Mp3TotalTime(), totals[row]) << row;
  }
  EXPECT_EQ(Panel1(), QStringLiteral("Total Time 0:4:15"));

  // The saved list carries the times and the last total, and brings them back.
  EXPECT_TRUE(RequestClose());
  const QByteArray saved = ReadFile(ListFile());
  EXPECT_TRUE(saved.contains("Time=0:2:30\n")) << saved.toStdString();
  EXPECT_TRUE(saved.contains("_TotalTime=255000\n")) << saved.toStdString();
  form.reset();
  Start();
  EXPECT_EQ(form->TrackList()->Record(2)->Mp3Time(), QStringLiteral("0:0:45"));
  EXPECT_EQ(Panel1(), QStringLiteral("Total Time 0:4:15"));
}

// Equal lengths share one time text, across scans too; a finished scan keeps nothing per track.
TEST_F(Durations, EqualTimesShareATextThatStaysWithEachRecordAndAFinishedScanHoldsNoTracks) {
  ASSERT_TRUE(QDir().mkpath(Music(QStringLiteral("first"))));
  ASSERT_TRUE(QDir().mkpath(Music(QStringLiteral("second"))));
  const auto silence = [](int seconds) {
    return mp3test::Made(
        QStringLiteral("silence%1.mp3").arg(seconds),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("anullsrc=r=8000:cl=mono"), QStringLiteral("-t"), QString::number(seconds),
         QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
         QStringLiteral("8k")});
  };
  const QString ten = silence(10), twenty = silence(20);
  ASSERT_FALSE(ten.isEmpty());
  ASSERT_FALSE(twenty.isEmpty());
  ASSERT_TRUE(QFile::copy(ten, Music(QStringLiteral("first/a.mp3"))));
  ASSERT_TRUE(QFile::copy(twenty, Music(QStringLiteral("first/b.mp3"))));
  ASSERT_TRUE(QFile::copy(ten, Music(QStringLiteral("first/c.mp3"))));
  ASSERT_TRUE(QFile::copy(ten, Music(QStringLiteral("second/d.mp3"))));
  Start();
  LoadDirectory(Music(QStringLiteral("first")));
  ASSERT_TRUE(ScanEnds());
  ASSERT_EQ(Rows(), 3);
  EXPECT_TRUE(TimeThread->Tracks().empty());
  const TMp3PlayerPtr a = form->TrackList()->Record(0), b = form->TrackList()->Record(1),
                      c = form->TrackList()->Record(2);
  ASSERT_EQ(a->Mp3Time(), QStringLiteral("0:0:10"));
  ASSERT_EQ(b->Mp3Time(), QStringLiteral("0:0:20"));
  EXPECT_EQ(a->Mp3Time().constData(), c->Mp3Time().constData());

  LoadDirectory(Music(QStringLiteral("second")));
  ASSERT_TRUE(ScanEnds());
  ASSERT_EQ(Rows(), 4);
  const TMp3PlayerPtr d = form->TrackList()->Record(3);
  EXPECT_EQ(d->Mp3Time(), QStringLiteral("0:0:10"));
  EXPECT_EQ(d->Mp3Time().constData(), a->Mp3Time().constData());
  EXPECT_EQ(d->Mp3Size().constData(), a->Mp3Size().constData()) << "equal sizes share too";
  EXPECT_TRUE(TimeThread->Tracks().empty());

  // Each record's text is its own to change.
  c->SetMp3Time(QStringLiteral("0:0:11"));
  EXPECT_EQ(a->Mp3Time(), QStringLiteral("0:0:10"));
  EXPECT_EQ(d->Mp3Time(), QStringLiteral("0:0:10"));
  EXPECT_EQ(form->TrackList()->CellText(0, TTrackListModel::colTime), QStringLiteral("0:0:10"));
}

TEST_F(Durations, OnlyMp3NamesWithoutATimeAreMeasuredAndCounted) {
  const QString cbr = mp3test::File("cbr");
  const QString vbr = mp3test::File("vbr_xing");
  ASSERT_FALSE(cbr.isEmpty());
  ASSERT_FALSE(vbr.isEmpty());
  // A stream list that happens to hold MP3 audio: only its name keeps it out.
  const QString radio = mp3test::WriteFile(QStringLiteral("radio.m3u"), mp3test::ReadAll(cbr));
  const QString capitals = mp3test::WriteFile(QStringLiteral("LOUD.MP3"), mp3test::ReadAll(vbr));
  struct Stored {
    QString path, name, time;
  };
  const Stored stored[] = {
      {cbr, QStringLiteral("timed.mp3"), QStringLiteral("0:3:05")},
      {radio, QStringLiteral("radio.m3u"), {}},
      {capitals, QStringLiteral("LOUD.MP3"), {}},
      {cbr, QStringLiteral("no extension"), {}},  // the display name decides, not the path
  };
  QByteArray text;
  for (int i = 0; i < 4; ++i)
    text += QStringLiteral("[%1PlayList]\nFileName=%2\nFileSize=16\nTime=%3\nOnlyName=%4\n")
                .arg(i)
                .arg(stored[i].path, stored[i].time, stored[i].name)
                .toUtf8();
  StoreList(text + "[PlayList]\nCount=4\n_TotalTime=185000\n");
  Start();
  ASSERT_EQ(Rows(), 4);

  const QString added = mp3test::File("mono");
  dialogs.answers.push_back(added);
  Cmd("ALoadFile")->trigger();
  ASSERT_EQ(Rows(), 5);
  EXPECT_TRUE(ReadFile(ListFile()).contains("\n_TotalTime=185000\n"))
      << "saved before the new track is measured: the list keeps its total, not the new "
         "track's nothing";
  const TMp3Cache cache = Cache();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !cache[2]->Mp3Time().isEmpty() && !cache[4]->Mp3Time().isEmpty(); },
      kScanLimitMs));

  EXPECT_EQ(cache[0]->Mp3Time(), QStringLiteral("0:3:05"));
  EXPECT_EQ(cache[0]->Mp3TotalTime(), 185000) << "a skipped track keeps the stored total";
  EXPECT_EQ(cache[1]->Mp3Time(), QString());
  EXPECT_EQ(cache[3]->Mp3Time(), QString());
  const std::int64_t loud = Measured(capitals);
  const std::int64_t mono = Measured(added);
  EXPECT_EQ(cache[2]->Mp3TotalTime(), 185000 + loud)
      << "the total goes on from the time the list already had";
  EXPECT_EQ(cache[4]->Mp3TotalTime(), 185000 + loud + mono);
  const QString total =
      QStringLiteral("Total Time ") + TMp3Session::GetTotalTime(185000 + loud + mono);
  EXPECT_EQ(Panel1(), total);

  // Nothing left to measure: the indicators go at once and the total stays.
  ASSERT_TRUE(QDir().mkpath(Music(QStringLiteral("nothing"))));
  LoadDirectory(Music(QStringLiteral("nothing")));
  EXPECT_TRUE(form->ProgressBar1->isHidden());
  EXPECT_TRUE(form->lblLoading->isHidden());
  EXPECT_EQ(Panel1(), total);
}

TEST_F(Durations, ANegativeStoredTotalShowsAndSavesAsNothing) {
  StoreList(ListText(2, -5000));
  Start();
  EXPECT_EQ(Panel1(), QStringLiteral("Total Time 0:0:00"));
  Cache().front()->SetMp3Time(QStringLiteral("0:0:01"));
  EXPECT_TRUE(RequestClose());
  EXPECT_TRUE(ReadFile(ListFile()).contains("\n_TotalTime=0\n"));
}

TEST_F(Durations, AnEmptyListHidesTheIndicatorsAtOnce) {
  ASSERT_TRUE(QDir().mkpath(Music(QStringLiteral("nothing"))));
  Start();
  LoadDirectory(Music(QStringLiteral("nothing")));
  EXPECT_EQ(Mp3Session->CacheMp3(), nullptr);
  EXPECT_TRUE(form->ProgressBar1->isHidden());
  EXPECT_TRUE(form->lblLoading->isHidden());
  EXPECT_EQ(Panel1(), QStringLiteral("Total Time"));
}

TEST_F(Durations, SortingDeletingAndLoadingDuringAScanKeepTimesBesideTheirTitles) {
  const LinkFolder first = MakeLinkFolder(QStringLiteral("first"), 3000);
  const LinkFolder more = MakeLinkFolder(QStringLiteral("more"), 300, QStringLiteral("more "));
  Start();
  LoadDirectory(first.path);
  ASSERT_EQ(Rows(), first.files);
  ASSERT_TRUE(FirstResultsWhileScanning()) << "the scan ended before the test could act";

  // Delete rows, some with a time and some still waiting for theirs.
  std::vector<TMp3PlayerPtr> deletedWaiting;
  QItemSelection selection;
  int withTime = 0;
  for (int row = 0; row < Rows() && (deletedWaiting.size() < 5 || withTime < 2); row += 7) {
    const TMp3PlayerPtr& record = form->TrackList()->Record(row);
    if (record->Mp3Time().isEmpty()) {
      if (deletedWaiting.size() >= 5) continue;
      deletedWaiting.push_back(record);
    } else {
      if (withTime >= 2) continue;
      ++withTime;
    }
    selection.select(form->TrackList()->index(row, 0), form->TrackList()->index(row, 3));
  }
  ASSERT_EQ(deletedWaiting.size(), 5u);
  form->lvMain->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  dialogs.answers.push_back(true);
  form->DeleteExecute();
  ASSERT_EQ(Rows(), first.files - 5 - withTime);

  // Sort, let some results land on the sorted rows, then load more: a new scan takes over.
  form->lvMainColumnClick(TTrackListModel::colTitle);
  QTest::qWait(static_cast<int>(TTimeThread::kBatchInterval.count()) * 2);
  ASSERT_FALSE(form->ProgressBar1->isHidden()) << "the scan ended before the test could act";
  // Where the new scan's total starts: the last time the list has, in cache order.
  std::int64_t total = 0;
  for (const TMp3PlayerPtr& record : Cache())
    if (!record->Mp3Time().isEmpty()) total = record->Mp3TotalTime();
  LoadDirectory(more.path);
  ASSERT_EQ(Rows(), first.files - 5 - withTime + more.files);
  // What the new scan measures: the tracks still without a time when it started.
  std::set<const TMp3Player*> lastPass;
  for (const TTimeThread::Track& track : TimeThread->Tracks())
    lastPass.insert(track.record.lock().get());
  ASSERT_TRUE(ScanEnds());

  for (int row = 0; row < Rows(); ++row) {
    const TMp3PlayerPtr& record = form->TrackList()->Record(row);
    ASSERT_EQ(record->Mp3Time(), ExpectedTime(record->Mp3Name()))
        << "row " << row << ": " << record->Mp3Name().toStdString();
  }
  for (const TMp3PlayerPtr& record : deletedWaiting)
    EXPECT_TRUE(record->Mp3Time().isEmpty()) << "a deleted track is not written to";
  // The running total of the last pass, in cache order, over what it measured.
  int counted = 0;
  for (const TMp3PlayerPtr& record : Cache()) {
    if (!lastPass.contains(record.get())) continue;
    total += BaseLength(record->Mp3Name().mid(1, 1).toInt());
    ASSERT_EQ(record->Mp3TotalTime(), total) << record->Mp3Name().toStdString();
    ++counted;
  }
  EXPECT_GT(counted, more.files) << "the new scan also measured what the old one left";
  EXPECT_EQ(Panel1(), QStringLiteral("Total Time ") + TMp3Session::GetTotalTime(total));
}

// The scanner on its own: a few queued calls however many files, and a stop that takes effect at
// the next file.
TEST_F(Durations, ScannerDeliversInBatchesAndStopsAtItsNextFile) {
  const LinkFolder folder = MakeLinkFolder(QStringLiteral("batches"), 1500);
  TMp3Cache cache;
  for (const QFileInfo& file : QDir(folder.path).entryInfoList(QDir::Files))
    cache.push_back(std::make_shared<TMp3Player>(0, file.filePath(), file.fileName(),
                                                 QStringLiteral("1"), QString(), 0, 0));
  ASSERT_EQ(static_cast<int>(cache.size()), folder.files);

  TTimeThread whole(&cache);
  int batches = 0, results = 0;
  bool finished = false;
  QElapsedTimer timer;
  timer.start();
  whole.Start([&](const TTimeBatch& batch) {
    ++batches;
    EXPECT_FALSE(finished) << "nothing after the last batch";
    EXPECT_EQ(batch.serial, whole.Serial());
    for (const TTimeResult& result : batch.results) {
      ++results;
      EXPECT_EQ(result.error, MP3_OK);
      const QString title = cache[whole.Tracks()[result.track].index]->Mp3Name();
      EXPECT_EQ(result.ms, BaseLength(title.mid(1, 1).toInt())) << title.toStdString();
    }
    finished = batch.finished;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, kScanLimitMs));
  EXPECT_EQ(results, folder.files);
  EXPECT_LE(batches, 2 + timer.elapsed() / TTimeThread::kBatchInterval.count());
  EXPECT_TRUE(whole.Ended());

  TTimeThread stopped(&cache);
  results = 0;
  finished = false;
  stopped.Start([&](const TTimeBatch& batch) {
    results += static_cast<int>(batch.results.size());
    if (!finished && !batch.finished) stopped.Stop();
    finished = batch.finished;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, kScanLimitMs));
  EXPECT_GT(results, 0);
  EXPECT_LT(results, folder.files) << "the stopped scan went on to the end";
}

TEST_F(Durations, ExitDuringAScanEndsPromptly) {
  const LinkFolder folder = MakeLinkFolder(QStringLiteral("long"), 6000);
  Start();
  LoadDirectory(folder.path);
  ASSERT_TRUE(FirstResultsWhileScanning()) << "the scan ended before the test could act";
  const TMp3Cache records = Cache();

  EXPECT_EQ(RunEventLoop([&] { Cmd("AExit")->trigger(); }), 0);
  QElapsedTimer timer;
  timer.start();
  form.reset();
  // The rest of the scan would take seconds; stopping waits for one file at most.
  EXPECT_LT(timer.elapsed(), 2000);
  EXPECT_FALSE(TimeThread);
  // Exit saved the times that had landed by then.
  const QByteArray saved = ReadFile(ListFile());
  EXPECT_TRUE(saved.contains("Count=" + QByteArray::number(folder.files)));
  EXPECT_TRUE(saved.contains("Time=0:")) << "no measured time was saved";
}

}  // namespace
