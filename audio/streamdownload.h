#pragma once
// The network side of one stream: fetches an http/https address on a thread of its own,
// follows redirects and (when asked) play lists one hop at a time through TAddressChain, cuts
// the ICY metadata out of the body and keeps the audio bytes in a bounded buffer that a decoder
// reads from. A dropped connection is reopened a few times with growing waits before the
// stream ends quietly.
//
// Threading: the download thread owns the libcurl handles and calls the callbacks. The buffer,
// the state and the counters are shared under one mutex; the consumer (Read, Positions, Meta)
// and the owner (Stop, the destructor) may be on any other threads. Stop never waits for the
// network: it wakes the download thread, which leaves at once. Callbacks run without the mutex
// held, but Stop joins the thread, so never call Stop from a callback or while holding a lock a
// callback takes.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace netstream {

inline constexpr std::size_t kDefaultBufferBytes = 64 * 1024;
// Room for one libcurl chunk on top of the bytes read to recognise a play list.
inline constexpr std::size_t kMinBufferBytes = 32 * 1024;

struct TDownloadLimits {
  // No connection made within this time.
  std::chrono::milliseconds connectTimeout{10000};
  // No byte received for this long while the buffer had room.
  std::chrono::milliseconds stallTimeout{10000};
  std::size_t bufferBytes = kDefaultBufferBytes;  // raised to kMinBufferBytes
  // After a drop: wait, try again, double the wait; give up after maxReconnects tries or once
  // the budget since the drop is spent.
  std::chrono::milliseconds reconnectFirstWait{500};
  std::chrono::milliseconds reconnectBudget{30000};
  int maxReconnects = 6;
};

enum class TDownloadState {
  kOpening,    // connecting, following redirects and play lists, until the first audio byte
  kStreaming,  // audio has arrived (and may be reconnecting after a drop)
  kFailed,     // the open failed; Error() says why
  kEnded,      // the body ended, reconnecting gave up, or Stop was called
};

// The byte counts the file-position queries report: download - current bytes wait in the
// buffer, end is the buffer's size.
struct TFilePositions {
  std::uint64_t current = 0;   // audio bytes the consumer has read
  std::uint64_t download = 0;  // audio bytes received
  std::uint64_t end = 0;
};

class TStreamDownload {
 public:
  struct Callbacks {
    // Each metadata block that is not "no change", as the server's bytes.
    std::function<void(const std::string& text)> meta;
    // Each response head's status line ("HTTP/1.1 302 Found", "ICY 200 OK").
    std::function<void(const std::string& text)> status;
  };

  TStreamDownload(std::string address, bool followPlaylists, TDownloadLimits limits,
                  Callbacks callbacks);
  ~TStreamDownload();  // Stop()
  TStreamDownload(const TStreamDownload&) = delete;
  TStreamDownload& operator=(const TStreamDownload&) = delete;

  // Starts the download thread; returns at once.
  void Start();
  // Abandons the download at once; no callback runs after it returns. Any thread may call it,
  // more than one at a time.
  void Stop();

  TDownloadState State() const;
  // The library's error number once failed, BASS_OK otherwise.
  int Error() const;
  // Waits until the open succeeded or failed, or `limit` passed, or Stop; returns the state.
  TDownloadState WaitOpened(std::chrono::milliseconds limit) const;
  // Whether audio ever arrived: a stream that ended after that was opened.
  bool Opened() const;

  // Consumer side: takes up to `max` buffered audio bytes without waiting.
  std::size_t Read(std::uint8_t* dst, std::size_t max);
  // Waits until audio is buffered, the stream is over, or `limit` passed; true if audio waits.
  bool WaitReadable(std::chrono::milliseconds limit) const;
  // Copies up to `max` of the first buffered bytes without taking them: the positions stay.
  std::size_t Peek(std::uint8_t* dst, std::size_t max) const;
  // Waits until `bytes` are buffered (at most the buffer's size), the stream is over, Stop, or
  // `limit` passed; returns how many are buffered.
  std::size_t WaitBuffered(std::size_t bytes, std::chrono::milliseconds limit) const;

  TFilePositions Positions() const;
  // The text of the last metadata block; empty before the first.
  std::string Meta() const;
  // The address audio came from, after redirects and play lists.
  std::string Address() const;
  // The Content-Type the audio came with; empty when the server sent none.
  std::string ContentType() const;
  int Reconnects() const;

 private:
  struct Hop;
  struct HopResult;
  void Run();
  HopResult Transfer(const std::string& url);
  bool WaitAbortable(std::chrono::milliseconds wait);
  void Finish(TDownloadState state, int error);
  void SetAudioSource(const std::string& url, const std::string& contentType);
  std::size_t FreeRoom() const;                                     // mutex held
  std::size_t CopyFront(std::uint8_t* dst, std::size_t max) const;  // mutex held
  void PushAudio(const std::uint8_t* data, std::size_t size);       // takes the mutex
  void PushMeta(std::string_view text);

  static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t n, void* hop);
  static std::size_t BodyCallback(char* data, std::size_t size, std::size_t n, void* hop);

  const std::string address_;
  const bool followPlaylists_;
  const TDownloadLimits limits_;
  const Callbacks callbacks_;

  void* multi_ = nullptr;  // CURLM*, made before the thread starts so Stop can wake it
  std::mutex joinMutex_;   // guards thread_; taken before mutex_, never inside it
  std::thread thread_;
  std::atomic<bool> abort_{false};
  std::atomic<bool> pausedForRoom_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  TDownloadState state_ = TDownloadState::kOpening;
  int error_ = 0;
  std::vector<std::uint8_t> ring_;
  std::size_t ringStart_ = 0;
  std::size_t ringFill_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint64_t received_ = 0;
  std::string meta_;
  std::string finalAddress_;
  std::string contentType_;
  int reconnects_ = 0;
};

}  // namespace netstream
