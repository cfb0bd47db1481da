// The file playback engine against the real sound server: what it opens and when, what its
// commands answer with and without a file, and that an engine superseded before its turn
// never opens its file.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QTest>

#include "playback/mp3filethread.h"
#include "tests/audio/mp3testfiles.h"

namespace {

class RecordingHost final : public TMp3FileThreadHost {
 public:
  std::vector<std::uint32_t> maxima;
  std::vector<QString> errors;
  std::vector<bool> endChecks;
  std::vector<bool> opened;

  void SetPositionMaximum(std::uint32_t ms) override { maxima.push_back(ms); }
  void ShowOpenError(const QString& text) override { errors.push_back(text); }
  void TrackEndCheck(bool stopped) override { endChecks.push_back(stopped); }
  void TrackOpened(TMp3FileThread*, bool ok) override { opened.push_back(ok); }
};

TMp3PlayerPtr Track(const QString& path) {
  return std::make_shared<TMp3Player>(0, path, QStringLiteral("t.mp3"), QStringLiteral("1"),
                                      QString(), 0, 0);
}

// Lets queued calls run, as the main thread does between events.
void Turn() {
  QCoreApplication::processEvents();
}

// An engine started on a one-second tone and given its turn to open it.
std::shared_ptr<TMp3FileThread> Opened(RecordingHost& host, int volume) {
  auto engine = std::make_shared<TMp3FileThread>(Track(mp3test::File("cbr")), volume);
  engine->Start(&host);
  Turn();
  return engine;
}

TEST(FileEngine, PlaceholderAnswersZeroAndSendsNothing) {
  TMp3FileThread engine;
  engine.MyError = 77;
  engine.dwFlags = 55;
  engine.Close();
  EXPECT_EQ(engine.MyError, 77) << "a close with no device must send nothing";
  EXPECT_EQ(engine.dwFlags, 55);
  EXPECT_EQ(engine.GetPosition(), 0u);
  EXPECT_EQ(engine.GetLength(), 0u);
  EXPECT_FALSE(engine.IsStopped());
  EXPECT_EQ(engine.FDeviceID, 0);
  EXPECT_EQ(engine.SetVolume(80), 80);
}

TEST(FileEngine, OpensAPlayableFileOneTurnLaterAndReportsItsEnd) {
  const QString path = mp3test::File("cbr");
  RecordingHost host;
  auto engine = std::make_shared<TMp3FileThread>(Track(path), 50);
  engine->Start(&host);
  EXPECT_EQ(engine->FDeviceID, 0) << "the open waits for the main thread's next turn";
  EXPECT_TRUE(host.maxima.empty());
  Turn();
  ASSERT_NE(engine->FDeviceID, 0) << "error " << engine->MyError;
  ASSERT_EQ(host.maxima.size(), 1u);
  EXPECT_NEAR(static_cast<double>(host.maxima[0]), mp3test::DecodedMs(path), 30);
  EXPECT_EQ(host.opened, std::vector<bool>{true});
  EXPECT_EQ(engine->DeviceVolume(), 500);
  EXPECT_FALSE(engine->IsStopped());
  engine->CheckTrackEnd();
  ASSERT_EQ(host.endChecks.size(), 1u);
  EXPECT_FALSE(host.endChecks[0]);

  ASSERT_TRUE(QTest::qWaitFor([&] { return engine->IsStopped(); }, 5000))
      << "a one-second file must end";
  EXPECT_GE(engine->GetPosition(), 900u);
  engine->Close();
  EXPECT_EQ(engine->FDeviceID, 0);
  EXPECT_FALSE(engine->IsStopped()) << "no device: not stopped, so nothing advances";
}

TEST(FileEngine, FileThatCannotBeOpenedGivesSilenceAndAZeroMaximum) {
  const struct {
    const char* what;
    QByteArray bytes;
  } cases[] = {{"empty", {}}, {"text", "just some words, not audio\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingHost host;
    auto engine = std::make_shared<TMp3FileThread>(
        Track(mp3test::WriteFile(QLatin1String(c.what) + QStringLiteral(".mp3"), c.bytes)), 50);
    engine->Start(&host);
    Turn();
    EXPECT_EQ(engine->FDeviceID, 0);
    EXPECT_NE(engine->MyError, 0);
    EXPECT_EQ(host.maxima, std::vector<std::uint32_t>{0});
    EXPECT_EQ(host.opened, std::vector<bool>{false}) << "the host learns the open failed";
    EXPECT_TRUE(host.errors.empty()) << "open failures are not shown";
    EXPECT_FALSE(engine->IsStopped());
    EXPECT_EQ(engine->GetPosition(), 0u);
  }
}

TEST(FileEngine, ASupersededEngineNeverOpensItsFile) {
  RecordingHost host;
  auto first = std::make_shared<TMp3FileThread>(Track(mp3test::File("cbr")), 50);
  auto second = std::make_shared<TMp3FileThread>(Track(mp3test::File("mono")), 50);
  first->Start(&host);
  second->Start(&host);
  Turn();
  EXPECT_EQ(first->FDeviceID, 0);
  EXPECT_NE(second->FDeviceID, 0);
  EXPECT_EQ(host.maxima.size(), 1u);

  // An engine dropped before its turn leaves nothing behind either.
  auto dropped = std::make_shared<TMp3FileThread>(Track(mp3test::File("cbr")), 50);
  dropped->Start(&host);
  dropped.reset();
  Turn();
  EXPECT_EQ(host.maxima.size(), 1u);
}

TEST(FileEngine, WithoutATrackTheOldFileIsClosedAndNothingPlays) {
  RecordingHost host;
  auto engine = std::make_shared<TMp3FileThread>(nullptr, 50);
  engine->Start(&host);
  Turn();
  EXPECT_EQ(engine->FDeviceID, 0);
  EXPECT_TRUE(host.maxima.empty());
}

TEST(FileEngine, VolumeIsScaledTenfold) {
  RecordingHost host;
  const auto engine = Opened(host, 0);
  ASSERT_NE(engine->FDeviceID, 0);
  for (const auto& [v, device] : {std::pair{0, 0}, {50, 500}, {100, 1000}, {37, 370}}) {
    EXPECT_EQ(engine->SetVolume(v), v);
    EXPECT_EQ(engine->DeviceVolume(), device) << v;
  }
}

TEST(FileEngine, AFailedSeekDoesNotRestartAndAGoodOnePlaysFromThere) {
  RecordingHost host;
  const auto engine = Opened(host, 50);
  ASSERT_NE(engine->FDeviceID, 0);
  engine->Pause();
  ASSERT_TRUE(engine->IsStopped()) << "paused is not playing";

  engine->SetPosition(engine->GetLength() + 1000);
  EXPECT_NE(engine->MyError, 0);
  EXPECT_TRUE(engine->IsStopped()) << "a failed seek must not restart playback";

  engine->SetPosition(600);
  EXPECT_EQ(engine->MyError, 0);
  EXPECT_FALSE(engine->IsStopped());
  EXPECT_GE(engine->GetPosition(), 600u);
  EXPECT_LT(engine->GetPosition(), 900u);
}

}  // namespace
