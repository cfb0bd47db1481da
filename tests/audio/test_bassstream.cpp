// The stream calls of the audio library against HTTP servers of the test's own on 127.0.0.1,
// driven in the order and with the arguments the player uses.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/bass.h"
#include "tests/audio/httptestserver.h"
#include "tests/audio/streamfixtures.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using streamtest::Bytes;
using streamtest::Kind;
using streamtest::Tone;

// What the library's callbacks saw, from its threads.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> status;
  std::vector<std::string> titles;  // BASS_ChannelGetTags as read inside the sync
  std::vector<DWORD> channels;
};

void DownloadProc(const void* buffer, DWORD length, void* user) {
  if (!buffer || length != 0) return;
  auto* s = static_cast<Seen*>(user);
  std::lock_guard lock(s->mutex);
  s->status.emplace_back(static_cast<const char*>(buffer));
}

void TitleSync(HSYNC, DWORD channel, DWORD, void* user) {
  auto* s = static_cast<Seen*>(user);
  const char* tags = BASS_ChannelGetTags(channel, BASS_TAG_META);
  std::lock_guard lock(s->mutex);
  s->titles.emplace_back(tags ? tags : "(null)");
  s->channels.push_back(channel);
  s->changed.notify_all();
}

std::string MetaBlock(std::string text) {
  const std::size_t n = (text.size() + 15) / 16;
  text.resize(n * 16, '\0');
  return std::string(1, static_cast<char>(n)) + text;
}

class BassStream : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), BASS_TRUE); }
  void TearDown() override {
    BASS_Free();
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 0);
  }

  HSTREAM Create(const std::string& url) {
    return BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_STATUS, DownloadProc, &seen_);
  }

  THttpTestServer server_;
  Seen seen_;
};

TEST_F(BassStream, TitlesReachTheTagsAndTheSync) {
  const std::string mp3 = Bytes(Tone(Kind::kMp3, 440));
  ASSERT_GT(mp3.size(), 3000u);
  std::atomic<bool> sendSecond{false};
  server_.Route("/radio", [&](THttpTestServer::Connection& c) {
    c.Send("ICY 200 OK\r\nicy-metaint: 1000\r\n\r\n" + mp3.substr(0, 1000) +
           MetaBlock("StreamTitle='First';StreamUrl='';") + mp3.substr(1000, 1000));
    for (auto deadline = Clock::now() + 5s; !sendSecond && Clock::now() < deadline;)
      std::this_thread::sleep_for(10ms);
    c.Send(MetaBlock("StreamTitle='Second';") + mp3.substr(2000, 1000));
    c.Hold(5s);
  });
  const HSTREAM stream = Create(server_.Url("/radio"));
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);

  // The first block may still be on its way when the open returns.
  const char* tags = nullptr;
  for (auto deadline = Clock::now() + 3s; !tags && Clock::now() < deadline;
       std::this_thread::sleep_for(10ms))
    tags = BASS_ChannelGetTags(stream, BASS_TAG_META);
  ASSERT_NE(tags, nullptr);
  EXPECT_STREQ(tags, "StreamTitle='First';StreamUrl='';");

  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, TitleSync, &seen_), 0u);
  sendSecond = true;
  {
    std::unique_lock lock(seen_.mutex);
    seen_.changed.wait_for(lock, 3s, [this] { return !seen_.titles.empty(); });
    EXPECT_EQ(seen_.titles, std::vector<std::string>{"StreamTitle='Second';"});
    EXPECT_EQ(seen_.channels, std::vector<DWORD>{stream});
    EXPECT_EQ(seen_.status, std::vector<std::string>{"ICY 200 OK"});
  }
  EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END), 64u * 1024);
  QWORD downloaded = 0;
  for (auto deadline = Clock::now() + 3s; downloaded < 3000 && Clock::now() < deadline;
       std::this_thread::sleep_for(10ms))
    downloaded = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
  EXPECT_EQ(downloaded, 3000u) << "the metadata blocks must not count as audio";
  EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT), 0u)
      << "recognising the format must leave the bytes in the buffer";
  EXPECT_EQ(BASS_StreamFree(stream), BASS_TRUE);
  EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_META), nullptr);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(BassStream, OpensFollowPlayListsOnlyWhenConfigured) {
  const std::string audio = Bytes(Tone(Kind::kMp3, 440)).substr(0, 5000);
  server_.Route("/audio", [&](THttpTestServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + audio);
  });
  const std::string pls = "[playlist]\nFile1=" + server_.Url("/audio") + "\n";
  server_.Route("/list.pls", [&](THttpTestServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/x-scpls\r\n\r\n" + pls);
  });
  struct Case {
    DWORD config;
    const char* path;
    QWORD downloaded;
    int error;
  };
  std::string refused;
  {
    THttpTestServer closed;
    refused = closed.Url("/");
  }
  const Case cases[] = {
      {1, "/list.pls", audio.size(), BASS_OK},
      {2, "/list.pls", audio.size(), BASS_OK},
      {0, "/list.pls", 0, BASS_ERROR_FORMAT},  // not asked to follow: the list is no audio
      {1, "/missing", 0, BASS_ERROR_HTTP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_EQ(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, c.config), BASS_TRUE);
    const HSTREAM stream = Create(server_.Url(c.path));
    EXPECT_EQ(BASS_ErrorGetCode(), c.error);
    if (c.error != BASS_OK) {
      EXPECT_EQ(stream, 0u);
      continue;
    }
    ASSERT_NE(stream, 0u);
    QWORD downloaded = 0;
    for (auto deadline = Clock::now() + 3s; downloaded < c.downloaded && Clock::now() < deadline;
         std::this_thread::sleep_for(10ms))
      downloaded = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
    EXPECT_EQ(downloaded, c.downloaded);
    BASS_StreamFree(stream);
  }
  EXPECT_EQ(Create(refused), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_CONNECT);
}

// The player waits for the buffer with this loop: leave when END fails or more than
// 75 % is filled. A short stream that ends below that must still let it go.
TEST_F(BassStream, TheBufferingWaitEndsWhenTheDownloadDoes) {
  const std::string body = Bytes(Tone(Kind::kMp3, 440)).substr(0, 10 * 1000);
  server_.Route("/short", [&](THttpTestServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + body);
  });
  const HSTREAM stream = Create(server_.Url("/short"));
  ASSERT_NE(stream, 0u);
  bool left = false;
  for (auto deadline = Clock::now() + 5s; Clock::now() < deadline;) {
    const DWORD end = static_cast<DWORD>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END));
    if (end == 0xFFFFFFFFu) {
      left = true;
      break;
    }
    const QWORD download = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
    const QWORD current = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT);
    if ((download - current) * 100 / end > 75) break;
  }
  EXPECT_TRUE(left);
  EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD), body.size());
}

// Opening waits for the first byte and then for enough bytes to know the format; a free from
// another thread ends either wait.
TEST_F(BassStream, FreeOnAnotherThreadAbandonsAnOpen) {
  server_.Route("/silent", [](THttpTestServer::Connection& c) { c.Hold(); });
  server_.Route("/trickle", [](THttpTestServer::Connection& c) {
    c.Send("ICY 200 OK\r\n\r\n" + std::string(100, '\xff'));
    c.Hold();
  });
  for (const char* path : {"/silent", "/trickle"}) {
    SCOPED_TRACE(path);
    HSTREAM stream = 1;
    int error = BASS_OK;
    Clock::time_point returned;
    std::thread opener([&] {
      stream = Create(server_.Url(path));
      error = BASS_ErrorGetCode();
      returned = Clock::now();
    });
    std::this_thread::sleep_for(300ms);
    const auto freed = Clock::now();
    EXPECT_EQ(BASS_Free(), BASS_TRUE);
    EXPECT_LT(Clock::now() - freed, 200ms);
    opener.join();
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(error, BASS_ERROR_HANDLE);
    EXPECT_LT(returned - freed, 200ms);
    ASSERT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), BASS_TRUE);
  }
}

}  // namespace
