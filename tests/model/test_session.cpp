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

  session.AddToCash(nullptr);
  EXPECT_EQ(session.CashMp3(), nullptr) << "an empty reference must not create the cache";

  auto first = Record(7), second = Record(7), playing = Record(3, 1), alsoPlaying = Record(4, 1);
  for (const auto& r : {first, second, playing, alsoPlaying}) session.AddToCash(r);
  EXPECT_EQ(session.GetMp3ByID(7), first);
  EXPECT_EQ(session.GetMp3ByID(5), nullptr);
  EXPECT_EQ(session.GetMp3Status(), playing);
}

TEST(Session, RefreshDropsTheCacheButNeverTheRecords) {
  TMp3Session session;
  auto playing = Record(1, 1);
  session.AddToCash(playing);
  std::weak_ptr<TMp3Player> watch = playing;
  session.SetRefresh();
  EXPECT_EQ(session.CashMp3(), nullptr);
  EXPECT_EQ(session.GetMp3Status(), nullptr) << "the record still exists, the cache does not";
  EXPECT_FALSE(watch.expired());
  session.AddToCash(Record(2));
  ASSERT_NE(session.CashMp3(), nullptr);
  EXPECT_EQ(session.CacheCount(), 1) << "a new cache starts empty";
  session.Refresh();
  EXPECT_EQ(session.CashMp3(), nullptr);
}

TEST(Session, SettingsObjectIsMadeOnceAndResetKeepsColourVolumeAndEvents) {
  TMp3Session session;
  TMp3Settings& settings = session.Mp3Seetings();
  EXPECT_EQ(&settings, &session.Mp3Seetings());
  settings.SetChekSysTray(1);
  settings.SetCheckRepeat(true);
  settings.SetDefaultPath(QStringLiteral("/music"));
  settings.SetLangaugeType(1);
  settings.SetColor(5);
  settings.SetVolume(6);
  settings.SetOnLoadProgress([](TMp3Session*) {});
  settings.Refresh();
  EXPECT_EQ(settings.ChekSysTray(), 0);
  EXPECT_FALSE(settings.CheckRepeat());
  EXPECT_TRUE(settings.DefaultPath().isEmpty());
  EXPECT_EQ(settings.LangaugeType(), 0);
  EXPECT_EQ(settings.Color(), 5);
  EXPECT_EQ(settings.Volume(), 6);
  EXPECT_TRUE(static_cast<bool>(settings.OnLoadProgress()));
}

TEST(Session, LongPathNameReturnsThePathUnchanged) {
  for (const char* path : {"/no/such/file.mp3", "http://radio.invalid/stream", ""})
    EXPECT_EQ(TMp3Session::GetLongPathName(QLatin1String(path)), QLatin1String(path));
}

}  // namespace
