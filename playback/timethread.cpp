#include "playback/timethread.h"

#include <QMetaObject>

#include <algorithm>

#include "audio/mp3length.h"
#include "platform/pathcodec.h"

std::unique_ptr<TTimeThread> TimeThread;

namespace {

std::atomic<std::uint64_t> gLastSerial{0};

// Replaced scanners whose workers may still be finishing their current file (main thread).
std::vector<std::unique_ptr<TTimeThread>>& Retired() {
  static std::vector<std::unique_ptr<TTimeThread>> retired;
  return retired;
}

void FreeEnded() {
  std::erase_if(Retired(),
                [](const std::unique_ptr<TTimeThread>& scanner) { return scanner->Ended(); });
}

}  // namespace

TTimeThread::TTimeThread(const TMp3Cache* cache) : FSerial(++gLastSerial) {
  if (!cache) return;
  FHasCache = true;
  FEntryCount = static_cast<int>(cache->size());
  // The running total continues from the times the list already has.
  FTotal = TMp3Session::TotalTimeOf(cache);
  // Mostly every entry is a new track: room for all at once, not grown by copies.
  FTracks.reserve(cache->size());
  FPaths.reserve(cache->size());
  for (int i = 0; i < FEntryCount; ++i) {
    const TMp3PlayerPtr& record = (*cache)[i];
    if (!record || !record->Mp3Time().isEmpty() ||
        !record->Mp3Name().endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
      continue;
    FTracks.push_back(Track{record, i});
    FPaths.push_back(record->Mp3PathParts());
  }
  // When the list had many measured tracks, the room left would stay for the whole scan.
  if (FTracks.size() < FTracks.capacity() / 8 * 7) {
    FTracks.shrink_to_fit();
    FPaths.shrink_to_fit();
  }
}

TTimeThread::~TTimeThread() {
  if (FThread.joinable()) {
    FThread.request_stop();
    FThread.join();
  }
  FReceiver.reset();
}

void TTimeThread::Start(Sink sink) {
  if (FThread.joinable() || FPaths.empty()) return;
  FSink = std::move(sink);
  FReceiver = std::make_unique<QObject>();
  FThread = std::jthread([this](std::stop_token stop) { Execute(stop); });
}

void TTimeThread::Stop() {
  FThread.request_stop();
}

void TTimeThread::Execute(std::stop_token stop) {
  const auto deliver = [this](TTimeBatch&& batch) {
    // Shared: a queued call is copied, the results need not be.
    auto carried = std::make_shared<const TTimeBatch>(std::move(batch));
    QMetaObject::invokeMethod(
        FReceiver.get(), [sink = FSink, carried] { sink(*carried); }, Qt::QueuedConnection);
  };
  TTimeBatch batch{FSerial, {}, false};
  auto flushed = std::chrono::steady_clock::now();
  // The scanner's private device: the same measurement as the player's, without a sound stream;
  // one decoder for all files spares setting one up per file.
  TMp3Decoder decoder;
  QString path;
  for (std::size_t i = 0; i < FPaths.size() && !stop.stop_requested(); ++i) {
    TTimeResult result{static_cast<int>(i), 0, MP3_OK};
    path.resize(0);
    path.append(FPaths[i].first).append(FPaths[i].second);
    result.error = decoder.Open(platform::encodePath(path).constData());
    if (result.error == MP3_OK) result.ms = decoder.LengthMs();
    decoder.Close();
    batch.results.push_back(result);
    const auto now = std::chrono::steady_clock::now();
    if (now - flushed >= kBatchInterval) {
      deliver(std::exchange(batch, TTimeBatch{FSerial, {}, false}));
      flushed = now;
    }
  }
  // The texts are shared with the records; only the references go here.
  std::vector<std::pair<QString, QString>>().swap(FPaths);
  batch.finished = true;
  deliver(std::move(batch));
  FEnded.store(true, std::memory_order_release);
}

std::vector<TMp3Player*> TTimeThread::ApplyBatch(const TTimeBatch& batch, const TMp3Cache* cache) {
  std::vector<TMp3Player*> written;
  if (batch.serial != FSerial || batch.results.empty()) return written;
  FPosition = FTracks[batch.results.back().track].index + 1;
  struct ReleaseAtEnd {
    TTimeThread* scanner;
    bool finished;
    ~ReleaseAtEnd() {
      if (!finished) return;
      std::vector<Track>().swap(scanner->FTracks);
    }
  } release{this, batch.finished};
  if (!cache) return written;

  // Which results still have their record in the cache: one walk over the cache per batch.
  // Flat and sorted rather than a hash of nodes: a node per result, freed between the
  // allocations that outlive the batch, would leave memory the process can neither use nor give
  // back.
  std::vector<TMp3PlayerPtr> records(batch.results.size());
  std::vector<std::pair<const TMp3Player*, std::size_t>> resultOf;
  resultOf.reserve(batch.results.size());
  for (std::size_t r = 0; r < batch.results.size(); ++r) {
    records[r] = FTracks[batch.results[r].track].record.lock();
    if (records[r]) resultOf.emplace_back(records[r].get(), r);
  }
  std::sort(resultOf.begin(), resultOf.end());
  // A record measured twice (listed twice when the scan was made) takes its first result.
  resultOf.erase(std::unique(resultOf.begin(), resultOf.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 resultOf.end());
  std::vector<bool> inCache(batch.results.size(), false);
  std::size_t found = 0;
  for (const TMp3PlayerPtr& record : *cache) {
    if (found == resultOf.size()) break;
    const TMp3Player* key = record.get();
    auto it =
        std::lower_bound(resultOf.begin(), resultOf.end(), key,
                         [](const auto& entry, const TMp3Player* p) { return entry.first < p; });
    if (it == resultOf.end() || it->first != key || inCache[it->second]) continue;
    inCache[it->second] = true;
    ++found;
  }

  for (std::size_t r = 0; r < batch.results.size(); ++r) {
    if (!inCache[r]) continue;
    const TTimeResult& result = batch.results[r];
    FTotal += result.ms;
    FMeasured = true;
    records[r]->SetMp3Time(TMp3Session::SecToTime(result.ms));
    records[r]->SetMp3TotalTime(FTotal);
    written.push_back(records[r].get());
  }
  return written;
}

void TTimeThread::Replace(std::unique_ptr<TTimeThread> next) {
  FreeEnded();
  if (TimeThread) {
    TimeThread->Stop();
    Retired().push_back(std::move(TimeThread));
  }
  TimeThread = std::move(next);
}

void TTimeThread::FreeAll() {
  std::unique_ptr<TTimeThread> last = std::move(TimeThread);
  for (const auto& scanner : Retired()) scanner->Stop();
  if (last) last->Stop();
  Retired().clear();
  last.reset();
}
