#pragma once
// The duration scanner: measures the length of the listed MP3 tracks on a thread of its own.
//
// Threading: a scanner is made and started on the main thread, which alone touches records. The
// worker gets only encoded paths and hands back plain values (track number, length, error) in
// batches, queued to the main thread a few times a second; it never waits for the main thread,
// so the main thread may stop and join it at any time. No lock: the only shared state is the
// stop request and the "ended" flag, both atomic.
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "model/mp3objects.h"

// One measured file, as the worker reports it.
struct TTimeResult {
  int track = 0;        // index into TTimeThread::Tracks()
  std::int64_t ms = 0;  // 0 when the file could not be measured
  int error = 0;        // TMp3Error
};

// What one queued call carries from the worker to the main thread.
struct TTimeBatch {
  std::uint64_t serial = 0;
  std::vector<TTimeResult> results;
  bool finished = false;  // the worker's last batch: it measured everything or was stopped
};

class TTimeThread {
 public:
  // A track the skip rule lets through: a record weakly held (the main list may drop it during
  // the scan) and its position in the track cache when the scan was made.
  struct Track {
    std::weak_ptr<TMp3Player> record;
    int index = 0;
  };
  // Runs on the thread that called Start, from its event loop.
  using Sink = std::function<void(const TTimeBatch&)>;

  // Results go to the main thread about this often, and at the end of the scan.
  static constexpr std::chrono::milliseconds kBatchInterval{200};

  // A scanner made suspended over the cache as it is now (main thread). A null cache gives one
  // with nothing to do, as start-up makes it. Tracks are the records whose display name ends in
  // ".mp3" in any case and whose time is still empty, in cache order. Cheap: it takes references
  // to the records' path texts, and the worker joins and encodes them.
  explicit TTimeThread(const TMp3Cache* cache = nullptr);
  // Stops a running worker and waits for it (at most the file it is measuring); batches not yet
  // delivered are dropped.
  ~TTimeThread();
  TTimeThread(const TTimeThread&) = delete;
  TTimeThread& operator=(const TTimeThread&) = delete;

  // Starts the worker. Each batch is handed to `sink` by the event loop of the calling thread,
  // so whatever `sink` uses must outlive this scanner. With no tracks no thread is made and
  // nothing is delivered: the scan has ended already.
  void Start(Sink sink);
  // Asks the worker to stop before its next file; never waits.
  void Stop();
  // True once the worker has handed over its last batch (or there never was one to start).
  bool Ended() const { return !FThread.joinable() || FEnded.load(std::memory_order_acquire); }

  std::uint64_t Serial() const { return FSerial; }
  bool HasCache() const { return FHasCache; }
  // Cache entries when the scan was made: the progress bar's maximum.
  int EntryCount() const { return FEntryCount; }
  // Emptied once the last batch has been applied: a finished scanner that stays in TimeThread
  // holds nothing per track.
  const std::vector<Track>& Tracks() const { return FTracks; }

  // Main thread: writes the lengths of a batch of this scanner into the records that are still
  // in `cache`, in scan order, each with the running total so far; results of records that
  // left the cache are dropped and add nothing. Returns the records written.
  std::vector<TMp3Player*> ApplyBatch(const TTimeBatch& batch, const TMp3Cache* cache);
  // The list's total time: what it had when the scan was made (TMp3Session::ListTotalTime)
  // plus the milliseconds measured so far; Measured() tells whether anything was measured.
  std::int64_t Total() const { return FTotal; }
  bool Measured() const { return FMeasured; }
  // Cache position of the last track reported so far, plus one: the progress bar's position.
  int Position() const { return FPosition; }

  // Makes `next` the one in TimeThread. The scanner it replaces is asked to stop and kept until
  // its worker has ended, so replacing never blocks the main thread.
  static void Replace(std::unique_ptr<TTimeThread> next);
  // Shutdown: clears TimeThread, stops every scanner still working and waits for each.
  static void FreeAll();

 private:
  void Execute(std::stop_token stop);

  std::uint64_t FSerial;
  bool FHasCache = false;
  int FEntryCount = 0;
  std::vector<Track> FTracks;  // main thread
  // The worker's, one per track, released when it ends: the record's path as two texts whose
  // join is the path (TMp3Player::Mp3PathParts).
  std::vector<std::pair<QString, QString>> FPaths;
  std::int64_t FTotal = 0;
  bool FMeasured = false;
  int FPosition = 0;
  Sink FSink;
  // Lives on the starting thread; the worker queues its batches to it. Deleted only after the
  // worker is joined, so the worker never posts to a deleted object.
  std::unique_ptr<QObject> FReceiver;
  std::atomic<bool> FEnded{false};
  std::jthread FThread;
};

// The last scanner made; empty before start-up and after shutdown.
extern std::unique_ptr<TTimeThread> TimeThread;
