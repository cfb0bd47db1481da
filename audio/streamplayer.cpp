// Threading: see streamplayer.h. The decoding thread only waits on the ring (woken by the
// output and by Stop) and on the download for at most kReadWait, so joining it is quick.
#include "audio/streamplayer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/pulselink.h"
#include "audio/streamdownload.h"

namespace netstream {

namespace {

using namespace std::chrono_literals;

constexpr auto kReadWait = 50ms;
constexpr std::size_t kReadBytes = 4096;
// Server-side buffer: sound starts once it holds this much, and a volume change is heard after
// it, so it stays short; a busy machine still has this long to hand over more.
constexpr pa_usec_t kTargetLatencyUs = 200 * 1000;
constexpr int kRingMs = 500;  // decoded audio kept ahead of the server
constexpr pa_usec_t kRetryUs = 1000 * 1000;
// What the sound server accepts; other formats a damaged stream claims are not played.
constexpr long kMaxRate = 384000;
constexpr int kMaxChannels = 8;

bool Playable(const TPcmFormat& f) {
  return f.rate > 0 && f.rate <= kMaxRate && f.channels > 0 && f.channels <= kMaxChannels;
}

}  // namespace

class TStreamPlayer::Impl final : public TPulseClient {
 public:
  Impl(std::shared_ptr<TStreamDownload> download, TAudioFormat format,
       const std::atomic<float>* volume)
      : download_(std::move(download)), format_(format), volume_(volume) {}
  ~Impl() { Stop(); }

  bool Start();
  void Stop();

 private:
  // Decoded samples between the decoding thread and the output, of one format at a time.
  struct Ring {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int16_t> data;
    std::size_t head = 0;  // producer
    std::size_t tail = 0;  // consumer
    std::size_t used = 0;
    TPcmFormat format;
    bool hungry = false;  // the output wanted more than there was
    bool end = false;     // the decoder is done: nothing follows what is in the ring
    bool quit = false;
  };

  void DecodeLoop();
  bool Push(const std::vector<std::int16_t>& pcm, const TPcmFormat& format);
  void FinishDecoding();

  void OnLinkReady() override { CreateStreamLocked(); }
  void OnLinkFailed() override { RetryLaterLocked(); }
  void ConnectLocked();
  void CreateStreamLocked();
  void DropStreamLocked();
  void RetryLaterLocked();
  void FeedLocked();
  void ChangeFormatLocked(const TPcmFormat& format);

  static void OnStreamState(pa_stream* stream, void* self);
  static void OnWrite(pa_stream*, std::size_t, void* self) {
    static_cast<Impl*>(self)->FeedLocked();
  }
  static void OnRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

  const std::shared_ptr<TStreamDownload> download_;
  const TAudioFormat format_;
  const std::atomic<float>* const volume_;
  std::shared_ptr<TEventLoop> loop_;

  std::mutex joinMutex_;  // guards thread_; taken before any other lock
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::unique_ptr<TAudioDecoder> decoder_;  // the decoding thread's once it runs

  Ring ring_;

  // Under the event lock.
  bool stopped_ = false;
  TPcmFormat streamFormat_;  // of the samples the stream is made for; none before the first
  std::shared_ptr<TPulseLink> link_;
  pa_stream* stream_ = nullptr;
  bool streamReady_ = false;
  bool triggered_ = false;
  pa_time_event* retry_ = nullptr;
};

bool TStreamPlayer::Impl::Start() {
  std::lock_guard join(joinMutex_);
  if (thread_.joinable() || quit_) return true;
  decoder_ = MakeAudioDecoder(format_);
  loop_ = TEventLoop::Get();
  if (!decoder_ || !loop_) return false;
  loop_->Lock();
  ConnectLocked();  // warms up the connection while the first samples are decoded
  loop_->Unlock();
  thread_ = std::thread(&Impl::DecodeLoop, this);
  return true;
}

void TStreamPlayer::Impl::Stop() {
  quit_ = true;
  {
    std::lock_guard lock(ring_.mutex);
    ring_.quit = true;
  }
  ring_.changed.notify_all();
  // Held throughout: a Start on another thread either comes first, and is undone here, or
  // finds quit_ set.
  std::lock_guard join(joinMutex_);
  if (loop_) {
    loop_->Lock();
    stopped_ = true;
    if (retry_) loop_->Api()->time_free(retry_);
    retry_ = nullptr;
    DropStreamLocked();
    if (link_) link_->RemoveWaiter(this);
    link_.reset();
    loop_->Unlock();
  }
  if (thread_.joinable()) thread_.join();
}

void TStreamPlayer::Impl::DecodeLoop() {
  std::vector<std::uint8_t> input(kReadBytes);
  std::vector<std::int16_t> pcm;
  TPcmFormat format;
  while (!quit_) {
    if (decoder_->Decode(&pcm, &format)) {
      if (!pcm.empty() && Playable(format) && !Push(pcm, format)) return;
      continue;
    }
    if (const std::size_t n = download_->Read(input.data(), input.size())) {
      decoder_->Feed(input.data(), n);
      continue;
    }
    const TDownloadState state = download_->State();
    const bool over = state == TDownloadState::kEnded || state == TDownloadState::kFailed;
    // Checked after the state: bytes that came just before the end are still played.
    if (!download_->WaitReadable(over ? 0ms : kReadWait) && over) break;
  }
  FinishDecoding();
}

// False when the player stops meanwhile.
bool TStreamPlayer::Impl::Push(const std::vector<std::int16_t>& pcm, const TPcmFormat& format) {
  std::unique_lock lock(ring_.mutex);
  if (!(format == ring_.format)) {
    // What is queued plays out in the format it was made in before the stream is replaced.
    ring_.changed.wait(lock, [&] { return ring_.quit || ring_.used == 0; });
    if (ring_.quit) return false;
    lock.unlock();
    loop_->Lock();
    ChangeFormatLocked(format);
    loop_->Unlock();
    lock.lock();
  }
  const std::size_t capacity = ring_.data.size();
  // A chunk larger than the ring (no decoder makes one) is cut rather than waited on for ever.
  const std::size_t size = std::min(pcm.size(), capacity - capacity % format.channels);
  ring_.changed.wait(lock, [&] { return ring_.quit || capacity - ring_.used >= size; });
  if (ring_.quit) return false;
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min(size - done, capacity - ring_.head);
    std::memcpy(ring_.data.data() + ring_.head, pcm.data() + done, n * sizeof(std::int16_t));
    ring_.head = (ring_.head + n) % capacity;
    ring_.used += n;
    done += n;
  }
  if (!ring_.hungry) return true;
  ring_.hungry = false;
  lock.unlock();
  loop_->Lock();
  FeedLocked();
  loop_->Unlock();
  return true;
}

void TStreamPlayer::Impl::FinishDecoding() {
  {
    std::lock_guard lock(ring_.mutex);
    ring_.end = true;
  }
  loop_->Lock();
  FeedLocked();
  loop_->Unlock();
}

// Under the event lock, with the ring empty.
void TStreamPlayer::Impl::ChangeFormatLocked(const TPcmFormat& format) {
  DropStreamLocked();
  streamFormat_ = format;
  {
    std::lock_guard lock(ring_.mutex);
    const std::size_t frames = static_cast<std::size_t>(format.rate) * kRingMs / 1000;
    // Room for a large decoded chunk too, so that one always fits into an empty ring.
    ring_.data.assign(std::max<std::size_t>(frames, 2 * 4096) * format.channels, 0);
    ring_.head = ring_.tail = ring_.used = 0;
    ring_.format = format;
  }
  if (link_ && link_->StateLocked() == TPulseLink::kReady) {
    CreateStreamLocked();
  } else if (!link_ || link_->StateLocked() == TPulseLink::kFailed) {
    ConnectLocked();
  }
}

void TStreamPlayer::Impl::ConnectLocked() {
  if (stopped_) return;
  if (link_) link_->RemoveWaiter(this);
  link_ = TPulseLink::AcquireLocked(loop_);
  switch (link_->StateLocked()) {
    case TPulseLink::kFailed:
      return RetryLaterLocked();
    case TPulseLink::kConnecting:
      return link_->AddWaiter(this);
    case TPulseLink::kReady:
      return CreateStreamLocked();
  }
}

void TStreamPlayer::Impl::CreateStreamLocked() {
  // The stream is made once the first samples say at what rate and in how many channels.
  if (stopped_ || stream_ || streamFormat_.rate == 0) return;
  stream_ = ConnectS16Playback(link_->Context(), "Velmo radio", streamFormat_.rate,
                               streamFormat_.channels, kTargetLatencyUs, PA_STREAM_ADJUST_LATENCY,
                               &Impl::OnStreamState, &Impl::OnWrite, this);
  if (!stream_) return RetryLaterLocked();
  streamReady_ = false;
  triggered_ = false;
}

void TStreamPlayer::Impl::DropStreamLocked() {
  if (!stream_) return;
  DisconnectStream(stream_);
  stream_ = nullptr;
  streamReady_ = false;
}

void TStreamPlayer::Impl::RetryLaterLocked() {
  if (stopped_ || retry_) return;
  timeval at{};
  pa_gettimeofday(&at);
  pa_timeval_add(&at, kRetryUs);
  retry_ = loop_->Api()->time_new(loop_->Api(), &at, &Impl::OnRetry, this);
}

void TStreamPlayer::Impl::OnRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                                  void* self) {
  auto* d = static_cast<Impl*>(self);
  api->time_free(event);
  d->retry_ = nullptr;
  if (!d->stream_) d->ConnectLocked();
}

void TStreamPlayer::Impl::OnStreamState(pa_stream* stream, void* self) {
  auto* d = static_cast<Impl*>(self);
  switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
      d->streamReady_ = true;
      d->FeedLocked();
      break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
      // Lost with its server or its sink; the samples queued meanwhile play on the new one.
      d->DropStreamLocked();
      d->RetryLaterLocked();
      break;
    default:
      break;
  }
}

// Hands the server as many whole sample frames as it asks for, scaled by the volume.
void TStreamPlayer::Impl::FeedLocked() {
  if (!stream_ || !streamReady_) return;
  std::size_t writable = pa_stream_writable_size(stream_);
  if (writable == static_cast<std::size_t>(-1)) return;
  const float volume = volume_->load(std::memory_order_relaxed);
  bool drained = false;
  {
    std::lock_guard lock(ring_.mutex);
    const std::size_t frameSamples = static_cast<std::size_t>(std::max(1, ring_.format.channels));
    const std::size_t capacity = ring_.data.size();
    std::size_t samples = std::min(writable / sizeof(std::int16_t), ring_.used);
    samples -= samples % frameSamples;
    while (samples > 0) {
      std::size_t n = std::min(samples, capacity - ring_.tail);
      void* dst = nullptr;
      std::size_t bytes = n * sizeof(std::int16_t);
      if (pa_stream_begin_write(stream_, &dst, &bytes) < 0 || !dst) break;
      n = std::min(n, bytes / sizeof(std::int16_t));
      if (n == 0) {
        pa_stream_cancel_write(stream_);
        break;
      }
      auto* out = static_cast<std::int16_t*>(dst);
      const std::int16_t* src = ring_.data.data() + ring_.tail;
      if (volume >= 1.0f) {
        std::memcpy(out, src, n * sizeof(std::int16_t));
      } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::int16_t>(src[i] * volume);
      }
      if (pa_stream_write(stream_, dst, n * sizeof(std::int16_t), nullptr, 0, PA_SEEK_RELATIVE) < 0)
        break;
      ring_.tail = (ring_.tail + n) % capacity;
      ring_.used -= n;
      samples -= n;
    }
    if (ring_.used < frameSamples) {
      ring_.hungry = !ring_.end;
      drained = ring_.end;
    }
  }
  ring_.changed.notify_all();
  // The last samples of a stream that ended may be fewer than the server waits for to start.
  if (drained && !triggered_) {
    triggered_ = true;
    UnrefOperation(pa_stream_trigger(stream_, nullptr, nullptr));
  }
}

TStreamPlayer::TStreamPlayer(std::shared_ptr<TStreamDownload> download, TAudioFormat format,
                             const std::atomic<float>* volume)
    : d_(std::make_unique<Impl>(std::move(download), format, volume)) {}

TStreamPlayer::~TStreamPlayer() = default;

bool TStreamPlayer::Start() {
  return d_->Start();
}

void TStreamPlayer::Stop() {
  d_->Stop();
}

}  // namespace netstream
