#include "audio/bass.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr DWORD kFreq = 44100;
constexpr QWORD kPositionFailed = 0xFFFFFFFFu;  // what the player tests the low 32 bits against

void downloadProc(const void*, DWORD, void*) {}
void syncProc(HSYNC, DWORD, DWORD, void*) {}

class BassTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Freed, with the setting back at its default, so tests do not depend on their order.
    BASS_Free();
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 0);
  }

  int window_ = 0;  // stands in for the main window handle; only its address is passed
};

// The player shows the number to the user, so each failure must have its own.
TEST(BassErrors, NumbersAreDistinct) {
  const int codes[] = {BASS_OK,
                       BASS_ERROR_NOT_INIT,
                       BASS_ERROR_ALREADY,
                       BASS_ERROR_ILLPARAM,
                       BASS_ERROR_DEVICE,
                       BASS_ERROR_HANDLE,
                       BASS_ERROR_NOT_AVAILABLE,
                       BASS_ERROR_ADDRESS,
                       BASS_ERROR_CONNECT,
                       BASS_ERROR_HTTP,
                       BASS_ERROR_TIMEOUT,
                       BASS_ERROR_FORMAT,
                       BASS_ERROR_REDIRECT,
                       BASS_ERROR_UNKNOWN};
  const std::set<int> distinct(std::begin(codes), std::end(codes));
  EXPECT_EQ(distinct.size(), std::size(codes));
}

TEST_F(BassTest, VersionHighWordIsTheInterfaceRevision) {
  EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
}

// Start-up, several play requests (each re-initialises), then exit, exactly as the player
// calls them; every step must succeed and report BASS_OK.
TEST_F(BassTest, StartUpAndPlayRequestSequence) {
  auto initSequence = [&](const std::string& when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
    ASSERT_NE(BASS_Init(-1, kFreq, 0, &window_, nullptr), BASS_FALSE);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1), BASS_TRUE);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST), 1u);
    ASSERT_EQ(BASS_SetVolume(0.42f), BASS_TRUE);
    EXPECT_EQ(BASS_GetVolume(), 0.42f);
  };

  initSequence("start-up");
  for (int request = 1; request <= 3; ++request) {
    ASSERT_EQ(BASS_Free(), BASS_TRUE);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    initSequence("play request " + std::to_string(request));
  }
  EXPECT_EQ(BASS_Stop(), BASS_TRUE);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);

  ASSERT_EQ(BASS_Free(), BASS_TRUE);  // exit
  EXPECT_EQ(BASS_Free(), BASS_FALSE);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOT_INIT);
}

// Each case runs right after a successful call, so the expected code must come from the call
// under test, and `failed` checks the documented failure value of its return type.
struct ErrorCase {
  const char* name;
  bool initialised;
  std::function<bool()> failed;
  int code;
};

TEST_F(BassTest, ErrorCodes) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<ErrorCase> cases = {
      // Calls that need BASS_Init first.
      {"Free", false, [] { return BASS_Free() == BASS_FALSE; }, BASS_ERROR_NOT_INIT},
      {"Stop", false, [] { return BASS_Stop() == BASS_FALSE; }, BASS_ERROR_NOT_INIT},
      {"SetVolume", false, [] { return BASS_SetVolume(0.5f) == BASS_FALSE; }, BASS_ERROR_NOT_INIT},
      {"GetVolume", false, [] { return BASS_GetVolume() == -1.0f; }, BASS_ERROR_NOT_INIT},
      {"StreamFree", false, [] { return BASS_StreamFree(0) == BASS_FALSE; }, BASS_ERROR_NOT_INIT},
      {"StreamCreateURL", false,
       [] {
         return BASS_StreamCreateURL("http://radio.invalid/stream", 0, BASS_STREAM_STATUS,
                                     downloadProc, nullptr) == 0;
       },
       BASS_ERROR_NOT_INIT},
      {"StreamGetFilePosition", false,
       [] { return BASS_StreamGetFilePosition(1, BASS_FILEPOS_END) == QWORD(-1); },
       BASS_ERROR_NOT_INIT},
      {"ChannelGetTags", false, [] { return BASS_ChannelGetTags(1, BASS_TAG_META) == nullptr; },
       BASS_ERROR_NOT_INIT},
      {"ChannelSetSync", false,
       [] { return BASS_ChannelSetSync(1, BASS_SYNC_META, 0, syncProc, nullptr) == 0; },
       BASS_ERROR_NOT_INIT},
      {"ChannelPlay", false, [] { return BASS_ChannelPlay(1, BASS_FALSE) == BASS_FALSE; },
       BASS_ERROR_NOT_INIT},

      // Bad Init arguments.
      {"Init device 0", false, [] { return BASS_Init(0, kFreq, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_DEVICE},
      {"Init device 2", false, [] { return BASS_Init(2, kFreq, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_DEVICE},
      {"Init device -2", false, [] { return BASS_Init(-2, kFreq, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_DEVICE},
      {"Init freq 0", false, [] { return BASS_Init(-1, 0, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_ILLPARAM},
      {"Init freq 7999", false, [] { return BASS_Init(-1, 7999, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_ILLPARAM},
      {"Init freq 192001", false, [] { return BASS_Init(-1, 192001, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_ILLPARAM},
      {"Init twice", true, [] { return BASS_Init(-1, kFreq, 0, nullptr, nullptr) == 0; },
       BASS_ERROR_ALREADY},

      // Configuration needs no Init.
      {"SetConfig unknown option", false, [] { return BASS_SetConfig(20, 1) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},
      {"SetConfig NET_PLAYLIST 3", false,
       [] { return BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 3) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},
      {"SetConfig NET_PLAYLIST -1", false,
       [] { return BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, DWORD(-1)) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},
      {"GetConfig unknown option", false, [] { return BASS_GetConfig(22) == DWORD(-1); },
       BASS_ERROR_ILLPARAM},

      // Volume outside 0..1.
      {"SetVolume -0.01", true, [] { return BASS_SetVolume(-0.01f) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},
      {"SetVolume 1.01", true, [] { return BASS_SetVolume(1.01f) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},
      {"SetVolume NaN", true, [nan] { return BASS_SetVolume(nan) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},
      {"SetVolume inf", true, [inf] { return BASS_SetVolume(inf) == BASS_FALSE; },
       BASS_ERROR_ILLPARAM},

      // Stream calls after Init with no stream.
      {"StreamFree 0", true, [] { return BASS_StreamFree(0) == BASS_FALSE; }, BASS_ERROR_HANDLE},
      {"StreamFree unknown", true, [] { return BASS_StreamFree(0x80000001u) == BASS_FALSE; },
       BASS_ERROR_HANDLE},
      {"StreamCreateURL null address", true,
       [] {
         return BASS_StreamCreateURL(nullptr, 0, BASS_STREAM_STATUS, downloadProc, nullptr) == 0;
       },
       BASS_ERROR_ILLPARAM},
      // A refused address is reported as such, not as the missing network code.
      {"StreamCreateURL empty address", true,
       [] { return BASS_StreamCreateURL("", 0, BASS_STREAM_STATUS, downloadProc, nullptr) == 0; },
       BASS_ERROR_ADDRESS},
      {"StreamCreateURL local file", true,
       [] {
         return BASS_StreamCreateURL("file:///etc/passwd", 0, BASS_STREAM_STATUS, downloadProc,
                                     nullptr) == 0;
       },
       BASS_ERROR_ADDRESS},
      {"StreamCreateURL ftp", true,
       [] {
         return BASS_StreamCreateURL("ftp://radio.invalid/x.mp3", 0, BASS_STREAM_STATUS,
                                     downloadProc, nullptr) == 0;
       },
       BASS_ERROR_ADDRESS},
      {"StreamGetFilePosition END", true,
       [] {
         return (BASS_StreamGetFilePosition(0, BASS_FILEPOS_END) & 0xFFFFFFFFu) == kPositionFailed;
       },
       BASS_ERROR_HANDLE},
      {"StreamGetFilePosition DOWNLOAD", true,
       [] {
         return (BASS_StreamGetFilePosition(0, BASS_FILEPOS_DOWNLOAD) & 0xFFFFFFFFu) ==
                kPositionFailed;
       },
       BASS_ERROR_HANDLE},
      {"StreamGetFilePosition CURRENT", true,
       [] {
         return (BASS_StreamGetFilePosition(0, BASS_FILEPOS_CURRENT) & 0xFFFFFFFFu) ==
                kPositionFailed;
       },
       BASS_ERROR_HANDLE},
      {"ChannelGetTags", true, [] { return BASS_ChannelGetTags(0, BASS_TAG_META) == nullptr; },
       BASS_ERROR_HANDLE},
      {"ChannelSetSync", true,
       [] { return BASS_ChannelSetSync(0, BASS_SYNC_META, 0, syncProc, nullptr) == 0; },
       BASS_ERROR_HANDLE},
      {"ChannelPlay", true, [] { return BASS_ChannelPlay(0, BASS_FALSE) == BASS_FALSE; },
       BASS_ERROR_HANDLE},
  };

  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.initialised) {
      ASSERT_EQ(BASS_Init(-1, kFreq, 0, &window_, nullptr), BASS_TRUE);
    } else {
      BASS_GetVersion();
    }
    ASSERT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_TRUE(c.failed()) << "returned something other than the failure value";
    EXPECT_EQ(BASS_ErrorGetCode(), c.code);
    BASS_Free();
  }
}

// A success must clear the code left by an earlier failure on the same thread.
TEST_F(BassTest, SuccessfulCallsReportOk) {
  const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
      {"GetVersion", [] { return (BASS_GetVersion() >> 16) == 0x0204u; }},
      {"Init", [this] { return BASS_Init(-1, kFreq, 0, &window_, nullptr) == BASS_TRUE; }},
      {"SetConfig", [] { return BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1) == BASS_TRUE; }},
      {"GetConfig", [] { return BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST) == 1u; }},
      {"SetVolume", [] { return BASS_SetVolume(0.5f) == BASS_TRUE; }},
      {"GetVolume", [] { return BASS_GetVolume() == 0.5f; }},
      {"Stop", [] { return BASS_Stop() == BASS_TRUE; }},
      {"Free", [] { return BASS_Free() == BASS_TRUE; }},
  };
  for (const auto& [name, succeeded] : calls) {
    SCOPED_TRACE(name);
    ASSERT_EQ(BASS_SetConfig(20, 0), BASS_FALSE);
    ASSERT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_TRUE(succeeded());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
  }
}

TEST_F(BassTest, RangeBoundariesAreAccepted) {
  for (int device : {-1, 1}) {
    for (DWORD freq : {8000u, 192000u}) {
      SCOPED_TRACE(testing::Message() << "device " << device << ", freq " << freq);
      ASSERT_EQ(BASS_Init(device, freq, 0, nullptr, nullptr), BASS_TRUE);
      ASSERT_EQ(BASS_Free(), BASS_TRUE);
    }
  }
  for (DWORD value : {0u, 1u, 2u}) {
    EXPECT_EQ(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, value), BASS_TRUE);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST), value);
  }
  ASSERT_EQ(BASS_Init(-1, kFreq, 0, nullptr, nullptr), BASS_TRUE);
  for (float volume : {0.0f, 1.0f}) {
    EXPECT_EQ(BASS_SetVolume(volume), BASS_TRUE);
    EXPECT_EQ(BASS_GetVolume(), volume);
  }
}

// The player re-initialises on every play request but sets neither again in between, so both
// must outlive Free/Init.
TEST_F(BassTest, ConfigAndVolumeSurviveFreeAndInit) {
  ASSERT_EQ(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 2), BASS_TRUE);  // before any Init
  ASSERT_EQ(BASS_Init(-1, kFreq, 0, nullptr, nullptr), BASS_TRUE);
  EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST), 2u);

  for (float volume : {0.25f, 0.75f}) {
    ASSERT_EQ(BASS_SetVolume(volume), BASS_TRUE);
    ASSERT_EQ(BASS_Free(), BASS_TRUE);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST), 2u);
    ASSERT_EQ(BASS_Init(-1, kFreq, 0, nullptr, nullptr), BASS_TRUE);
    EXPECT_EQ(BASS_GetVolume(), volume);
  }
  // A rejected value must not overwrite the stored one.
  EXPECT_EQ(BASS_SetVolume(2.0f), BASS_FALSE);
  EXPECT_EQ(BASS_GetVolume(), 0.75f);
  EXPECT_EQ(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 5), BASS_FALSE);
  EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST), 2u);
}

TEST_F(BassTest, InitNeedsNoSoundServer) {
  const char* old = std::getenv("PULSE_SERVER");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ::setenv("PULSE_SERVER", "unix:/nonexistent/velmo-audio-test/native", 1);

  const BOOL ok = BASS_Init(-1, kFreq, 0, &window_, nullptr);
  const int code = BASS_ErrorGetCode();

  if (saved) {
    ::setenv("PULSE_SERVER", saved->c_str(), 1);
  } else {
    ::unsetenv("PULSE_SERVER");
  }
  EXPECT_EQ(ok, BASS_TRUE);
  EXPECT_EQ(code, BASS_OK);
}

TEST_F(BassTest, ErrorCodeIsPerThread) {
  ASSERT_EQ(BASS_Free(), BASS_FALSE);
  ASSERT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOT_INIT);

  int freshCode = -100;
  int otherCode = -100;
  std::thread other([&] {
    freshCode = BASS_ErrorGetCode();  // nothing called on this thread yet
    BASS_SetConfig(20, 0);
    otherCode = BASS_ErrorGetCode();
  });
  other.join();

  EXPECT_EQ(freshCode, BASS_OK);
  EXPECT_EQ(otherCode, BASS_ERROR_ILLPARAM);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOT_INIT);
}

// Init is check-then-set; racing callers must see exactly one success.
TEST_F(BassTest, ConcurrentInitSucceedsOnce) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 1000; ++round) {
    std::atomic<int> ready{0};
    std::atomic<int> successes{0};
    std::atomic<int> already{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        if (BASS_Init(-1, kFreq, 0, nullptr, nullptr) == BASS_TRUE) {
          successes.fetch_add(1);
        } else if (BASS_ErrorGetCode() == BASS_ERROR_ALREADY) {
          already.fetch_add(1);
        }
      });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(successes.load(), 1) << "round " << round;
    ASSERT_EQ(already.load(), kThreads - 1) << "round " << round;
    ASSERT_EQ(BASS_Free(), BASS_TRUE);
  }
}

}  // namespace
