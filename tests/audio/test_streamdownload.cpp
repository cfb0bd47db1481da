#include "audio/streamdownload.h"

#include <fcntl.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/bass.h"
#include "tests/audio/httptestserver.h"

namespace {

using namespace std::chrono_literals;
using netstream::TDownloadLimits;
using netstream::TDownloadState;
using netstream::TStreamDownload;
using Clock = std::chrono::steady_clock;

// Bytes that differ at every position within a cycle of 251, so a lost, doubled or reordered
// piece shows.
std::string Pattern(std::size_t size, std::size_t from = 0) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((from + i) % 251);
  return bytes;
}

std::string Head(std::string_view status, std::string_view headers = "") {
  return std::string(status) + "\r\n" + std::string(headers) + "\r\n";
}

THttpTestServer::Handler Answer(std::string bytes) {
  return [bytes](THttpTestServer::Connection& c) { c.Send(bytes); };
}

THttpTestServer::Handler Redirect(std::string location) {
  return Answer(Head("HTTP/1.1 302 Found", "Location: " + location + "\r\nContent-Length: 0\r\n"));
}

// Short limits so failures show in about a second; no reconnecting unless a test asks.
TDownloadLimits FastLimits() {
  TDownloadLimits limits;
  limits.connectTimeout = 1000ms;
  limits.stallTimeout = 1000ms;
  limits.maxReconnects = 0;
  return limits;
}

// Collects what the callbacks report, from the download thread.
struct Reports {
  std::mutex mutex;
  std::vector<std::string> meta;
  std::vector<std::string> status;

  TStreamDownload::Callbacks Callbacks() {
    return {[this](const std::string& text) {
              std::lock_guard lock(mutex);
              meta.push_back(text);
            },
            [this](const std::string& text) {
              std::lock_guard lock(mutex);
              status.push_back(text);
            }};
  }
};

// Reads audio until the stream is over, bounded in time.
std::string Drain(TStreamDownload& download, std::chrono::milliseconds limit = 5000ms) {
  std::string bytes;
  std::uint8_t buffer[4096];
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    const bool readable = download.WaitReadable(50ms);
    const std::size_t n = download.Read(buffer, sizeof buffer);
    bytes.append(reinterpret_cast<const char*>(buffer), n);
    const TDownloadState state = download.State();
    if (!readable && (state == TDownloadState::kEnded || state == TDownloadState::kFailed)) break;
  }
  return bytes;
}

// A port whose connection queue is full, so a new connection is never completed: the kernel
// drops the connection requests while nobody accepts.
class FullListener {
 public:
  FullListener() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_, 0);
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    for (int i = 0; i < 4; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(100ms);
  }
  ~FullListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listen_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

class StreamDownload : public ::testing::Test {
 protected:
  std::unique_ptr<TStreamDownload> Open(const std::string& address, bool followPlaylists = false,
                                        TDownloadLimits limits = FastLimits()) {
    auto download =
        std::make_unique<TStreamDownload>(address, followPlaylists, limits, reports_.Callbacks());
    download->Start();
    return download;
  }

  THttpTestServer server_;
  Reports reports_;
};

TEST_F(StreamDownload, PlainAndIcyAnswersDeliverTheBodyIntact) {
  const std::string body = Pattern(200 * 1000);
  server_.Route("/http",
                Answer(Head("HTTP/1.0 200 OK", "Content-Type: audio/mpeg\r\nContent-Length: " +
                                                   std::to_string(body.size()) + "\r\n") +
                       body));
  // A shoutcast server: no length, the body ends when the server closes.
  server_.Route("/icy", Answer(Head("ICY 200 OK", "icy-name: Test\r\n") + body));
  for (const char* path : {"/http", "/icy"}) {
    SCOPED_TRACE(path);
    auto download = Open(server_.Url(path));
    EXPECT_EQ(download->WaitOpened(3000ms), TDownloadState::kStreaming);
    EXPECT_EQ(Drain(*download), body);
    EXPECT_EQ(download->State(), TDownloadState::kEnded);
    EXPECT_EQ(download->Error(), BASS_OK);
    const netstream::TFilePositions at = download->Positions();
    EXPECT_EQ(at.download, body.size());
    EXPECT_EQ(at.current, body.size());
    EXPECT_EQ(at.end, netstream::kDefaultBufferBytes);
  }
  std::lock_guard lock(reports_.mutex);
  EXPECT_EQ(reports_.status, (std::vector<std::string>{"HTTP/1.0 200 OK", "ICY 200 OK"}));
  for (const std::string& request : server_.Requests())
    EXPECT_NE(request.find("\r\nIcy-MetaData: 1\r\n"), std::string::npos) << request;
}

TEST_F(StreamDownload, MetadataIsCutOutAndReported) {
  // Every 1000 audio bytes a block: a title, "no change", another title.
  const std::string audio = Pattern(4000);
  auto block = [](std::string text) {
    const std::size_t n = (text.size() + 15) / 16;
    text.resize(n * 16, '\0');
    return std::string(1, static_cast<char>(n)) + text;
  };
  const std::string first = "StreamTitle='First - One';StreamUrl='';";
  const std::string second = "StreamTitle='Second - Two';";
  const std::string body = audio.substr(0, 1000) + block(first) + audio.substr(1000, 1000) +
                           std::string(1, '\0') + audio.substr(2000, 1000) + block(second) +
                           audio.substr(3000);
  server_.Route("/radio", Answer(Head("ICY 200 OK", "icy-metaint: 1000\r\n") + body));
  auto download = Open(server_.Url("/radio"));
  EXPECT_EQ(Drain(*download), audio);
  EXPECT_EQ(download->Meta(), second);
  std::lock_guard lock(reports_.mutex);
  EXPECT_EQ(reports_.meta, (std::vector<std::string>{first, second}));
}

TEST_F(StreamDownload, FailedOpensReportTheirError) {
  // A port that nothing listens on: bind one, then close it.
  std::string refused;
  {
    THttpTestServer closed;
    refused = closed.Url("/");
  }
  server_.Route("/500",
                Answer(Head("HTTP/1.1 500 Internal Server Error", "Content-Length: 0\r\n")));
  server_.Route("/icy401", Answer(Head("ICY 401 Service Unavailable")));
  server_.Route("/garbage", Answer("SSH-2.0-OpenSSH_9.2\r\n\r\n"));
  // Headers past every sane size, as many lines and as one line.
  std::string manyLines;
  for (int i = 0; i < 1000; ++i)
    manyLines += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
  server_.Route("/hugeheaders", Answer(Head("HTTP/1.1 200 OK", manyLines) + "body"));
  server_.Route("/hugeline",
                Answer(Head("HTTP/1.1 200 OK", "X-Big: " + std::string(1 << 20, 'b') + "\r\n")));
  struct Case {
    std::string address;
    int error;
  };
  const Case cases[] = {
      {server_.Url("/missing"), BASS_ERROR_HTTP},
      {server_.Url("/500"), BASS_ERROR_HTTP},
      {server_.Url("/icy401"), BASS_ERROR_HTTP},
      {server_.Url("/garbage"), BASS_ERROR_FORMAT},
      {server_.Url("/hugeheaders"), BASS_ERROR_FORMAT},
      {server_.Url("/hugeline"), BASS_ERROR_FORMAT},
      {refused, BASS_ERROR_CONNECT},
      {"", BASS_ERROR_ADDRESS},
      {"ftp://127.0.0.1/x.mp3", BASS_ERROR_ADDRESS},
      {"file:///etc/passwd", BASS_ERROR_ADDRESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const auto started = Clock::now();
    auto download = Open(c.address);
    EXPECT_EQ(download->WaitOpened(5000ms), TDownloadState::kFailed);
    EXPECT_EQ(download->Error(), c.error);
    EXPECT_LT(Clock::now() - started, 3000ms);
  }
}

TEST_F(StreamDownload, RedirectsAreFollowedWithinTheLimit) {
  const std::string body = Pattern(3000);
  server_.Route("/audio", Answer(Head("HTTP/1.1 200 OK", "Content-Length: 3000\r\n") + body));
  // /r1 -> /audio, /r2 -> /r1, ... /r6 -> /r5; relative and absolute locations mixed.
  server_.Route("/r1", Redirect("/audio"));
  for (int i = 2; i <= 6; ++i) {
    const std::string target = "/r" + std::to_string(i - 1);
    server_.Route("/r" + std::to_string(i), Redirect(i % 2 ? target : server_.Url(target)));
  }
  server_.Route("/tofile", Redirect("file:///etc/passwd"));
  server_.Route("/toftp", Redirect("ftp://127.0.0.1/audio"));

  auto ok = Open(server_.Url("/r3"));
  EXPECT_EQ(Drain(*ok), body);
  EXPECT_EQ(ok->Address(), server_.Url("/audio"));
  EXPECT_EQ(ok->Error(), BASS_OK);

  struct Case {
    const char* path;
    int error;
  };
  for (const Case& c : {Case{"/r6", BASS_ERROR_REDIRECT}, Case{"/tofile", BASS_ERROR_ADDRESS},
                        Case{"/toftp", BASS_ERROR_ADDRESS}}) {
    SCOPED_TRACE(c.path);
    auto download = Open(server_.Url(c.path));
    EXPECT_EQ(download->WaitOpened(5000ms), TDownloadState::kFailed);
    EXPECT_EQ(download->Error(), c.error);
  }
}

TEST_F(StreamDownload, PlayListAnswersAreFollowedWhenAsked) {
  const std::string body = Pattern(5000);
  server_.Route("/audio", Answer(Head("HTTP/1.1 200 OK",
                                      "Content-Type: audio/mpeg\r\nContent-Length: 5000\r\n") +
                                 body));
  const std::string pls =
      "[playlist]\r\nNumberOfEntries=1\r\nFile1=" + server_.Url("/audio") + "\r\nTitle1=Test\r\n";
  server_.Route("/list.pls",
                Answer(Head("HTTP/1.1 200 OK", "Content-Type: audio/x-scpls\r\n") + pls));
  // No content type to go by, a relative entry, and a nested list.
  server_.Route("/list.m3u", Answer(Head("HTTP/1.0 200 OK") + "#EXTM3U\n#EXTINF:-1,Test\naudio\n"));
  server_.Route("/nested.m3u", Answer(Head("HTTP/1.0 200 OK", "Content-Type: audio/x-mpegurl\r\n") +
                                      server_.Url("/list.pls") + "\n"));
  server_.Route("/local.m3u", Answer(Head("HTTP/1.0 200 OK", "Content-Type: audio/x-mpegurl\r\n") +
                                     "file:///etc/passwd\n"));
  server_.Route("/empty.pls", Answer(Head("HTTP/1.0 200 OK", "Content-Type: audio/x-scpls\r\n") +
                                     "[playlist]\nNumberOfEntries=0\n"));
  for (const char* path : {"/list.pls", "/list.m3u", "/nested.m3u"}) {
    SCOPED_TRACE(path);
    auto download = Open(server_.Url(path), true);
    EXPECT_EQ(Drain(*download), body);
    EXPECT_EQ(download->Address(), server_.Url("/audio"));
  }
  struct Case {
    const char* path;
    int error;
  };
  for (const Case& c :
       {Case{"/local.m3u", BASS_ERROR_ADDRESS}, Case{"/empty.pls", BASS_ERROR_FORMAT}}) {
    SCOPED_TRACE(c.path);
    auto download = Open(server_.Url(c.path), true);
    EXPECT_EQ(download->WaitOpened(5000ms), TDownloadState::kFailed);
    EXPECT_EQ(download->Error(), c.error);
  }
  // Not asked to follow: the list's text is the stream.
  auto plain = Open(server_.Url("/list.pls"), false);
  EXPECT_EQ(Drain(*plain), pls);
}

TEST_F(StreamDownload, SilentServersTimeOut) {
  server_.Route("/silent", [](THttpTestServer::Connection& c) { c.Hold(); });
  server_.Route("/stall", [](THttpTestServer::Connection& c) {
    c.Send(Head("HTTP/1.1 200 OK", "Content-Type: audio/mpeg\r\n"));
    c.Hold();
  });
  // Half a head, then nothing.
  server_.Route("/halfhead", [](THttpTestServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: aud");
    c.Hold();
  });
  for (const char* path : {"/silent", "/stall", "/halfhead"}) {
    SCOPED_TRACE(path);
    const auto started = Clock::now();
    auto download = Open(server_.Url(path));
    download->WaitOpened(5000ms);
    // The stall after a good head opens the stream; it fails once the time-out passes.
    for (auto deadline = Clock::now() + 5s;
         download->State() != TDownloadState::kFailed && Clock::now() < deadline;)
      std::this_thread::sleep_for(20ms);
    EXPECT_EQ(download->State(), TDownloadState::kFailed);
    EXPECT_EQ(download->Error(), BASS_ERROR_TIMEOUT);
    const auto took = Clock::now() - started;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3000ms);
  }
}

TEST_F(StreamDownload, AConnectionNeverMadeTimesOut) {
  FullListener full;
  TDownloadLimits limits = FastLimits();
  limits.connectTimeout = 500ms;
  limits.stallTimeout = 5000ms;
  const auto started = Clock::now();
  auto download = Open(full.Url(), false, limits);
  EXPECT_EQ(download->WaitOpened(5000ms), TDownloadState::kFailed);
  EXPECT_EQ(download->Error(), BASS_ERROR_TIMEOUT);
  EXPECT_LT(Clock::now() - started, 2000ms);
}

TEST_F(StreamDownload, StopAbandonsAtOnce) {
  server_.Route("/silent", [](THttpTestServer::Connection& c) { c.Hold(); });
  server_.Route("/endless", [](THttpTestServer::Connection& c) {
    c.Send(Head("ICY 200 OK"));
    const std::string piece = Pattern(1000);
    for (auto deadline = Clock::now() + 20s; Clock::now() < deadline && c.Send(piece);)
      std::this_thread::sleep_for(5ms);
  });
  FullListener full;
  TDownloadLimits slow;  // the real ten-second limits
  // Still connecting, connected with no answer, streaming.
  for (const std::string& address : {full.Url(), server_.Url("/silent"), server_.Url("/endless")}) {
    SCOPED_TRACE(address);
    auto download = Open(address, false, slow);
    std::this_thread::sleep_for(300ms);
    const auto started = Clock::now();
    download->Stop();
    EXPECT_LT(Clock::now() - started, 200ms);
    EXPECT_EQ(download->State(), TDownloadState::kEnded);
  }
}

TEST_F(StreamDownload, AFullBufferHoldsTheDownloadBackWithoutLoss) {
  const std::string body = Pattern(1000 * 1000);
  server_.Route("/big", Answer(Head("HTTP/1.1 200 OK",
                                    "Content-Length: " + std::to_string(body.size()) + "\r\n") +
                               body));
  auto download = Open(server_.Url("/big"));
  // Nobody reads: the buffer fills to within one network piece of its size and stays there,
  // and a full buffer is no stall.
  std::this_thread::sleep_for(1500ms);
  netstream::TFilePositions at = download->Positions();
  EXPECT_LE(at.download - at.current, at.end);
  EXPECT_GT(at.download - at.current, at.end - 16 * 1024);
  EXPECT_EQ(download->State(), TDownloadState::kStreaming);
  EXPECT_EQ(Drain(*download, 10000ms), body);
  at = download->Positions();
  EXPECT_EQ(at.download, body.size());
  EXPECT_EQ(at.current, body.size());
}

TEST_F(StreamDownload, ADroppedStreamReconnectsThenEndsQuietly) {
  // The first connection drops after 3000 bytes, the second after 2000, then the server fails.
  std::atomic<int> connections{0};
  server_.Route("/radio", [&connections](THttpTestServer::Connection& c) {
    const int n = ++connections;
    if (n == 1) c.Send(Head("ICY 200 OK") + Pattern(3000));
    if (n == 2) c.Send(Head("ICY 200 OK") + Pattern(2000, 3000));
    if (n > 2) c.Send(Head("HTTP/1.1 503 Service Unavailable", "Content-Length: 0\r\n"));
  });
  TDownloadLimits limits = FastLimits();
  limits.maxReconnects = 3;
  limits.reconnectFirstWait = 50ms;
  const auto started = Clock::now();
  auto download = Open(server_.Url("/radio"), false, limits);
  EXPECT_EQ(Drain(*download), Pattern(5000));
  EXPECT_EQ(download->State(), TDownloadState::kEnded);
  EXPECT_EQ(download->Error(), BASS_OK);
  // Each drop starts the waits afresh: 50 ms before the second connection, then 50, 100 and
  // 200 ms before the three that fail.
  EXPECT_EQ(download->Reconnects(), 4);
  EXPECT_EQ(connections, 5);
  EXPECT_GE(Clock::now() - started, 400ms);
}

}  // namespace
