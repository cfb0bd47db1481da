// Network streams without a usable sound server. A test process of its own: it points
// PULSE_SERVER elsewhere before its first connection.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/bass.h"
#include "tests/audio/httptestserver.h"
#include "tests/audio/silentsocket.h"
#include "tests/audio/streamfixtures.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Only catches a call that hangs on the server; the calls are meant to return at once.
constexpr auto kHangBound = 1s;

// A stream plays (to nobody) while the server is missing or never answers, and every call
// that stops it returns at once.
TEST(BassWithoutServer, PlayAndStopNeverWaitForTheServer) {
  TSilentSocket silent;
  ASSERT_TRUE(silent.Listening());

  const std::string mp3 = streamtest::Bytes(streamtest::Tone(streamtest::Kind::kMp3, 440));
  THttpTestServer server;
  server.Route("/radio", [mp3](THttpTestServer::Connection& c) {
    if (c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n") && c.Send(mp3)) c.Hold();
  });
  const QByteArray servers[] = {"unix:/nonexistent/velmo-no-server", silent.ServerAddress()};
  for (const QByteArray& pulseServer : servers) {
    SCOPED_TRACE(pulseServer.toStdString());
    qputenv("PULSE_SERVER", pulseServer);
    ASSERT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), BASS_TRUE);
    for (auto stop :
         {+[](HSTREAM h) { return BASS_StreamFree(h); }, +[](HSTREAM) { return BASS_Stop(); }}) {
      const HSTREAM stream =
          BASS_StreamCreateURL(server.Url("/radio").c_str(), 0, 0, nullptr, nullptr);
      ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
      auto start = Clock::now();
      EXPECT_EQ(BASS_ChannelPlay(stream, BASS_FALSE), BASS_TRUE);
      EXPECT_EQ(BASS_SetVolume(0.5f), BASS_TRUE);
      EXPECT_LT(Clock::now() - start, kHangBound);
      // Long enough for the decoder to fill its ring and for a retry to come round.
      std::this_thread::sleep_for(1500ms);
      start = Clock::now();
      EXPECT_EQ(stop(stream), BASS_TRUE);
      EXPECT_LT(Clock::now() - start, kHangBound);
    }
    const auto start = Clock::now();
    EXPECT_EQ(BASS_Free(), BASS_TRUE);
    EXPECT_LT(Clock::now() - start, kHangBound);
  }
}

}  // namespace
