// The main list file at 100,000 tracks: reading and saving against a plain line split of the
// same bytes and against QSettings, and 10,000 duplicate tests against the unchanged file.
#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "bench/benchlibrary.h"
#include "bench/benchutil.h"
#include "model/mp3objects.h"

namespace {

constexpr int kTracks = 100000;

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  const QString list = dir.filePath(QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT"));
  Mp3Session = std::make_unique<TMp3Session>();
  bench::FillLibraryCache(kTracks);
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  settings.SavePlayList(list);
  const std::vector<std::string> lines = bench::SplitLines(list);
  std::printf("main list: %d tracks, %lld bytes, %zu lines\n", kTracks,
              static_cast<long long>(QFile(list).size()), lines.size());

  const int runs = 7;
  const double split = bench::MedianMs(runs, [&] { bench::SplitLines(list); });
  bench::Report("plain line split (std::getline)", split);
  // Dropping the previous run's records is not part of reading.
  const auto dropRecords = [&] {
    Mp3Session->SetRefresh();
    CurrMp3.reset();
  };
  const double read = bench::MedianMs(
      runs, [&] { settings.ReadPlayList(list); },
      [&] {
        dropRecords();
        bench::Touch(list);
      });
  bench::Report("ReadPlayList, file changed since last read", read, "line split", split);
  const double readWarm = bench::MedianMs(
      runs, [&] { settings.ReadPlayList(list); }, dropRecords);
  bench::Report("ReadPlayList, file unchanged", readWarm, "line split", split);
  const double qsettingsRead = bench::MedianMs(3, [&] {
    QSettings ini(list, QSettings::IniFormat);
    const int count = ini.value(QStringLiteral("PlayList/Count")).toInt();
    for (int i = 0; i < count; ++i) {
      ini.beginGroup(QStringLiteral("%1PlayList").arg(i));
      for (const char* key : {"FileName", "FileSize", "Time", "OnlyName"})
        ini.value(QLatin1String(key));
      ini.endGroup();
    }
  });
  bench::Report("QSettings (INI) reading the same keys", qsettingsRead, "ReadPlayList", read);

  bench::FillLibraryCache(kTracks);
  const QString plainCopy = dir.filePath(QStringLiteral("plain.DAT"));
  const double plainWrite = bench::MedianMs(runs, [&] { bench::WriteLines(plainCopy, lines); });
  bench::Report("plain line write (std::ofstream)", plainWrite);
  const double saveNew = bench::MedianMs(
      runs, [&] { settings.SavePlayList(list); }, [&] { QFile::remove(list); });
  bench::Report("SavePlayList to a new file (atomic, flushed)", saveNew, "line write", plainWrite);
  const double saveSame = bench::MedianMs(runs, [&] { settings.SavePlayList(list); });
  bench::Report("SavePlayList over the unchanged file", saveSame, "line write", plainWrite);
  const QString qsettingsCopy = dir.filePath(QStringLiteral("qsettings.DAT"));
  const double qsettingsWrite = bench::MedianMs(
      3,
      [&] {
        QSettings ini(qsettingsCopy, QSettings::IniFormat);
        int i = 0;
        for (const auto& mp3 : *Mp3Session->CacheMp3()) {
          ini.beginGroup(QStringLiteral("%1PlayList").arg(i++));
          ini.setValue(QStringLiteral("FileName"), mp3->Mp3Path());
          ini.setValue(QStringLiteral("FileSize"), mp3->Mp3Size());
          ini.setValue(QStringLiteral("Time"), mp3->Mp3Time());
          ini.setValue(QStringLiteral("OnlyName"), mp3->Mp3Name());
          ini.endGroup();
        }
        ini.setValue(QStringLiteral("PlayList/Count"), i);
        ini.sync();
      },
      [&] { QFile::remove(qsettingsCopy); });
  bench::Report("QSettings (INI) writing the same keys", qsettingsWrite, "SavePlayList", saveNew);

  bench::Touch(list);
  const double duplicates = bench::MedianMs(3, [&] {
    int found = 0;
    for (int i = 0; i < 10000; ++i) {
      const auto& mp3 = (*Mp3Session->CacheMp3())[(i * 7919) % kTracks];
      const QString path = (i % 2) ? mp3->Mp3Path() : mp3->Mp3Path() + QStringLiteral(".x");
      found += Mp3Session->GetMp3ByName(list, path) ? 1 : 0;
    }
    if (found != 5000) std::abort();
  });
  bench::Report("10,000 duplicate tests (GetMp3ByName), in all", duplicates);
  Mp3Session.reset();
  return 0;
}
