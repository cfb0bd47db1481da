#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "model/mp3objects.h"
#include "platform/inifile.h"
#include "platform/pathcodec.h"
#include "platform/textcodec.h"

namespace {

class PlayListFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    Mp3Session = std::make_unique<TMp3Session>();
    CurrMp3.reset();
  }
  void TearDown() override {
    CurrMp3.reset();
    Mp3Session.reset();
  }

  QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }

  static void WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  static QByteArray ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // Puts records with these paths in the cache of Mp3Session.
  static void FillCache(const QStringList& paths, std::int64_t totalOfLast = 0) {
    Mp3Session->SetRefresh();
    int id = 0;
    for (const QString& path : paths)
      Mp3Session->AddToCache(std::make_shared<TMp3Player>(
          id++, path, path.section(QLatin1Char('/'), -1), QStringLiteral("4523"),
          QStringLiteral("0:3:05"), 0, totalOfLast));
  }

  std::vector<TMp3PlayerPtr> Read(const QString& path) {
    Mp3Session->SetRefresh();
    return Mp3Session->Mp3Settings().ReadPlayList(path);
  }

  QTemporaryDir dir;
};

TEST_F(PlayListFile, FilesWithoutTracksYieldNoRecords) {
  const struct {
    const char* name;
    const char* text;
  } cases[] = {
      {"no PlayList section", "[0PlayList]\nFileName=/a.mp3\n"},
      {"Count 0", "[PlayList]\nCount=0\n[0PlayList]\nFileName=/a.mp3\n"},
      {"negative Count", "[PlayList]\nCount=-3\n[0PlayList]\nFileName=/a.mp3\n"},
      {"Count not a number", "[PlayList]\nCount=three\n[0PlayList]\nFileName=/a.mp3\n"},
      {"empty file", ""},
  };
  for (const auto& c : cases) {
    WriteText(Path("list.DAT"), c.text);
    EXPECT_TRUE(Read(Path("list.DAT")).empty()) << c.name;
    EXPECT_EQ(Mp3Session->CacheMp3(), nullptr) << c.name;
    EXPECT_EQ(CurrMp3, nullptr) << c.name;
  }
  EXPECT_TRUE(Read(Path("missing.DAT")).empty());
}

TEST_F(PlayListFile, ReadGivesIdsInFileOrderStateZeroAndTheFileTotal) {
  WriteText(Path("list.DAT"),
            "[0PlayList]\nFileName=/m/a.mp3\nFileSize=10\nTime=0:1:00\nOnlyName=a.mp3\n"
            "[2PlayList]\nFileName=/m/c.mp3\nOnlyName=c.mp3\n"
            "[PlayList]\nCount=3\n_TotalTime=4000000000\n");
  const auto records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), 3u);
  ASSERT_EQ(Mp3Session->CacheCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i]->Mp3ID(), i);
    EXPECT_EQ(records[i]->Mp3State(), 0);
    EXPECT_EQ(records[i]->Mp3TotalTime(), 4000000000LL);
    EXPECT_EQ((*Mp3Session->CacheMp3())[i], records[i]) << "returned and cached in file order";
  }
  EXPECT_EQ(records[0]->Mp3Path(), QStringLiteral("/m/a.mp3"));
  EXPECT_EQ(records[0]->Mp3Size(), QStringLiteral("10"));
  EXPECT_EQ(records[0]->Mp3Time(), QStringLiteral("0:1:00"));
  // A section missing below Count gives an empty record.
  EXPECT_TRUE(records[1]->Mp3Path().isEmpty());
  EXPECT_TRUE(records[1]->Mp3Name().isEmpty());
  EXPECT_TRUE(records[1]->Mp3Size().isEmpty());
  EXPECT_EQ(records[2]->Mp3Name(), QStringLiteral("c.mp3"));
  EXPECT_EQ(CurrMp3, records[2]) << "the current track ends on the last record read";
}

TEST_F(PlayListFile, NewFileListsTracksThenTheListSection) {
  FillCache({QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3")}, 245000);
  (*Mp3Session->CacheMp3())[1]->SetMp3Time(QString());
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  EXPECT_EQ(ReadText(Path("list.DAT")),
            "[0PlayList]\nFileName=/m/a.mp3\nFileSize=4523\nTime=0:3:05\nOnlyName=a.mp3\n"
            "[1PlayList]\nFileName=/m/b.mp3\nFileSize=4523\nTime=\nOnlyName=b.mp3\n"
            "[PlayList]\nCount=2\n_TotalTime=245000\n");
}

TEST_F(PlayListFile, ShorterListSavedOverLongerOneKeepsOldSectionsButReadsItsOwnCount) {
  FillCache({QStringLiteral("/1.mp3"), QStringLiteral("/2.mp3"), QStringLiteral("/3.mp3"),
             QStringLiteral("/4.mp3"), QStringLiteral("/5.mp3")});
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  FillCache({QStringLiteral("/x.mp3"), QStringLiteral("/y.mp3"), QStringLiteral("/z.mp3")});
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));

  const platform::IniFile ini(Path("list.DAT"));
  EXPECT_EQ(ini.readString("3PlayList", "FileName", QString()), QStringLiteral("/4.mp3"));
  EXPECT_EQ(ini.readString("4PlayList", "FileName", QString()), QStringLiteral("/5.mp3"));
  const auto records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2]->Mp3Path(), QStringLiteral("/z.mp3"));
  EXPECT_TRUE(Mp3Session->GetMp3ByName(Path("list.DAT"), QStringLiteral("/y.mp3")));
  EXPECT_FALSE(Mp3Session->GetMp3ByName(Path("list.DAT"), QStringLiteral("/4.mp3")))
      << "sections past Count are not part of the list";
}

// File names are the system's bytes, which need not be UTF-8 and may hold a line break.
QString Bytes(const char* bytes) {
  return platform::decodePath(bytes);
}

TEST_F(PlayListFile, PathsThatTextCannotHoldKeepTheirBytes) {
  const struct {
    const char* name;
    const char* path;      // the system's bytes
    const char* fileName;  // FileName as stored
    const char* bytesKey;  // FileNameBytes as stored; null: no such key
  } cases[] = {
      {"UTF-8 as always", "/m/Песни/ж.mp3", "/m/Песни/ж.mp3", nullptr},
      {"Latin-1", "/m/caf\xE9.mp3", "/m/caf\xEF\xBF\xBD.mp3", "/m/caf%E9.mp3"},
      {"cp1251 folder", "/m/\xCF\xE5\xF1\xED\xE8/a b.mp3",
       "/m/\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD/a b.mp3",
       "/m/%CF%E5%F1%ED%E8/a%20b.mp3"},
      {"line break", "/m/two\nlines.mp3", "/m/two\xEF\xBF\xBDlines.mp3", "/m/two%0Alines.mp3"},
      {"UTF-8 beside a stray byte", "/m/\xC3\xA9\xC3.mp3", "/m/\xC3\xA9\xEF\xBF\xBD.mp3",
       "/m/%C3%A9%C3.mp3"},
      {"percent and quotes", "/m/100% \"x\"\r.mp3", "/m/100% \"x\"\xEF\xBF\xBD.mp3",
       "/m/100%25%20%22x%22%0D.mp3"},
  };
  QStringList paths;
  for (const auto& c : cases) paths << Bytes(c.path);
  FillCache(paths);
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  const QByteArray text = ReadText(Path("list.DAT"));
  EXPECT_TRUE(platform::isValidUtf8(std::string_view(text.constData(), text.size())));

  const platform::IniFile ini(Path("list.DAT"));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    std::string_view raw[2];
    ini.readRawStrings(playlistfile::TrackSection(static_cast<int>(i)),
                       {"FileName", "FileNameBytes"}, raw);
    EXPECT_EQ(raw[0], cases[i].fileName);
    if (cases[i].bytesKey)
      EXPECT_EQ(raw[1], cases[i].bytesKey);
    else
      EXPECT_EQ(raw[1].data(), nullptr);
  }
  const auto records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(platform::encodePath(records[i]->Mp3Path()), QByteArray(cases[i].path));
    EXPECT_TRUE(Mp3Session->GetMp3ByName(Path("list.DAT"), paths[i]));
  }
  EXPECT_FALSE(Mp3Session->GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/caf\uFFFD.mp3")))
      << "the readable text is not the path";

  // Saved again over itself, the bytes of a section whose track is now a plain one go with it.
  // The fourth is a real name holding U+FFFD, written as the lossy text of the track before it.
  FillCache({QStringLiteral("/m/plain.mp3"), paths[0], Bytes("/m/\xE9t\xE9.mp3"),
             QStringLiteral("/m/é\uFFFD.mp3")});
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  const platform::IniFile again(Path("list.DAT"));
  for (const char* section : {"0PlayList", "1PlayList", "3PlayList"})
    EXPECT_FALSE(again.readString(section, "FileNameBytes", QStringLiteral("none")) !=
                 QStringLiteral("none"))
        << section;
  EXPECT_EQ(again.readString("2PlayList", "FileNameBytes", {}), QStringLiteral("/m/%E9t%E9.mp3"));
  const auto reread = Read(Path("list.DAT"));
  ASSERT_EQ(reread.size(), 4u);
  EXPECT_EQ(reread[3]->Mp3Path(), QStringLiteral("/m/é\uFFFD.mp3"));
  EXPECT_EQ(reread[0]->Mp3Path(), QStringLiteral("/m/plain.mp3"));
  EXPECT_EQ(platform::encodePath(reread[2]->Mp3Path()), QByteArray("/m/\xE9t\xE9.mp3"));
}

TEST_F(PlayListFile, StoredBytesCountOnlyWhenWellFormedAndBesideALossyName) {
  WriteText(Path("list.DAT"),
            "[0PlayList]\nFileName=/m/a\xEF\xBF\xBD.mp3\nOnlyName=a.mp3\nFileNameBytes=/m/%E\n"
            "[1PlayList]\nFileName=/m/b\xEF\xBF\xBD.mp3\nOnlyName=b.mp3\nFileNameBytes=/m/%00\n"
            "[2PlayList]\nFileName=/m/c\xEF\xBF\xBD.mp3\nOnlyName=c.mp3\nFileNameBytes=\n"
            "[3PlayList]\nFileName=/m/x\xEF\xBF\xBD.mp3\nOnlyName=d.mp3\nFileNameBytes=/m/%64\n"
            "[4PlayList]\nFileName=/m/e.mp3\nOnlyName=e.mp3\nFileNameBytes=/m/other.mp3\n"
            "[PlayList]\nCount=5\n");
  const QStringList expected{QStringLiteral("/m/a\uFFFD.mp3"), QStringLiteral("/m/b\uFFFD.mp3"),
                             QStringLiteral("/m/c\uFFFD.mp3"), QStringLiteral("/m/d"),
                             QStringLiteral("/m/e.mp3")};
  const auto records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(records[i]->Mp3Path(), expected[i]) << i;
    EXPECT_TRUE(Mp3Session->GetMp3ByName(Path("list.DAT"), expected[i])) << i;
  }
}

TEST_F(PlayListFile, PathsOfAnyLengthAndScriptRoundTrip) {
  const QString cyrillic = QStringLiteral("/музика/Песен за морето.mp3");
  const QString spaced = QStringLiteral("/m/ leading and trailing .mp3 ");
  const QString quoted = QStringLiteral("\"/m/quoted.mp3\"");
  QString longPath = QStringLiteral("/m");
  while (longPath.toUtf8().size() < 4000) longPath += QStringLiteral("/папка-folder");
  longPath += QStringLiteral(".mp3");
  const QStringList paths = {cyrillic, spaced, quoted, longPath};
  FillCache(paths);
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  EXPECT_TRUE(ReadText(Path("list.DAT")).contains(cyrillic.toUtf8())) << "stored as UTF-8";

  const auto records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), static_cast<size_t>(paths.size()));
  for (int i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(records[i]->Mp3Path(), paths[i]);
    EXPECT_EQ(records[i]->Mp3Name(), paths[i].section(QLatin1Char('/'), -1));
    EXPECT_TRUE(Mp3Session->GetMp3ByName(Path("list.DAT"), paths[i])) << i;
  }
}

TEST_F(PlayListFile, ReadRecordsHoldWholeValuesDecodedAndShareFolders) {
  // Non-UTF-8 bytes are Windows-1252 here.
  const QString longFolder = QStringLiteral("/") + QString(70000, QLatin1Char('f'));
  const struct {
    QByteArray fileName, onlyName;
    QString path, name;
  } cases[] = {
      {"/m/a/1.mp3", "1.mp3", QStringLiteral("/m/a/1.mp3"), QStringLiteral("1.mp3")},
      {"/m/b/1.mp3", "1.mp3", QStringLiteral("/m/b/1.mp3"), QStringLiteral("1.mp3")},
      {"/m/a/2.mp3", "Two", QStringLiteral("/m/a/2.mp3"), QStringLiteral("Two")},
      {"/m/a/3.mp3", "3.mp3", QStringLiteral("/m/a/3.mp3"), QStringLiteral("3.mp3")},
      {"/\xd0\xbc/1.mp3", "1.mp3", QStringLiteral("/м/1.mp3"), QStringLiteral("1.mp3")},
      {"/\xd0\xbc/2.mp3", "2.mp3", QStringLiteral("/м/2.mp3"), QStringLiteral("2.mp3")},
      {"/caf\xe9/1.mp3", "1.mp3", QStringLiteral("/café/1.mp3"), QStringLiteral("1.mp3")},
      // Equal texts from different encodings; equal bytes that read differently.
      {"/m/\xe9.mp3", "\xc3\xa9.mp3", QStringLiteral("/m/é.mp3"), QStringLiteral("é.mp3")},
      {"/\xe9/\xc3\xa9.mp3", "\xc3\xa9.mp3", QStringLiteral("/é/Ã©.mp3"), QStringLiteral("é.mp3")},
      {"http://host/x", "x", QStringLiteral("http://host/x"), QStringLiteral("x")},
      {"a.mp3", "a.mp3", QStringLiteral("a.mp3"), QStringLiteral("a.mp3")},
      // Longer paths are cut to the most a path may hold.
      {longFolder.toLatin1() + "/a.mp3", "a.mp3", longFolder.left(1 << 16),
       QStringLiteral("a.mp3")},
  };
  QByteArray text = "[PlayList]\nCount=" + QByteArray::number(std::size(cases)) + "\n";
  for (size_t i = 0; i < std::size(cases); ++i)
    text += "[" + QByteArray::number(i) + "PlayList]\nFileName=" + cases[i].fileName +
            "\nOnlyName=" + cases[i].onlyName + "\n";
  WriteText(Path("list.DAT"), text);
  const auto records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(records[i]->Mp3Path(), cases[i].path) << i;
    EXPECT_EQ(records[i]->Mp3Name(), cases[i].name) << i;
  }
  const auto Data = [&](int i) { return records[i]->Mp3Folder().constData(); };
  EXPECT_EQ(Data(0), Data(3)) << "a folder met again after another one";
  EXPECT_NE(Data(0), Data(1));
  EXPECT_EQ(Data(4), Data(5)) << "folders that are not ASCII";
  EXPECT_EQ(records[2]->Mp3Folder(), QStringLiteral("/m/a/"));
}

TEST_F(PlayListFile, DuplicateTestIsExactAndFollowsTheFileAsLastSaved) {
  FillCache({QStringLiteral("/m/Song.mp3")});
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  const TMp3Session& s = *Mp3Session;
  EXPECT_TRUE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Song.mp3")));
  EXPECT_FALSE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/song.mp3"))) << "case counts";
  EXPECT_FALSE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Other.mp3")));
  EXPECT_FALSE(s.GetMp3ByName(Path("missing.DAT"), QStringLiteral("/m/Song.mp3")));

  // Rows added since the last save are not seen; a new save is.
  FillCache({QStringLiteral("/m/Song.mp3"), QStringLiteral("/m/Other.mp3")});
  EXPECT_FALSE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Other.mp3")));
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  EXPECT_TRUE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Other.mp3")));

  // So is a file replaced by another program.
  WriteText(Path("list.DAT"), "[PlayList]\nCount=1\n[0PlayList]\nFileName=/m/Third.mp3\n");
  EXPECT_TRUE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Third.mp3")));
  EXPECT_FALSE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Song.mp3")));
  // An index let go after a command is built again from the file.
  TMp3Session::ForgetStoredPaths();
  EXPECT_TRUE(s.GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/Third.mp3")));
  EXPECT_EQ(s.GetNextID(Path("list.DAT")), 1);
  EXPECT_EQ(s.GetNextID(Path("missing.DAT")), 0);
}

TEST_F(PlayListFile, AStoredValueEndsAtANulByte) {
  // What follows a NUL would be cut off by every system call: the path would name /m/a.mp3
  // while the list showed another.
  WriteText(Path("list.DAT"), QByteArray("[0PlayList]\nFileName=/m/a.mp3\0/other.mp3\n"
                                         "OnlyName=a.mp3\0x\n[PlayList]\nCount=1\n",
                                         77));
  const std::vector<TMp3PlayerPtr> records = Read(Path("list.DAT"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->Mp3Path(), QStringLiteral("/m/a.mp3"));
  EXPECT_EQ(records[0]->Mp3Name(), QStringLiteral("a.mp3"));
  EXPECT_TRUE(Mp3Session->GetMp3ByName(Path("list.DAT"), QStringLiteral("/m/a.mp3")));
}

TEST_F(PlayListFile, ProgressEventsGetEveryRecordAsSender) {
  FillCache({QStringLiteral("/a.mp3"), QStringLiteral("/b.mp3"), QStringLiteral("/c.mp3")});
  std::vector<int> saved;
  TMp3Settings& settings = Mp3Session->Mp3Settings();
  settings.SetOnCloseProgress([&](TMp3Session* sender) {
    auto* mp3 = dynamic_cast<TMp3Player*>(sender);
    ASSERT_NE(mp3, nullptr);
    saved.push_back(mp3->Mp3ID());
  });
  settings.SavePlayList(Path("list.DAT"));
  EXPECT_EQ(saved, (std::vector<int>{0, 1, 2}));

  std::vector<QString> loaded;
  settings.SetOnLoadProgress([&](TMp3Session* sender) {
    auto* mp3 = dynamic_cast<TMp3Player*>(sender);
    ASSERT_NE(mp3, nullptr);
    loaded.push_back(mp3->Mp3Path());
  });
  Read(Path("list.DAT"));
  EXPECT_EQ(loaded, (std::vector<QString>{QStringLiteral("/a.mp3"), QStringLiteral("/b.mp3"),
                                          QStringLiteral("/c.mp3")}));
}

TEST_F(PlayListFile, FailedSaveRaisesAndLeavesTheOldFileWhole) {
  FillCache({QStringLiteral("/a.mp3")});
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  const QByteArray before = ReadText(Path("list.DAT"));

  // A folder path whose first part is a regular file cannot hold a file, even for root.
  WriteText(Path("plain"), "x");
  const QString impossible = Path("plain") + QStringLiteral("/list.DAT");
  FillCache({QStringLiteral("/b.mp3")});
  try {
    Mp3Session->Mp3Settings().SavePlayList(impossible);
    FAIL() << "the save reported success";
  } catch (const platform::IniWriteError& error) {
    EXPECT_EQ(error.message(), QStringLiteral("Unable to write to ") + impossible);
  }
  EXPECT_EQ(ReadText(Path("list.DAT")), before);
}

TEST_F(PlayListFile, SaveWithoutCacheWritesNothing) {
  Mp3Session->SetRefresh();
  Mp3Session->Mp3Settings().SavePlayList(Path("list.DAT"));
  EXPECT_FALSE(QFile::exists(Path("list.DAT")));
}

}  // namespace
