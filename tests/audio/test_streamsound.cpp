// What the library's network streams sound like: tones served by an HTTP server of the test's
// own as a station would send them, played with the player's calls and recorded from the
// monitor of the test process's null sink (soundmonitor.h).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/bass.h"
#include "tests/audio/httptestserver.h"
#include "tests/audio/soundmonitor.h"
#include "tests/audio/streamfixtures.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using soundtest::Analyse;
using soundtest::Heard;
using soundtest::MonitorRecorder;
using streamtest::Bytes;
using streamtest::Garbage;
using streamtest::Kind;
using streamtest::Tone;

// Only catches a call that hangs; the calls are meant to return at once.
constexpr auto kHangBound = 2s;
// Heard sound is far above this; silence (nothing played) is digital zero.
constexpr float kSilent = 0.001f;

constexpr std::size_t kMetaInterval = 8192;

// The station's answer: audio with, for ICY, an empty metadata block every kMetaInterval bytes.
class StationBody {
 public:
  explicit StationBody(bool icy) : icy_(icy) {}

  std::string Head(Kind kind, bool withLength = false, std::size_t length = 0) const {
    std::string head = icy_ ? "ICY 200 OK\r\nicy-metaint: " + std::to_string(kMetaInterval) + "\r\n"
                            : "HTTP/1.1 200 OK\r\n";
    head += "Content-Type: " + std::string(streamtest::ContentTypeOf(kind)) + "\r\n";
    if (withLength) head += "Content-Length: " + std::to_string(length) + "\r\n";
    return head + "\r\n";
  }

  std::string Wrap(const std::string& audio) {
    if (!icy_) return audio;
    std::string out;
    for (char c : audio) {
      out += c;
      if (++sinceMeta_ == kMetaInterval) {
        out += '\0';
        sinceMeta_ = 0;
      }
    }
    return out;
  }

 private:
  bool icy_;
  std::size_t sinceMeta_ = 0;
};

class BassSound : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(soundtest::SoundProblem().isEmpty()) << soundtest::SoundProblem().toStdString();
    ASSERT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), BASS_TRUE);
    ASSERT_EQ(BASS_SetVolume(1.0f), BASS_TRUE);
  }
  void TearDown() override { BASS_Free(); }

  // A station that sends `audio` `repeat` times (an MP3 with ICY metadata), then holds.
  void Station(const std::string& path, Kind kind, const std::string& audio, int repeat = 5) {
    server_.Route(path, [kind, audio, repeat](THttpTestServer::Connection& c) {
      StationBody body(kind == Kind::kMp3);
      if (!c.Send(body.Head(kind))) return;
      for (int i = 0; i < repeat; ++i) {
        if (!c.Send(body.Wrap(audio))) return;
      }
      c.Hold();
    });
  }

  HSTREAM CreateAndPlay(const std::string& path) {
    const HSTREAM stream =
        BASS_StreamCreateURL(server_.Url(path).c_str(), 0, BASS_STREAM_STATUS, nullptr, nullptr);
    EXPECT_NE(stream, 0u) << "error " << BASS_ErrorGetCode();
    if (stream) {
      EXPECT_EQ(BASS_ChannelPlay(stream, BASS_FALSE), BASS_TRUE);
    }
    return stream;
  }

  // Starts recording the monitor for the Heard... calls.
  void Listen() {
    const QString problem = recorder_.Start();
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
  }
  // Where the recording is now, in samples.
  std::size_t Now() { return recorder_.SampleCount(); }
  // What was heard from sample `from` (of the recording) for `length` (all that came after when
  // zero), waiting for the recording to get there.
  Heard HeardFrom(std::size_t from, std::chrono::milliseconds length = 0ms) {
    const std::size_t count =
        static_cast<std::size_t>(length.count()) * soundtest::kRecordRate / 1000;
    if (count > 0) mp3test::WaitUntil([&] { return Now() >= from + count; }, length + 5s);
    std::vector<float> samples = recorder_.Samples();
    const std::size_t end = count > 0 ? std::min(samples.size(), from + count) : samples.size();
    if (from >= end) return {};
    return Analyse({samples.begin() + static_cast<std::ptrdiff_t>(from),
                    samples.begin() + static_cast<std::ptrdiff_t>(end)});
  }
  // What was heard during the last `length`, after waiting `wait`.
  Heard HeardAfter(std::chrono::milliseconds wait, std::chrono::milliseconds length) {
    std::this_thread::sleep_for(wait);
    const std::size_t count =
        static_cast<std::size_t>(length.count()) * soundtest::kRecordRate / 1000;
    const std::size_t now = Now();
    return HeardFrom(now > count ? now - count : 0, length);
  }

  MonitorRecorder recorder_;
  THttpTestServer server_;
};

using StopCall = BOOL (*)(HSTREAM);
BOOL StopAll(HSTREAM) {
  return BASS_Stop();
}
BOOL FreeAll(HSTREAM) {
  return BASS_Free();
}

class BassSoundFormats : public BassSound,
                         public ::testing::WithParamInterface<std::tuple<Kind, int>> {};

// Each format is heard at its pitch, and each way of stopping silences it at once.
TEST_P(BassSoundFormats, PlaysAtItsPitchAndStopsAtOnce) {
  const auto [kind, stopIndex] = GetParam();
  const StopCall stops[] = {StopAll, BASS_StreamFree, FreeAll};
  Station("/radio", kind, Bytes(Tone(kind, 440)));
  Listen();
  const HSTREAM stream = CreateAndPlay("/radio");
  ASSERT_NE(stream, 0u);
  const Heard playing = HeardAfter(2500ms, 1500ms);
  EXPECT_GT(playing.medianRms, 0.05f) << "the tone did not come out";
  EXPECT_EQ(playing.longestGapInside, 0);
  EXPECT_GE(playing.soundWindows, 145) << "10 ms windows with sound, of 150";
  EXPECT_NEAR(playing.hz, 440, 5);

  const auto before = Clock::now();
  const std::size_t stopped = Now();
  EXPECT_EQ(stops[stopIndex](stream), BASS_TRUE);
  EXPECT_LT(Clock::now() - before, kHangBound);
  // From 300 ms on: what the sink had taken plays out, and the monitor lags a little.
  const Heard after = HeardFrom(stopped + soundtest::kRecordRate * 3 / 10, 600ms);
  EXPECT_LT(after.peakRms, kSilent);
}

std::string FormatsName(const ::testing::TestParamInfo<std::tuple<Kind, int>>& info) {
  static const char* const kStops[] = {"Stop", "StreamFree", "Free"};
  return std::string(streamtest::NameOf(std::get<0>(info.param))) + "_" +
         kStops[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Formats, BassSoundFormats,
                         ::testing::Combine(streamtest::PlayedKinds(), ::testing::Values(0, 1, 2)),
                         FormatsName);

// The volume reaches what is playing and what starts later.
TEST_F(BassSound, VolumeScalesThePlayingStreamAndLaterOnes) {
  Station("/radio", Kind::kMp3, Bytes(Tone(Kind::kMp3, 440)));
  Listen();
  HSTREAM stream = CreateAndPlay("/radio");
  ASSERT_NE(stream, 0u);
  const Heard full = HeardAfter(2000ms, 1000ms);
  ASSERT_GT(full.medianRms, 0.05f) << "the tone did not come out";

  ASSERT_EQ(BASS_SetVolume(0.2f), BASS_TRUE);
  const Heard lowered = HeardAfter(1500ms, 1000ms);
  EXPECT_NEAR(lowered.medianRms / full.medianRms, 0.2f, 0.03f);

  ASSERT_EQ(BASS_StreamFree(stream), BASS_TRUE);
  stream = CreateAndPlay("/radio");
  ASSERT_NE(stream, 0u);
  const Heard later = HeardAfter(2000ms, 1000ms);
  EXPECT_NEAR(later.medianRms / full.medianRms, 0.2f, 0.03f);
}

// Answers that are no audio the library plays fail with the format error and make no sound.
TEST_F(BassSound, UnknownFormatsFailWithoutSound) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Garbage(20000);
  struct Case {
    const char* path;
    const char* contentType;
    std::string body;
  };
  const Case cases[] = {
      {"/page", "text/html", "<!DOCTYPE html><html><body>" + std::string(20000, 'x') + "</body>"},
      {"/logo.png", "image/png", png},
      {"/opus", "audio/ogg", Bytes(Tone(Kind::kOpus, 440))},
      {"/flac", "audio/flac", Bytes(Tone(Kind::kFlac, 440))},
  };
  for (const Case& c : cases) {
    server_.Route(c.path, [c](THttpTestServer::Connection& connection) {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Type: " + std::string(c.contentType) +
                      "\r\n\r\n" + c.body);
      connection.Hold(5s);
    });
  }
  Listen();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const HSTREAM stream =
        BASS_StreamCreateURL(server_.Url(c.path).c_str(), 0, 0, nullptr, nullptr);
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(HeardFrom(0).peakRms, kSilent);
}

class BassSoundDamage : public BassSound, public ::testing::WithParamInterface<Kind> {};

// Random bytes where frames should be, after good ones: the stream plays on with what follows.
TEST_P(BassSoundDamage, PlaysOnAfterGarbage) {
  const Kind kind = GetParam();
  const std::string first = Bytes(Tone(kind, 440, 2));
  const std::string second = Bytes(Tone(kind, 880));
  ASSERT_FALSE(first.empty() || second.empty());
  server_.Route("/radio", [kind, first, second](THttpTestServer::Connection& c) {
    StationBody body(kind == Kind::kMp3);
    if (c.Send(body.Head(kind)) && c.Send(body.Wrap(first + Garbage(30000, 9) + second))) c.Hold();
  });
  Listen();
  ASSERT_NE(CreateAndPlay("/radio"), 0u);
  const Heard heard = HeardAfter(4500ms, 1000ms);
  EXPECT_GT(heard.medianRms, 0.05f);
  EXPECT_NEAR(heard.hz, 880, 5);
}

INSTANTIATE_TEST_SUITE_P(Formats, BassSoundDamage, streamtest::PlayedKinds(), streamtest::KindName);

// The station sends two seconds, goes quiet for longer than that and drops the connection; the
// output runs dry meanwhile, the download reconnects, and what the station sends then is heard.
TEST_F(BassSound, PlaysOnAfterTheConnectionDrops) {
  const std::string before = Bytes(Tone(Kind::kMp3, 440, 2));
  const std::string after = Bytes(Tone(Kind::kMp3, 880));
  auto connections = std::make_shared<std::atomic<int>>(0);
  server_.Route("/radio", [=](THttpTestServer::Connection& c) {
    StationBody body(true);
    if ((*connections)++ == 0) {
      c.Send(body.Head(Kind::kMp3) + body.Wrap(before));
      c.Hold(2500ms);
      return;  // closed without a length: a drop
    }
    if (c.Send(body.Head(Kind::kMp3)) && c.Send(body.Wrap(after))) c.Hold();
  });
  Listen();
  const std::size_t played = Now();
  ASSERT_NE(CreateAndPlay("/radio"), 0u);
  // Past the start, well before the two seconds run out.
  const Heard start = HeardFrom(played + soundtest::kRecordRate * 3 / 10, 1000ms);
  const Heard end = HeardAfter(6000ms, 1000ms);
  EXPECT_EQ(connections->load(), 2);
  EXPECT_GT(HeardFrom(played).longestGapInside, 20) << "the output should have run dry";
  EXPECT_NEAR(start.hz, 440, 5);
  EXPECT_NEAR(end.hz, 880, 5) << "nothing after the reconnect";
  EXPECT_GT(end.medianRms, 0.05f);
}

// A download that ends for good ends the sound quietly, all of it played.
TEST_F(BassSound, EndsQuietlyWithTheDownload) {
  const std::string audio = Bytes(Tone(Kind::kMp3, 440, 2));
  server_.Route("/radio", [audio](THttpTestServer::Connection& c) {
    StationBody body(false);
    c.Send(body.Head(Kind::kMp3, true, audio.size()) + audio);
  });
  Listen();
  const HSTREAM stream = CreateAndPlay("/radio");
  ASSERT_NE(stream, 0u);
  std::this_thread::sleep_for(3500ms);
  const std::vector<float> samples = recorder_.Stop();
  const Heard heard = Analyse(samples);
  EXPECT_NEAR(heard.soundWindows, 200, 8) << "10 ms windows of the two seconds";
  EXPECT_EQ(heard.longestGapInside, 0);
  const std::size_t last = soundtest::kRecordRate / 2;
  ASSERT_GT(samples.size(), last);
  EXPECT_LT(Analyse({samples.end() - last, samples.end()}).peakRms, kSilent);
  EXPECT_EQ(BASS_StreamFree(stream), BASS_TRUE);
}

}  // namespace
