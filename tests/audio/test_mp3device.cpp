// The MP3 device against the real sound server: position, pause, seek, stop and the end of a
// file as the player polls them, and what really comes out (recorded from the monitor of a null
// sink the process makes for itself and plays to, so that no other sound on the server mixes
// in; soundmonitor.h).
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "audio/mp3device.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/audio/soundmonitor.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using mp3test::File;
using soundtest::Analyse;
using soundtest::Heard;
using soundtest::MonitorRecorder;

// An idle null sink renders up to two seconds ahead, so the first audio of a new stream can be
// heard that much later; the device reports position 0 until then.
constexpr auto kStartBound = 5s;
constexpr auto kEndBound = 8s;

std::int64_t Ms(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::int64_t PositionOf(const TMp3Device& device) {
  std::int64_t ms = -1;
  EXPECT_EQ(device.Position(&ms), MP3_OK);
  return ms;
}

using mp3test::WaitUntil;

class Mp3DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(soundtest::SoundProblem().isEmpty()) << soundtest::SoundProblem().toStdString();
  }

  // Plays `device` from where it is and waits until the position has moved past `beyond`.
  static void PlayUntilHeard(TMp3Device& device, std::int64_t beyond) {
    ASSERT_EQ(device.Play(), MP3_OK);
    ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) > beyond; }, kStartBound))
        << "playback did not start; position stays " << PositionOf(device);
  }
};

TEST_F(Mp3DeviceTest, PositionFollowsTheClockPauseHoldsItResumeGoesOn) {
  TMp3Device device;
  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  std::int64_t length = 0;
  std::int64_t measured = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  ASSERT_EQ(MeasureMp3Length(File("cbr"), &measured), MP3_OK);
  EXPECT_EQ(length, measured);
  EXPECT_EQ(device.Mode(), TMp3Mode::Stopped);
  EXPECT_EQ(PositionOf(device), 0);

  PlayUntilHeard(device, 50);
  EXPECT_EQ(device.Mode(), TMp3Mode::Playing);
  const auto t1 = Clock::now();
  const std::int64_t p1 = PositionOf(device);
  std::this_thread::sleep_for(400ms);
  const std::int64_t p2 = PositionOf(device);
  EXPECT_NEAR(p2 - p1, Ms(Clock::now() - t1), 50);

  ASSERT_EQ(device.Pause(), MP3_OK);
  EXPECT_EQ(device.Mode(), TMp3Mode::Paused);
  const std::int64_t paused = PositionOf(device);
  EXPECT_GE(paused, p2);
  EXPECT_LE(paused, p2 + 50);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(PositionOf(device), paused);
  EXPECT_EQ(device.Pause(), MP3_OK) << "pausing twice is harmless";

  ASSERT_EQ(device.Resume(), MP3_OK);
  EXPECT_EQ(device.Mode(), TMp3Mode::Playing);
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) > paused + 20; }, kStartBound));
  const auto t3 = Clock::now();
  const std::int64_t p3 = PositionOf(device);
  EXPECT_LE(p3, paused + 70) << "resume skipped ahead";
  std::this_thread::sleep_for(200ms);
  EXPECT_NEAR(PositionOf(device) - p3, Ms(Clock::now() - t3), 50);
  EXPECT_EQ(device.LastError(), MP3_OK);
}

// Seeking in each mode: the position is the new point at once, the mode does not change, and
// playing (or playing on) continues from there.
class Mp3DeviceSeek : public Mp3DeviceTest, public ::testing::WithParamInterface<TMp3Mode> {};

TEST_P(Mp3DeviceSeek, MovesThePositionAndPlayingGoesOnFromThere) {
  const TMp3Mode mode = GetParam();
  TMp3Device device;
  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  if (mode != TMp3Mode::Stopped) PlayUntilHeard(device, 50);
  if (mode == TMp3Mode::Paused) {
    ASSERT_EQ(device.Pause(), MP3_OK);
  }

  constexpr std::int64_t kTarget = 600;
  ASSERT_EQ(device.Seek(kTarget), MP3_OK);
  EXPECT_EQ(device.Mode(), mode);
  const std::int64_t atOnce = PositionOf(device);
  EXPECT_GE(atOnce, kTarget);
  EXPECT_LE(atOnce, kTarget + 5);
  if (mode != TMp3Mode::Playing) {
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(PositionOf(device), kTarget) << "only the position moves";
    ASSERT_EQ(device.Play(), MP3_OK);
  }
  const auto started = Clock::now();
  ASSERT_TRUE(WaitUntil([&] { return PositionOf(device) > kTarget + 100; }, kStartBound));
  const std::int64_t later = PositionOf(device);
  EXPECT_LE(later, kTarget + Ms(Clock::now() - started) + 50) << "did not go on from the seek";
  EXPECT_EQ(device.Mode(), TMp3Mode::Playing);
}

INSTANTIATE_TEST_SUITE_P(Modes, Mp3DeviceSeek,
                         ::testing::Values(TMp3Mode::Stopped, TMp3Mode::Paused, TMp3Mode::Playing),
                         [](const auto& info) {
                           switch (info.param) {
                             case TMp3Mode::Stopped:
                               return std::string("Stopped");
                             case TMp3Mode::Paused:
                               return std::string("Paused");
                             default:
                               return std::string("Playing");
                           }
                         });

TEST_F(Mp3DeviceTest, StopKeepsThePositionAndPlayGoesOnFromIt) {
  TMp3Device device;
  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  PlayUntilHeard(device, 300);
  ASSERT_EQ(device.Stop(), MP3_OK);
  EXPECT_EQ(device.Mode(), TMp3Mode::Stopped);
  const std::int64_t stopped = PositionOf(device);
  EXPECT_GE(stopped, 300);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(PositionOf(device), stopped);

  const auto started = Clock::now();
  PlayUntilHeard(device, stopped + 50);
  const std::int64_t later = PositionOf(device);
  EXPECT_LE(later, stopped + Ms(Clock::now() - started) + 50);
}

// The player finds the end of a track by polling the mode every 100 ms: it must stay playing
// until the last sample has been played, then turn stopped with the position at the end.
TEST_F(Mp3DeviceTest, ModeTurnsStoppedOnlyOnceTheEndHasBeenPlayed) {
  TMp3Device device;
  ASSERT_EQ(device.Open(File("vbr_xing")), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  PlayUntilHeard(device, 0);
  const auto heard = Clock::now();
  std::int64_t last = 0;
  const bool ended = WaitUntil(
      [&] {
        std::this_thread::sleep_for(100ms);
        if (device.Mode() != TMp3Mode::Playing) return true;
        last = PositionOf(device);
        EXPECT_LE(last, length);
        return false;
      },
      kEndBound);
  ASSERT_TRUE(ended) << "still playing at position " << last;
  EXPECT_EQ(device.Mode(), TMp3Mode::Stopped);
  EXPECT_GE(Ms(Clock::now() - heard), length - 100) << "reported the end before it was played";
  EXPECT_GE(last, length - 200);
  EXPECT_EQ(PositionOf(device), length);
  EXPECT_EQ(device.LastError(), MP3_OK);

  // Playing again from the end ends at once; from a seek it plays the rest.
  ASSERT_EQ(device.Play(), MP3_OK);
  EXPECT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; }, kEndBound));
  ASSERT_EQ(device.Seek(length - 300), MP3_OK);
  PlayUntilHeard(device, length - 300);
  EXPECT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; }, kEndBound));
  EXPECT_EQ(PositionOf(device), length);
}

// Paused while the last buffered audio plays out: resuming must still reach the end, or the
// player would wait for it forever.
TEST_F(Mp3DeviceTest, PauseInTheLastMomentsStillEnds) {
  TMp3Device device;
  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  ASSERT_EQ(device.Seek(length - 150), MP3_OK);
  PlayUntilHeard(device, length - 80);
  ASSERT_EQ(device.Pause(), MP3_OK);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(device.Mode(), TMp3Mode::Paused);
  ASSERT_EQ(device.Resume(), MP3_OK);
  EXPECT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; }, kEndBound));
  EXPECT_EQ(PositionOf(device), length);
}

TEST_F(Mp3DeviceTest, TruncatedFilePlaysWhatItHasThenStops) {
  const QByteArray whole = mp3test::ReadAll(File("cbr"));
  const QString path =
      mp3test::WriteFile(QStringLiteral("cut_in_two.mp3"), whole.left(whole.size() / 2));
  TMp3Device device;
  ASSERT_EQ(device.Open(path), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  EXPECT_NEAR(length, mp3test::DecodedMs(path), 30);
  EXPECT_LT(length, 700);
  PlayUntilHeard(device, 0);
  ASSERT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; }, kEndBound));
  EXPECT_EQ(PositionOf(device), length);
}

TEST_F(Mp3DeviceTest, CommandsOutsideTheirModeOrRangeAreRefused) {
  TMp3Device device;
  std::int64_t ms = 0;
  EXPECT_EQ(device.Play(), MP3_ERR_NOT_OPEN);
  EXPECT_EQ(device.Seek(0), MP3_ERR_NOT_OPEN);
  EXPECT_EQ(device.Length(&ms), MP3_ERR_NOT_OPEN);
  EXPECT_EQ(device.Mode(), TMp3Mode::NotReady);

  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  EXPECT_EQ(device.Pause(), MP3_ERR_MODE);
  EXPECT_EQ(device.Resume(), MP3_ERR_MODE);
  EXPECT_EQ(device.Seek(-1), MP3_ERR_RANGE);
  EXPECT_EQ(device.Seek(length + 1), MP3_ERR_RANGE);
  EXPECT_EQ(device.Position(nullptr), MP3_ERR_ARGUMENT);
  EXPECT_EQ(device.Length(nullptr), MP3_ERR_ARGUMENT);
  EXPECT_EQ(PositionOf(device), 0) << "a refused seek moved the position";

  ASSERT_EQ(device.SetVolume(321), MP3_OK);
  EXPECT_EQ(device.SetVolume(-1), MP3_ERR_RANGE);
  EXPECT_EQ(device.SetVolume(1001), MP3_ERR_RANGE);
  EXPECT_EQ(device.Volume(), 321);

  ASSERT_EQ(device.Close(), MP3_OK);
  EXPECT_EQ(device.Mode(), TMp3Mode::NotReady);
  EXPECT_EQ(device.Play(), MP3_ERR_NOT_OPEN);
  EXPECT_EQ(device.Volume(), 321) << "the volume outlives the file";
}

// Commands in quick succession while the decoding and event threads work: none may block, each
// answers success or "not in this mode", the position stays inside the file, and the device
// still plays to the end afterwards.
TEST_F(Mp3DeviceTest, CommandStormNeitherBlocksNorBreaksIt) {
  TMp3Device device;
  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  std::int64_t length = 0;
  ASSERT_EQ(device.Length(&length), MP3_OK);
  std::mt19937 random(7);
  std::vector<Clock::duration> took;
  for (int i = 0; i < 300; ++i) {
    const auto start = Clock::now();
    int result = MP3_OK;
    switch (random() % 6) {
      case 0:
        result = device.Play();
        break;
      case 1:
        result = device.Pause();
        break;
      case 2:
        result = device.Resume();
        break;
      case 3:
        result = device.Stop();
        break;
      case 4:
        result = device.Seek(static_cast<std::int64_t>(random() % (length + 1)));
        break;
      default:
        result = device.SetVolume(static_cast<int>(random() % 1001));
        break;
    }
    const std::int64_t position = PositionOf(device);
    device.Mode();
    took.push_back(Clock::now() - start);
    ASSERT_TRUE(result == MP3_OK || result == MP3_ERR_MODE) << "step " << i << ": " << result;
    ASSERT_GE(position, 0);
    ASSERT_LE(position, length);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 6));
  }
  // A busy machine may hold the thread up now and then; nothing may wait as a rule.
  std::sort(took.begin(), took.end());
  EXPECT_LT(Ms(took[took.size() / 2]), 2);
  EXPECT_LT(Ms(took.back()), 100);
  EXPECT_EQ(device.LastError(), MP3_OK);

  ASSERT_EQ(device.Stop(), MP3_OK);
  ASSERT_EQ(device.Seek(length - 200), MP3_OK);
  PlayUntilHeard(device, length - 200);
  EXPECT_TRUE(WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; }, kEndBound));
  EXPECT_EQ(PositionOf(device), length);
}

// Replacing and closing a playing file returns at once and leaves the new file at its start.
TEST_F(Mp3DeviceTest, OpenAndCloseWhilePlayingReturnAtOnce) {
  TMp3Device device;
  ASSERT_EQ(device.Open(File("cbr")), MP3_OK);
  PlayUntilHeard(device, 100);
  auto start = Clock::now();
  ASSERT_EQ(device.Open(File("mono")), MP3_OK);
  EXPECT_LT(Ms(Clock::now() - start), 100);
  EXPECT_EQ(device.Mode(), TMp3Mode::Stopped);
  EXPECT_EQ(PositionOf(device), 0);
  PlayUntilHeard(device, 100);
  start = Clock::now();
  ASSERT_EQ(device.Close(), MP3_OK);
  EXPECT_LT(Ms(Clock::now() - start), 100);
  EXPECT_EQ(device.Mode(), TMp3Mode::NotReady);
}

class Mp3DeviceSound : public Mp3DeviceTest {
 protected:
  // Plays the whole file (from `startAt` ms) at `volume` while recording, pausing for `pauseFor`
  // once the position passes 300 ms.
  Heard PlayAndRecord(const QString& path, int volume, std::chrono::milliseconds pauseFor = 0ms,
                      std::int64_t startAt = 0) {
    MonitorRecorder recorder;
    const QString problem = recorder.Start();
    EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
    if (!problem.isEmpty()) return {};
    TMp3Device device;
    EXPECT_EQ(device.SetVolume(volume), MP3_OK);
    EXPECT_EQ(device.Open(path), MP3_OK);
    EXPECT_EQ(device.Seek(startAt), MP3_OK);
    if (pauseFor > 0ms) {
      PlayUntilHeard(device, 300);
      EXPECT_EQ(device.Pause(), MP3_OK);
      std::this_thread::sleep_for(pauseFor);
      EXPECT_EQ(device.Resume(), MP3_OK);
    } else {
      EXPECT_EQ(device.Play(), MP3_OK);
    }
    EXPECT_TRUE(
        WaitUntil([&] { return device.Mode() == TMp3Mode::Stopped; }, kStartBound + kEndBound));
    std::this_thread::sleep_for(150ms);  // the monitor lags the sink a little
    return Analyse(recorder.Stop());
  }
};

class Mp3DeviceTone : public Mp3DeviceSound, public ::testing::WithParamInterface<const char*> {};

// Every kind of file comes out as its one second of 440 Hz, whole and once.
TEST_P(Mp3DeviceTone, ComesOutWholeAt440Hz) {
  const Heard heard = PlayAndRecord(File(GetParam()), TMp3Device::kMaxVolume);
  EXPECT_NEAR(heard.hz, 440, 5);
  EXPECT_NEAR(heard.soundWindows, 100, 6) << "10 ms windows with sound";
  EXPECT_EQ(heard.longestGapInside, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, Mp3DeviceTone,
                         ::testing::Values("cbr", "mono", "mpeg2", "vbr_xing"));

TEST_F(Mp3DeviceSound, VolumeScalesTheAmplitude) {
  const Heard full = PlayAndRecord(File("cbr"), 1000);
  const Heard half = PlayAndRecord(File("cbr"), 500);
  const Heard none = PlayAndRecord(File("cbr"), 0);
  ASSERT_GT(full.medianRms, 0.05f) << "the test tone did not come out";
  EXPECT_NEAR(full.soundWindows, 100, 6);
  EXPECT_NEAR(half.soundWindows, 100, 6);
  const float ratio = half.medianRms / full.medianRms;
  EXPECT_GT(ratio, 0.4f);
  EXPECT_LT(ratio, 0.6f);
  EXPECT_LT(none.peakRms, 0.001f) << "volume 0 must be silent";
}

// Playing starts where a seek put it: of the two tones only the second, and only its length.
TEST_F(Mp3DeviceSound, PlaysFromWhereASeekPutIt) {
  const Heard heard = PlayAndRecord(File("two_tones"), TMp3Device::kMaxVolume, 0ms, 700);
  EXPECT_NEAR(heard.hz, 880, 8);
  EXPECT_NEAR(heard.soundWindows, 30, 6);
}

// Nothing comes out while paused, and nothing is lost or played twice around the pause.
TEST_F(Mp3DeviceSound, PauseIsSilentAndLosesNothing) {
  const Heard heard = PlayAndRecord(File("cbr"), TMp3Device::kMaxVolume, 700ms);
  EXPECT_GE(heard.longestGapInside, 40) << "10 ms windows of silence during the pause";
  EXPECT_LT(heard.loudestInGap, 0.001f);
  EXPECT_NEAR(heard.soundWindows, 100, 6);
  EXPECT_NEAR(heard.hz, 440, 5);
}

}  // namespace
