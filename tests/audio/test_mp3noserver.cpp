// The MP3 device without a usable sound server. A test process of its own: it points
// PULSE_SERVER elsewhere before its first connection, which a process that has already
// connected would not notice.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/mp3device.h"
#include "tests/audio/mp3testfiles.h"
#include "tests/audio/silentsocket.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::int64_t Ms(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

TEST(Mp3DeviceWithoutServer, MissingServerFailsOpenAtOnce) {
  qputenv("PULSE_SERVER", "unix:/nonexistent/velmo-no-server");
  const QString path = mp3test::File("cbr");
  TMp3Device device;
  const auto start = Clock::now();
  EXPECT_EQ(device.Open(path), MP3_ERR_NO_SERVER);
  EXPECT_LT(Ms(Clock::now() - start), 500);
  EXPECT_EQ(device.Mode(), TMp3Mode::NotReady);
  EXPECT_EQ(device.Play(), MP3_ERR_NOT_OPEN);

  // Measuring needs no server.
  std::int64_t ms = 0;
  EXPECT_EQ(MeasureMp3Length(path, &ms), MP3_OK);
  EXPECT_NEAR(ms, 1000, 30);
}

// A socket that accepts connections but never answers: no call may wait for it, and the
// device gives up on it in bounded time and says so.
TEST(Mp3DeviceWithoutServer, SilentServerIsGivenUpWithoutBlocking) {
  TSilentSocket silent;
  ASSERT_TRUE(silent.Listening());
  qputenv("PULSE_SERVER", silent.ServerAddress());

  const QString path = mp3test::File("cbr");
  TMp3Device device;
  auto start = Clock::now();
  ASSERT_EQ(device.Open(path), MP3_OK) << "the server is not known to be gone";
  ASSERT_EQ(device.Play(), MP3_OK);
  EXPECT_LT(Ms(Clock::now() - start), 100);

  start = Clock::now();
  while (device.LastError() == MP3_OK && Clock::now() - start < 10s) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(device.LastError(), MP3_ERR_NO_SERVER);
  EXPECT_EQ(device.Mode(), TMp3Mode::Stopped);
  EXPECT_EQ(device.Play(), MP3_ERR_NO_SERVER);
  std::int64_t ms = -1;
  EXPECT_EQ(device.Position(&ms), MP3_OK);
  EXPECT_EQ(ms, 0);
  start = Clock::now();
  EXPECT_EQ(device.Close(), MP3_OK);
  EXPECT_LT(Ms(Clock::now() - start), 100);
}

}  // namespace
