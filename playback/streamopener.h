#pragma once
// Opening a radio entry: its play list file gives the address, the audio library opens the
// stream, and playback starts once the download buffer is over three quarters full.
//
// Threading: the owner (the main window) calls Start and Abandon from one thread. Each open
// runs on a worker thread of its own, so a slow or silent server never holds up the window; it
// reports through the sink, from the worker or from the library's threads. Every report carries
// the serial of its open: Start and Abandon make all earlier serials stale, and a stale open
// never starts its stream. The worker never waits for the owner's thread.
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "playback/streamentry.h"

// What the stream side reports to the window.
enum TStreamStatus : int {
  kStreamConnecting = 0,  // value 0; text: the address it connects to
  kStreamFailed = 1,      // value: the library's error number
  kStreamBuffering = 2,   // value: the buffer's fill in per cent
  kStreamTitle = 7,       // text: the title from the stream's metadata
  kStreamLibrary = 8,     // text: a status line of the server's answer
};

struct TStreamReport {
  std::uint64_t serial;
  int code;
  std::int64_t value;
  QString text;
};

class TStreamOpener {
 public:
  using Sink = std::function<void(const TStreamReport&)>;

  explicit TStreamOpener(Sink sink);
  // Abandons any open, waits for the workers (the library lets go of them at once) and frees
  // the stream it opened.
  ~TStreamOpener();
  TStreamOpener(const TStreamOpener&) = delete;
  TStreamOpener& operator=(const TStreamOpener&) = delete;

  // Opens the stream of the radio entry at `path` on a worker; returns the open's serial.
  std::uint64_t Start(const QString& path);
  // Makes the open in progress stale: it stops waiting for its server and never plays.
  void Abandon();
  std::uint64_t Serial() const { return serial_.load(); }
  // The stream opened last, 0 before the first and after a failed open.
  HSTREAM Handle() const { return handle_.load(); }

 private:
  void OpenStreamUrl(std::uint64_t serial, const QString& address);
  bool Stale(std::uint64_t serial) const { return serial_.load() != serial; }
  // Waits up to `wait`; false once the open is stale.
  bool Pause(std::uint64_t serial, std::chrono::milliseconds wait);
  void ReadStreamTitle(std::uint64_t serial);
  void Send(std::uint64_t serial, int code, std::int64_t value, QString text = {});
  void ReapWorkers(bool all);

  static void StreamDownloadProc(const void* buffer, DWORD length, void* user);
  static void StreamTitleSync(HSYNC sync, DWORD channel, DWORD data, void* user);

  const Sink sink_;
  std::atomic<std::uint64_t> serial_{0};
  std::atomic<HSTREAM> handle_{0};
  std::atomic<int> opening_{0};  // workers not yet done

  // Held while a worker starts its stream, so an Abandon either comes first and is seen, or
  // comes after and its caller's stop reaches the stream.
  std::mutex playMutex_;
  std::mutex pauseMutex_;
  std::condition_variable abandoned_;

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> workers_;  // owner's thread only
};
