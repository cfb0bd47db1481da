#include <gtest/gtest.h>

#include "model/mp3objects.h"

namespace {

TEST(TimeText, FormatsMillisecondsAsHoursMinutesPaddedSeconds) {
  const struct {
    std::int64_t ms;
    const char* text;
  } cases[] = {
      {0, "0:0:00"},
      {999, "0:0:00"},
      {9999, "0:0:09"},
      {59999, "0:0:59"},
      {185000, "0:3:05"},
      {600000, "0:10:00"},
      {3600000, "1:0:00"},
      {3725000, "1:2:05"},
      {36000000, "10:0:00"},
      {86400000, "24:0:00"},
      {3000000000LL, "833:20:00"},  // past 2^31 ms
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TMp3Session::SecToTime(c.ms).toStdString(), c.text) << c.ms;
    EXPECT_EQ(TMp3Session::GetTotalTime(c.ms).toStdString(), c.text) << c.ms;
  }
}

TMp3PlayerPtr Record(int id, int state = 0) {
  return std::make_shared<TMp3Player>(id, QStringLiteral("/m/%1.mp3").arg(id),
                                      QStringLiteral("%1.mp3").arg(id), QStringLiteral("1"),
                                      QString(), state, 0);
}

TEST(Session, LookupsTakeTheFirstMatchInCacheOrder) {
  TMp3Session session;
  EXPECT_EQ(session.GetMp3ByID(0), nullptr);
  EXPECT_EQ(session.GetMp3Status(), nullptr);

  session.AddToCache(nullptr);
  EXPECT_EQ(session.CacheMp3(), nullptr) << "an empty reference must not create the cache";

  auto first = Record(7), second = Record(7), playing = Record(3, 1), alsoPlaying = Record(4, 1);
  for (const auto& r : {first, second, playing, alsoPlaying}) session.AddToCache(r);
  EXPECT_EQ(session.GetMp3ByID(7), first);
  EXPECT_EQ(session.GetMp3ByID(5), nullptr);
  EXPECT_EQ(session.GetMp3Status(), playing);
}

TEST(Session, RefreshDropsTheCacheButNeverTheRecords) {
  TMp3Session session;
  auto playing = Record(1, 1);
  session.AddToCache(playing);
  std::weak_ptr<TMp3Player> watch = playing;
  session.SetRefresh();
  EXPECT_EQ(session.CacheMp3(), nullptr);
  EXPECT_EQ(session.GetMp3Status(), nullptr) << "the record still exists, the cache does not";
  EXPECT_FALSE(watch.expired());
  session.AddToCache(Record(2));
  ASSERT_NE(session.CacheMp3(), nullptr);
  EXPECT_EQ(session.CacheCount(), 1) << "a new cache starts empty";
  session.Refresh();
  EXPECT_EQ(session.CacheMp3(), nullptr);
}

TEST(Session, SettingsObjectIsMadeOnceAndResetKeepsColourVolumeAndEvents) {
  TMp3Session session;
  TMp3Settings& settings = session.Mp3Settings();
  EXPECT_EQ(&settings, &session.Mp3Settings());
  settings.SetCheckSysTray(1);
  settings.SetCheckRepeat(true);
  settings.SetDefaultPath(QStringLiteral("/music"));
  settings.SetLanguageType(1);
  settings.SetColor(5);
  settings.SetVolume(6);
  settings.SetOnLoadProgress([](TMp3Session*) {});
  settings.Refresh();
  EXPECT_EQ(settings.CheckSysTray(), 0);
  EXPECT_FALSE(settings.CheckRepeat());
  EXPECT_TRUE(settings.DefaultPath().isEmpty());
  EXPECT_EQ(settings.LanguageType(), 0);
  EXPECT_EQ(settings.Color(), 5);
  EXPECT_EQ(settings.Volume(), 6);
  EXPECT_TRUE(static_cast<bool>(settings.OnLoadProgress()));
}

// The path's folder as the program defines it: through the last '/', empty without one.
QString FolderOf(const QString& path) {
  return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

TEST(TrackRecord, PathAndNameRoundTripAndSettingOneKeepsTheOther) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"/home/user/Music/Artist/Album 1/01 - Song.mp3", "01 - Song.mp3"},
      {"/a.mp3", "a.mp3"},
      {"a.mp3", "a.mp3"},
      {"http://host/x", "x"},
      {"http://host/x", "Radio X"},
      {"http://radio.invalid:8000/", "Radio"},
      {"/m/dir/", ""},
      {"/m/dir/", "dir"},
      {"/m//a.mp3", "a.mp3"},
      {"/m/Xa.mp3", "a.mp3"},  // the path ends with the name, but not after a '/'
      {"/m/a.mp3", "Song A"},
      {"/m/a.mp3", "m/a.mp3"},  // the path ends with the name, but the name holds a '/'
      {"/m/a.mp3", "/m/a.mp3"},
      {"/m/a.mp3", ""},
      {"", "x"},
      {"", ""},
      {"/музика/Песен.mp3", "Песен.mp3"},
  };
  const QString otherPath = QStringLiteral("/other/folder/b.mp3");
  const QString otherName = QStringLiteral("Other name");
  for (const auto& c : cases) {
    const QString path = QString::fromUtf8(c.path), name = QString::fromUtf8(c.name);
    const std::string where = std::string(c.path) + " | " + c.name;
    TMp3PathPool pool;
    std::vector<TMp3PlayerPtr> made = {
        std::make_shared<TMp3Player>(1, path, name, QString(), QString(), 0, 0),
        pool.MakePlayer(1, path, name, QString(), QString(), 0, 0)};
    // The two-part constructor gives the same path wherever the caller splits it.
    for (qsizetype cut = 0; cut <= path.size(); ++cut)
      made.push_back(std::make_shared<TMp3Player>(1, path.left(cut), QStringView(path).sliced(cut),
                                                  name, QString(), QString(), 0, 0));
    for (const auto& mp3 : made) {
      EXPECT_EQ(mp3->Mp3Path(), path) << where;
      const auto [head, tail] = mp3->Mp3PathParts();
      EXPECT_EQ(head + tail, path) << where;
      EXPECT_EQ(mp3->Mp3Name(), name) << where;
      EXPECT_EQ(mp3->Mp3Folder(), FolderOf(path)) << where;

      mp3->SetMp3Name(otherName);
      EXPECT_EQ(mp3->Mp3Path(), path) << where;
      EXPECT_EQ(mp3->Mp3Folder(), FolderOf(path)) << where;
      mp3->SetMp3Path(otherPath);
      EXPECT_EQ(mp3->Mp3Name(), otherName) << where;
      EXPECT_EQ(mp3->Mp3Folder(), FolderOf(otherPath)) << where;
      mp3->SetMp3Path(path);
      mp3->SetMp3Name(name);
      EXPECT_EQ(mp3->Mp3Path(), path) << where;
      EXPECT_EQ(mp3->Mp3Name(), name) << where;
      mp3->SetMp3Path(otherPath);
      EXPECT_EQ(mp3->Mp3Name(), name) << where;
      EXPECT_EQ(mp3->Mp3Path(), otherPath) << where;
      const auto [otherHead, otherTail] = mp3->Mp3PathParts();
      EXPECT_EQ(otherHead + otherTail, otherPath) << where;
    }
  }
  TMp3Player empty;
  EXPECT_TRUE(empty.Mp3Path().isEmpty());
  empty.SetMp3Path(QStringLiteral("/m/a.mp3"));
  EXPECT_EQ(empty.Mp3Path(), QStringLiteral("/m/a.mp3"));
  EXPECT_TRUE(empty.Mp3Name().isEmpty());
}

TEST(TrackRecord, RecordsOfOneFolderShareTheFolderText) {
  const auto Data = [](const TMp3PlayerPtr& mp3) { return mp3->Mp3Folder().constData(); };
  TMp3PathPool pool;
  const QString a1 = QStringLiteral("/m/a/1.mp3"), b1 = QStringLiteral("/m/b/1.mp3");
  const auto first = pool.MakePlayer(0, a1, QStringLiteral("1.mp3"), QString(), QString(), 0, 0);
  const auto other = pool.MakePlayer(1, b1, QStringLiteral("1.mp3"), QString(), QString(), 0, 0);
  // Back to a folder met before, not the last one.
  const auto second = pool.MakePlayer(2, QStringLiteral("/m/a/2.mp3"), QStringLiteral("2.mp3"),
                                      QString(), QString(), 0, 0);
  EXPECT_EQ(Data(first), Data(second));
  EXPECT_NE(Data(first), Data(other));
  EXPECT_EQ(pool.Folder(QStringLiteral("/m/a/x.mp3")).constData(), Data(first));
  EXPECT_EQ(pool.Folder(QStringLiteral("/m/a/x.mp3")), QStringLiteral("/m/a/"));
  EXPECT_TRUE(pool.Folder(QStringLiteral("x.mp3")).isEmpty());

  // A folder string handed to the two-part constructor is kept as it is.
  const QString folder = QStringLiteral("/scan/dir/");
  const auto scanned = std::make_shared<TMp3Player>(3, folder, u"s.mp3", QStringLiteral("s.mp3"),
                                                    QString(), QString(), 0, 0);
  EXPECT_EQ(Data(scanned), folder.constData());
  // Setting what a record already holds must not unshare it.
  scanned->SetMp3Name(QStringLiteral("s.mp3"));
  scanned->SetMp3Path(QStringLiteral("/scan/dir/s.mp3"));
  EXPECT_EQ(Data(scanned), folder.constData());
  EXPECT_EQ(scanned->Mp3Path(), QStringLiteral("/scan/dir/s.mp3"));
}

TEST(Session, TrimmingTheCacheKeepsItsRecordsInOrderAndGivesBackTheRoomLeft) {
  TMp3Session session;
  session.TrimCache();  // no cache: nothing to do
  EXPECT_EQ(session.CacheMp3(), nullptr);
  std::vector<TMp3PlayerPtr> made;
  for (int i = 0; i < 1025; ++i) {
    made.push_back(Record(i));
    session.AddToCache(made.back());
  }
  ASSERT_GT(session.CacheMp3()->capacity() - made.size(), made.size() / 8);
  session.TrimCache();
  const TMp3Cache& cache = *session.CacheMp3();
  EXPECT_LE(cache.capacity(), made.size() + made.size() / 8);
  ASSERT_EQ(cache.size(), made.size());
  for (std::size_t i = 0; i < made.size(); ++i) ASSERT_EQ(cache[i], made[i]) << i;
  // Room for the next few adds stays, so they do not copy the cache again.
  const TMp3Player* first = cache.data()->get();
  const auto* before = cache.data();
  session.AddToCache(Record(2000));
  EXPECT_EQ(session.CacheMp3()->data(), before);
  EXPECT_EQ(session.CacheMp3()->front().get(), first);
}

TEST(Session, LongPathNameReturnsThePathUnchanged) {
  for (const char* path : {"/no/such/file.mp3", "http://radio.invalid/stream", ""})
    EXPECT_EQ(TMp3Session::GetLongPathName(QLatin1String(path)), QLatin1String(path));
}

}  // namespace
