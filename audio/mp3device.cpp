// Threading:
// - The caller's thread ("main"): every public call. It opens and closes the file, starts and
//   joins the decoding thread, and changes mode, position and the stream together with the
//   event thread, under the event lock.
// - The sound server's event thread (one pa_threaded_mainloop for the whole process, TEventLoop,
//   shared by all devices and by every connection the process makes): runs the context, stream
//   and timer callbacks with the event lock held. The callbacks copy bytes from the ring to the
//   stream (applying the volume), wake the decoding thread and record the end of a drain. When
//   the stream or the connection is lost they also replace them: a timer takes the process's
//   connection again (a new one when the old has failed) and a new stream on it, until the
//   server is back or the device gives up.
// - The decoding thread (one per open device): owns the TMp3Decoder after Open and fills the
//   ring. When the stream went hungry it takes the event lock itself to hand over new bytes.
// Locks: the event lock (pa_threaded_mainloop_lock) first, then the ring mutex. The event lock
// is recursive for other threads; the event thread holds it already and must not take it. It
// stays the same object when a connection is replaced, so a device's state (its link_
// included) keeps one guard for its whole life. The decoding thread never holds the ring
// mutex while it takes the event lock, and the main thread never waits for the decoding thread
// while it holds the event lock.
#include "audio/mp3device.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "audio/pulselink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Server-side buffer we aim for: short enough that a volume change is heard soon, long enough
// that a busy machine does not starve the stream.
constexpr pa_usec_t kTargetLatencyUs = 200 * 1000;
constexpr int kRingMs = 500;        // decoded audio kept ahead of the stream
constexpr int kChunkFrames = 1152;  // one MPEG-1 Layer III frame per decoder read
// A server that went away (crashed, restarted, its device switched) is waited for this long
// before the device gives up; a restart takes a second or two, a crash under a session manager a
// few more.
constexpr Clock::duration kReconnectFor = 30s;
constexpr Clock::duration kFirstRetry = 250ms;
constexpr Clock::duration kLastRetry = 500ms;
// Besides the time: the delays above allow about 60 attempts in that time.
constexpr int kMaxAttempts = 150;

}  // namespace

class TMp3Device::Impl final : public TPulseClient {
 public:
  ~Impl() { Close(); }

  int Open(const QString& path);
  int Close();
  int Length(std::int64_t* ms) const;
  int Position(std::int64_t* ms);
  TMp3Mode Mode();
  int Play();
  int Pause();
  int Resume();
  int Stop();
  int Seek(std::int64_t ms);
  int LastError();

  std::atomic<int> volume{TMp3Device::kMaxVolume};

 private:
  // kRetrying: no stream, the timer tries again; kFailed: given up, asyncError_ says why.
  enum StreamState { kNoStream, kWaitingLink, kConnecting, kReady, kRetrying, kFailed };

  // Decoded PCM between the decoding thread (producer) and the stream (consumer), and the
  // commands the main thread sends the decoding thread. One mutex for all of it.
  struct Ring {
    std::mutex mutex;
    std::condition_variable wake;  // the decoder waits here for space or a command
    std::vector<std::uint8_t> data;
    std::size_t used = 0;
    // Producer side.
    std::size_t head = 0;
    bool eof = false;  // everything decodable is in the ring
    // Consumer side.
    std::size_t tail = 0;
    bool hungry = false;  // the stream wanted more than there was
    // Commands.
    std::uint64_t generation = 0;  // bumped whenever buffered audio becomes stale
    bool seekPending = false;
    std::int64_t seekTarget = 0;
    bool quit = false;

    std::size_t Free() const { return data.size() - used; }
  };

  void OnLinkReady() override { CreateStreamLocked(); }
  void OnLinkFailed() override { TroubleLocked(MP3_ERR_NO_SERVER, false); }

  void ConnectLocked();
  bool CreateStreamLocked();
  void DropStreamLocked();
  void TroubleLocked(int error, bool lost);
  void FailLocked(int error);
  void ArmTimerLocked(Clock::time_point when);
  void FreeTimerLocked();
  void FeedLocked();
  void RestartLocked(std::int64_t sample);
  void CorkLocked(bool cork);
  void CancelDrainLocked();
  std::int64_t HeardLocked();
  std::int64_t NowLocked();
  std::int64_t ToMs(std::int64_t frames) const { return frames * 1000 / rate_; }
  void DecodeLoop();

  static void OnStreamState(pa_stream* stream, void* self);
  static void OnWrite(pa_stream*, std::size_t, void* self) {
    static_cast<Impl*>(self)->FeedLocked();
  }
  static void OnDrained(pa_stream*, int, void* self);
  static void OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

  // The main thread's: set by the first Open and kept, so the lock it gives stays one.
  std::shared_ptr<TEventLoop> loop_;
  bool open_ = false;

  // Set by Open and fixed until Close.
  TMp3Decoder decoder_;  // the decoding thread's between Open and Close
  long rate_ = 0;
  std::size_t frameBytes_ = 0;
  std::size_t chunkBytes_ = 0;
  std::int64_t length_ = 0;
  std::thread thread_;

  // Under the event lock (from Open to Close).
  std::shared_ptr<TPulseLink> link_;
  pa_stream* stream_ = nullptr;
  StreamState streamState_ = kNoStream;
  TMp3Mode mode_ = TMp3Mode::NotReady;
  std::int64_t pos_ = 0;        // what is heard while not playing from a ready stream, frames
  std::int64_t base_ = 0;       // where the audio in the stream starts since the last restart
  std::int64_t written_ = 0;    // file position after the last frame handed to the stream
  std::int64_t lastHeard_ = 0;  // keeps the reported position from stepping back
  pa_operation* drain_ = nullptr;
  // After a restart the stream stays corked until it holds a full buffer: a sink that finds a
  // just-started stream short plays on past it, and what arrives late is then dropped.
  bool filling_ = false;
  int asyncError_ = MP3_OK;
  // Waiting for a lost server or stream to come back: until deadline_, with a retry timer.
  bool reconnecting_ = false;
  Clock::time_point deadline_;
  Clock::duration retryDelay_ = kFirstRetry;
  int attempts_ = 0;
  int trouble_ = MP3_OK;  // what the last failure was, reported if the device gives up
  pa_time_event* timer_ = nullptr;

  Ring ring_;
};

int TMp3Device::Impl::Open(const QString& path) {
  Close();
  if (const int e = decoder_.Open(path)) return e;
  rate_ = decoder_.Rate();
  frameBytes_ = static_cast<std::size_t>(decoder_.FrameBytes());
  chunkBytes_ = kChunkFrames * frameBytes_;
  length_ = decoder_.LengthSamples();
  const std::size_t ringChunks =
      std::max<std::size_t>(4, static_cast<std::size_t>(rate_) * kRingMs / 1000 / kChunkFrames);
  ring_.data.assign(ringChunks * chunkBytes_, 0);
  ring_.used = ring_.head = ring_.tail = 0;
  ring_.eof = ring_.hungry = ring_.seekPending = ring_.quit = false;

  if (!loop_) loop_ = TEventLoop::Get();
  if (!loop_) {
    Close();
    return MP3_ERR_NO_SERVER;
  }
  loop_->Lock();
  asyncError_ = MP3_OK;
  pos_ = base_ = written_ = lastHeard_ = 0;
  mode_ = TMp3Mode::Stopped;
  reconnecting_ = false;
  // Neither waits: a server that is not there now either has not been there (an answer at
  // once) or went away a moment ago, and is then waited for as during playback.
  ConnectLocked();
  const int result = streamState_ == kFailed ? asyncError_ : MP3_OK;
  loop_->Unlock();
  if (result != MP3_OK) {
    Close();
    return result;
  }
  open_ = true;
  thread_ = std::thread(&Impl::DecodeLoop, this);
  return MP3_OK;
}

int TMp3Device::Impl::Close() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(ring_.mutex);
      ring_.quit = true;
    }
    ring_.wake.notify_all();
    thread_.join();
  }
  if (loop_) {
    loop_->Lock();
    FreeTimerLocked();
    CancelDrainLocked();
    DropStreamLocked();
    link_.reset();
    reconnecting_ = false;
    mode_ = TMp3Mode::NotReady;
    loop_->Unlock();
  }
  open_ = false;
  mode_ = TMp3Mode::NotReady;
  decoder_.Close();
  ring_.data.clear();
  return MP3_OK;
}

// Takes the process's connection (a new one when the last has failed) and a stream on it, or
// waits for the connection to settle.
void TMp3Device::Impl::ConnectLocked() {
  if (link_) link_->RemoveWaiter(this);
  link_ = TPulseLink::AcquireLocked(loop_);
  switch (link_->StateLocked()) {
    case TPulseLink::kFailed:
      TroubleLocked(MP3_ERR_NO_SERVER, false);
      return;
    case TPulseLink::kReady:
      if (!CreateStreamLocked()) return;
      break;
    case TPulseLink::kConnecting:
      streamState_ = kWaitingLink;
      link_->AddWaiter(this);
      break;
  }
  // A server that accepts and then says nothing must not hold the device past its bound.
  if (reconnecting_) ArmTimerLocked(deadline_);
}

bool TMp3Device::Impl::CreateStreamLocked() {
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
  stream_ = ConnectS16Playback(link_->Context(), "Velmo", rate_, static_cast<int>(frameBytes_ / 2),
                               kTargetLatencyUs, flags, &Impl::OnStreamState, &Impl::OnWrite, this);
  if (!stream_) {
    TroubleLocked(MP3_ERR_STREAM, false);
    return false;
  }
  streamState_ = kConnecting;
  return true;
}

// Also from the stream's own state callback, where the library still holds a reference.
void TMp3Device::Impl::DropStreamLocked() {
  pos_ = NowLocked();
  if (link_) link_->RemoveWaiter(this);
  if (stream_) DisconnectStream(stream_);
  stream_ = nullptr;
  streamState_ = kNoStream;
}

// A connection or stream failed. `lost`: one that had worked, or went with its server. Such a
// loss is waited out, and so is any failure while a server the process had is missing: the
// mode and the position stay what the listener left, and the timer tries again. Anything else,
// or the bound passing, stops the device with the error.
void TMp3Device::Impl::TroubleLocked(int error, bool lost) {
  CancelDrainLocked();
  DropStreamLocked();
  trouble_ = error;
  const Clock::time_point now = Clock::now();
  if (!reconnecting_) {
    const std::optional<Clock::time_point> serverLost = TPulseLink::LostAtLocked();
    if (lost) {
      deadline_ = now + kReconnectFor;
    } else if (error == MP3_ERR_NO_SERVER && serverLost && now - *serverLost < kReconnectFor) {
      deadline_ = *serverLost + kReconnectFor;
    } else {
      return FailLocked(error);
    }
    reconnecting_ = true;
    attempts_ = 0;
    retryDelay_ = kFirstRetry;
  }
  if (now >= deadline_ || attempts_ >= kMaxAttempts) return FailLocked(error);
  streamState_ = kRetrying;
  ArmTimerLocked(std::min(now + retryDelay_, deadline_));
  retryDelay_ = std::min(retryDelay_ * 2, kLastRetry);
}

void TMp3Device::Impl::FailLocked(int error) {
  FreeTimerLocked();
  DropStreamLocked();
  reconnecting_ = false;
  streamState_ = kFailed;
  asyncError_ = error;
  CancelDrainLocked();
  if (mode_ == TMp3Mode::Playing || mode_ == TMp3Mode::Paused) mode_ = TMp3Mode::Stopped;
}

void TMp3Device::Impl::OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                               void* self) {
  auto* d = static_cast<Impl*>(self);
  d->FreeTimerLocked();
  if (!d->reconnecting_) return;
  if (Clock::now() >= d->deadline_) return d->FailLocked(d->trouble_);
  if (d->streamState_ == kRetrying) {
    ++d->attempts_;
    d->ConnectLocked();
  } else {
    d->ArmTimerLocked(d->deadline_);  // woken a moment early while connecting
  }
}

void TMp3Device::Impl::ArmTimerLocked(Clock::time_point when) {
  FreeTimerLocked();
  const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(when - Clock::now());
  const auto us = static_cast<pa_usec_t>(std::max<std::int64_t>(0, wait.count()));
  // On the monotonic clock, which only a context can ask for: a clock step must not stretch
  // the wait. The event belongs to the loop and outlives the context.
  if (pa_context* context = link_ ? link_->Context() : nullptr) {
    timer_ = pa_context_rttime_new(context, pa_rtclock_now() + us, &Impl::OnTimer, this);
    return;
  }
  timeval at{};
  pa_gettimeofday(&at);
  pa_timeval_add(&at, us);
  timer_ = loop_->Api()->time_new(loop_->Api(), &at, &Impl::OnTimer, this);
}

void TMp3Device::Impl::FreeTimerLocked() {
  if (timer_) loop_->Api()->time_free(timer_);
  timer_ = nullptr;
}

void TMp3Device::Impl::OnStreamState(pa_stream* stream, void* self) {
  auto* d = static_cast<Impl*>(self);
  switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
      d->streamState_ = kReady;
      d->FreeTimerLocked();
      if (d->reconnecting_) {
        d->reconnecting_ = false;
        // The new stream holds nothing: refill it from where the listener was.
        if (d->mode_ == TMp3Mode::Playing || d->mode_ == TMp3Mode::Paused) {
          d->RestartLocked(d->pos_);
        }
      }
      if (d->mode_ == TMp3Mode::Playing && !d->filling_) d->CorkLocked(false);
      d->FeedLocked();
      break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED: {
      // Gone with its server, or moved off a sink that went away; a stream the server refused
      // outright is an answer.
      const bool serverGone =
          pa_context_get_state(pa_stream_get_context(stream)) != PA_CONTEXT_READY;
      d->TroubleLocked(serverGone ? MP3_ERR_NO_SERVER : MP3_ERR_STREAM,
                       serverGone || d->streamState_ == kReady);
      break;
    }
    default:
      break;
  }
}

void TMp3Device::Impl::OnDrained(pa_stream*, int, void* self) {
  auto* d = static_cast<Impl*>(self);
  if (!d->drain_) return;
  pa_operation_unref(d->drain_);
  d->drain_ = nullptr;
  if (d->mode_ != TMp3Mode::Playing) return;
  d->pos_ = std::min(d->written_, d->length_);
  d->lastHeard_ = d->pos_;
  // Not corked: the sink may still be playing the last few milliseconds, which a cork would
  // cut off. The stream is empty, so it stays silent; Play flushes it anyway.
  d->mode_ = TMp3Mode::Stopped;
}

// Moves whole PCM frames from the ring to the stream, as many as the server asks for.
void TMp3Device::Impl::FeedLocked() {
  if (!stream_ || streamState_ != kReady) return;
  if (mode_ != TMp3Mode::Playing && mode_ != TMp3Mode::Paused) return;
  std::size_t writable = pa_stream_writable_size(stream_);
  if (writable == static_cast<std::size_t>(-1)) return;
  // Keeps lastHeard_ fresh: a stream that fails has no timing left to ask, and playing goes on
  // from lastHeard_ once the server is back.
  if (mode_ == TMp3Mode::Playing) HeardLocked();
  const int vol = volume.load(std::memory_order_relaxed);
  bool atEnd = false;
  {
    std::lock_guard lock(ring_.mutex);
    const std::size_t capacity = ring_.data.size();
    while (writable >= frameBytes_ && ring_.used >= frameBytes_) {
      std::size_t n = std::min({writable, ring_.used, capacity - ring_.tail});
      n -= n % frameBytes_;
      if (n == 0) break;
      void* dst = nullptr;
      std::size_t got = n;
      if (pa_stream_begin_write(stream_, &dst, &got) < 0 || !dst) break;
      got = std::min(got, n);
      got -= got % frameBytes_;
      if (got == 0) {
        pa_stream_cancel_write(stream_);
        break;
      }
      const std::uint8_t* src = ring_.data.data() + ring_.tail;
      if (vol >= TMp3Device::kMaxVolume) {
        std::memcpy(dst, src, got);
      } else {
        auto* out = static_cast<std::uint8_t*>(dst);
        for (std::size_t i = 0; i + 1 < got; i += 2) {
          std::int16_t s;
          std::memcpy(&s, src + i, 2);
          s = static_cast<std::int16_t>(s * vol / TMp3Device::kMaxVolume);
          std::memcpy(out + i, &s, 2);
        }
      }
      if (pa_stream_write(stream_, dst, got, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
      ring_.tail = (ring_.tail + got) % capacity;
      ring_.used -= got;
      writable -= got;
      written_ += static_cast<std::int64_t>(got / frameBytes_);
    }
    if (filling_ && mode_ == TMp3Mode::Playing && (writable < frameBytes_ || ring_.eof)) {
      filling_ = false;
      CorkLocked(false);
    }
    if (ring_.used < frameBytes_) {
      if (ring_.eof) {
        atEnd = true;
      } else {
        ring_.hungry = true;
      }
    }
  }
  ring_.wake.notify_one();
  // Everything decodable is in the stream: it stays playing until the server has played it.
  if (atEnd && !drain_ && mode_ == TMp3Mode::Playing) {
    drain_ = pa_stream_drain(stream_, &Impl::OnDrained, this);
  }
}

// Drops everything buffered and has the decoder go on from `sample`; the stream starts again
// once it is full.
void TMp3Device::Impl::RestartLocked(std::int64_t sample) {
  CancelDrainLocked();
  CorkLocked(true);
  filling_ = true;
  if (stream_ && streamState_ == kReady) UnrefOperation(pa_stream_flush(stream_, nullptr, nullptr));
  base_ = written_ = lastHeard_ = sample;
  {
    std::lock_guard lock(ring_.mutex);
    ring_.used = ring_.head = ring_.tail = 0;
    ring_.eof = false;
    ring_.hungry = true;
    ring_.seekPending = true;
    ring_.seekTarget = sample;
    ++ring_.generation;
  }
  ring_.wake.notify_one();
}

void TMp3Device::Impl::CorkLocked(bool cork) {
  if (stream_ && streamState_ == kReady) {
    UnrefOperation(pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr));
  }
}

void TMp3Device::Impl::CancelDrainLocked() {
  if (!drain_) return;
  pa_operation_cancel(drain_);
  pa_operation_unref(drain_);
  drain_ = nullptr;
}

// The file position being heard: the end of what was written, less what the server still
// holds. Worked out from the server's timing report rather than its interpolation, which keeps
// running while the sink has not yet started taking the stream (a sink that had rendered far
// ahead while idle), and would report audio as heard before anyone heard it.
std::int64_t TMp3Device::Impl::HeardLocked() {
  std::int64_t heard = lastHeard_;
  const pa_timing_info* t =
      stream_ && streamState_ == kReady ? pa_stream_get_timing_info(stream_) : nullptr;
  if (t && !t->write_index_corrupt && !t->read_index_corrupt) {
    const auto toFrames = [this](pa_usec_t us) {
      return static_cast<std::int64_t>(us * static_cast<pa_usec_t>(rate_) / 1000000);
    };
    // Frames the sink had taken but not yet played at the report. Since then the sink has
    // played on; while the stream plays it also takes more, so the difference can go below
    // zero, but a stream that is not playing (starting up, run dry at the end) can at most
    // have its taken frames played out.
    std::int64_t inSink = toFrames(t->sink_usec) - toFrames(t->transport_usec) -
                          toFrames(pa_timeval_age(&t->timestamp));
    if (!t->playing) inSink = std::max<std::int64_t>(0, inSink);
    const std::int64_t queued =
        (t->write_index - t->read_index) / static_cast<std::int64_t>(frameBytes_);
    heard = written_ - std::max<std::int64_t>(0, queued + inSink);
  }
  heard = std::clamp(heard, base_, written_);
  heard = std::max(heard, lastHeard_);
  lastHeard_ = heard;
  return std::min(heard, length_);
}

// What the listener has heard: the ready stream's account while playing, else pos_.
std::int64_t TMp3Device::Impl::NowLocked() {
  return mode_ == TMp3Mode::Playing && stream_ && streamState_ == kReady ? HeardLocked() : pos_;
}

void TMp3Device::Impl::DecodeLoop() {
  std::vector<std::uint8_t> chunk(chunkBytes_);
  std::size_t carry = 0;  // bytes of a PCM frame split by the decoder, kept for the next push
  std::unique_lock lock(ring_.mutex);
  for (;;) {
    ring_.wake.wait(lock, [&] {
      return ring_.quit || ring_.seekPending || (!ring_.eof && ring_.Free() >= chunkBytes_);
    });
    if (ring_.quit) return;
    const std::uint64_t generation = ring_.generation;
    if (ring_.seekPending) {
      ring_.seekPending = false;
      const std::int64_t target = ring_.seekTarget;
      lock.unlock();
      const bool ok = decoder_.Seek(target);
      lock.lock();
      carry = 0;
      if (generation != ring_.generation) continue;
      if (!ok) ring_.eof = true;
    } else {
      const std::size_t want = std::min(ring_.Free(), chunkBytes_) - carry;
      lock.unlock();
      bool end = false;
      const std::size_t got = decoder_.Read(chunk.data() + carry, want, &end);
      lock.lock();
      if (generation != ring_.generation) continue;  // stopped or moved meanwhile: stale
      const std::size_t total = carry + got;
      const std::size_t whole = total - total % frameBytes_;
      const std::size_t capacity = ring_.data.size();
      for (std::size_t done = 0; done < whole;) {
        const std::size_t n = std::min(whole - done, capacity - ring_.head);
        std::memcpy(ring_.data.data() + ring_.head, chunk.data() + done, n);
        ring_.head = (ring_.head + n) % capacity;
        ring_.used += n;
        done += n;
      }
      carry = total - whole;
      if (carry) std::memmove(chunk.data(), chunk.data() + whole, carry);
      if (end) ring_.eof = true;
    }
    if (ring_.hungry && (ring_.used >= frameBytes_ || ring_.eof)) {
      ring_.hungry = false;
      lock.unlock();
      loop_->Lock();
      FeedLocked();
      loop_->Unlock();
      lock.lock();
    }
  }
}

int TMp3Device::Impl::Length(std::int64_t* ms) const {
  if (!ms) return MP3_ERR_ARGUMENT;
  if (!decoder_.IsOpen()) return MP3_ERR_NOT_OPEN;
  *ms = decoder_.LengthMs();
  return MP3_OK;
}

int TMp3Device::Impl::Position(std::int64_t* ms) {
  if (!ms) return MP3_ERR_ARGUMENT;
  if (!open_) return MP3_ERR_NOT_OPEN;
  loop_->Lock();
  const std::int64_t frames = NowLocked();
  loop_->Unlock();
  *ms = ToMs(frames);
  return MP3_OK;
}

TMp3Mode TMp3Device::Impl::Mode() {
  if (!open_) return TMp3Mode::NotReady;
  loop_->Lock();
  const TMp3Mode mode = mode_;
  loop_->Unlock();
  return mode;
}

int TMp3Device::Impl::Play() {
  if (!open_) return MP3_ERR_NOT_OPEN;
  loop_->Lock();
  int result = MP3_OK;
  if (streamState_ == kFailed) {
    result = asyncError_ ? asyncError_ : MP3_ERR_STREAM;
  } else if (mode_ == TMp3Mode::Paused) {
    mode_ = TMp3Mode::Playing;
    if (!filling_) CorkLocked(false);
    FeedLocked();
  } else if (mode_ == TMp3Mode::Stopped) {
    RestartLocked(pos_);
    mode_ = TMp3Mode::Playing;  // FeedLocked uncorks the stream once it is full
  }
  loop_->Unlock();
  return result;
}

int TMp3Device::Impl::Pause() {
  if (!open_) return MP3_ERR_NOT_OPEN;
  loop_->Lock();
  int result = MP3_OK;
  if (mode_ == TMp3Mode::Playing) {
    pos_ = NowLocked();
    mode_ = TMp3Mode::Paused;
    // A pending drain could end while corked and leave nothing to resume; asked again later.
    CancelDrainLocked();
    CorkLocked(true);
  } else if (mode_ != TMp3Mode::Paused) {
    result = MP3_ERR_MODE;
  }
  loop_->Unlock();
  return result;
}

int TMp3Device::Impl::Resume() {
  if (!open_) return MP3_ERR_NOT_OPEN;
  loop_->Lock();
  int result = MP3_OK;
  if (mode_ == TMp3Mode::Paused) {
    mode_ = TMp3Mode::Playing;
    if (!filling_) CorkLocked(false);
    FeedLocked();
  } else if (mode_ != TMp3Mode::Playing) {
    result = streamState_ == kFailed && asyncError_ ? asyncError_ : MP3_ERR_MODE;
  }
  loop_->Unlock();
  return result;
}

int TMp3Device::Impl::Stop() {
  if (!open_) return MP3_ERR_NOT_OPEN;
  loop_->Lock();
  pos_ = NowLocked();
  if (mode_ == TMp3Mode::Playing || mode_ == TMp3Mode::Paused) {
    mode_ = TMp3Mode::Stopped;
    CancelDrainLocked();
    CorkLocked(true);
    if (stream_ && streamState_ == kReady)
      UnrefOperation(pa_stream_flush(stream_, nullptr, nullptr));
  }
  loop_->Unlock();
  return MP3_OK;
}

int TMp3Device::Impl::Seek(std::int64_t ms) {
  if (!open_) return MP3_ERR_NOT_OPEN;
  if (ms < 0 || ms > decoder_.LengthMs()) return MP3_ERR_RANGE;
  const std::int64_t sample = std::min(ms * rate_ / 1000, length_);
  loop_->Lock();
  pos_ = sample;
  if (mode_ == TMp3Mode::Playing || mode_ == TMp3Mode::Paused) {
    RestartLocked(sample);
    if (mode_ == TMp3Mode::Playing) FeedLocked();
  }
  loop_->Unlock();
  return MP3_OK;
}

int TMp3Device::Impl::LastError() {
  if (!open_) return MP3_OK;
  loop_->Lock();
  const int error = asyncError_;
  loop_->Unlock();
  return error;
}

TMp3Device::TMp3Device() : d_(std::make_unique<Impl>()) {}

TMp3Device::~TMp3Device() = default;

int TMp3Device::Open(const QString& path) {
  return d_->Open(path);
}

int TMp3Device::Close() {
  return d_->Close();
}

int TMp3Device::Length(std::int64_t* ms) const {
  return d_->Length(ms);
}

int TMp3Device::Position(std::int64_t* ms) const {
  return d_->Position(ms);
}

TMp3Mode TMp3Device::Mode() const {
  return d_->Mode();
}

int TMp3Device::Play() {
  return d_->Play();
}

int TMp3Device::Pause() {
  return d_->Pause();
}

int TMp3Device::Resume() {
  return d_->Resume();
}

int TMp3Device::Stop() {
  return d_->Stop();
}

int TMp3Device::Seek(std::int64_t ms) {
  return d_->Seek(ms);
}

int TMp3Device::SetVolume(int value) {
  if (value < 0 || value > kMaxVolume) return MP3_ERR_RANGE;
  d_->volume = value;
  return MP3_OK;
}

int TMp3Device::Volume() const {
  return d_->volume;
}

int TMp3Device::LastError() const {
  return d_->LastError();
}
