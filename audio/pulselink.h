#pragma once
// The process's connection to the PulseAudio server, shared by every player that makes sound:
// one threaded event loop for the whole process and one context on it, replaced when it fails.
//
// Threading: the event loop's thread runs every context, stream and timer callback with the
// event lock held; everything else here needs that lock too (TEventLoop::Lock). The lock stays
// the same object for the life of the process, so a player's state keeps one guard while
// connections come and go.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

inline constexpr pa_usec_t kPulseConnectTimeoutUs = 5 * 1000 * 1000;

// The process's event loop: one for every connection, so that its lock, which guards the state
// of every device, stays the same while connections come and go.
class TEventLoop {
 public:
  // Made and started on first use; null if that fails.
  static std::shared_ptr<TEventLoop> Get() {
    static const std::shared_ptr<TEventLoop> loop = Make();
    return loop;
  }

  ~TEventLoop() {
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  void Lock() { pa_threaded_mainloop_lock(loop_); }
  void Unlock() { pa_threaded_mainloop_unlock(loop_); }
  // The event thread holds the lock already and may not take it again.
  bool InEventThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }
  pa_mainloop_api* Api() const { return pa_threaded_mainloop_get_api(loop_); }

 private:
  explicit TEventLoop(pa_threaded_mainloop* loop) : loop_(loop) {}

  static std::shared_ptr<TEventLoop> Make() {
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    if (!loop) return nullptr;
    if (pa_threaded_mainloop_start(loop) < 0) {
      pa_threaded_mainloop_free(loop);
      return nullptr;
    }
    return std::shared_ptr<TEventLoop>(new TEventLoop(loop));
  }

  pa_threaded_mainloop* loop_;
};

// Told by the link when the connection it was waiting for is settled; called on the event
// thread with the event lock held.
class TPulseClient {
 public:
  virtual void OnLinkReady() = 0;
  virtual void OnLinkFailed() = 0;

 protected:
  ~TPulseClient() = default;
};

// The process's connection to the sound server. Connecting is asynchronous; a link that failed
// is replaced by the next AcquireLocked, so a server that comes back is found again. Everything
// here needs the event lock.
class TPulseLink {
 public:
  enum State { kConnecting, kReady, kFailed };

  static std::shared_ptr<TPulseLink> AcquireLocked(const std::shared_ptr<TEventLoop>& loop) {
    static std::shared_ptr<TPulseLink> current;
    if (current && current->state_ != kFailed) return current;
    current.reset(new TPulseLink(loop));
    current->Start();
    return current;
  }

  // When a connection that had been ready last failed: a server the process had and lost.
  static std::optional<std::chrono::steady_clock::time_point> LostAtLocked() { return lostAt_; }

  // A device that moves to a new link may drop the old one on the event thread.
  ~TPulseLink() {
    const bool outside = !loop_->InEventThread();
    if (outside) loop_->Lock();
    FreeTimer();
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (outside) loop_->Unlock();
  }

  pa_context* Context() const { return context_; }
  State StateLocked() const { return state_; }
  void AddWaiter(TPulseClient* client) { waiters_.push_back(client); }
  void RemoveWaiter(TPulseClient* client) { std::erase(waiters_, client); }

 private:
  explicit TPulseLink(std::shared_ptr<TEventLoop> loop) : loop_(std::move(loop)) {}

  void Start() {
    context_ = pa_context_new(loop_->Api(), "Velmo");
    if (!context_) {
      state_ = kFailed;
      return;
    }
    pa_context_set_state_callback(context_, &TPulseLink::OnContextState, this);
    // No autospawn: starting a server could take long, and a missing server is an answer.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      state_ = kFailed;
      return;
    }
    if (state_ == kConnecting) {
      timer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kPulseConnectTimeoutUs,
                                     &TPulseLink::OnConnectTimeout, this);
    }
  }

  void FreeTimer() {
    if (timer_) loop_->Api()->time_free(timer_);
    timer_ = nullptr;
  }

  void Settle(State state) {
    FreeTimer();
    if (state == kFailed && state_ == kReady) lostAt_ = std::chrono::steady_clock::now();
    state_ = state;
    const std::vector<TPulseClient*> waiters = std::move(waiters_);
    waiters_.clear();
    for (TPulseClient* client : waiters) {
      if (state == kReady) {
        client->OnLinkReady();
      } else {
        client->OnLinkFailed();
      }
    }
  }

  static void OnContextState(pa_context* context, void* self) {
    auto* link = static_cast<TPulseLink*>(self);
    switch (pa_context_get_state(context)) {
      case PA_CONTEXT_READY:
        link->Settle(kReady);
        break;
      case PA_CONTEXT_FAILED:
      case PA_CONTEXT_TERMINATED:
        link->Settle(kFailed);
        break;
      default:
        break;
    }
  }

  static void OnConnectTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                               void* self) {
    auto* link = static_cast<TPulseLink*>(self);
    link->FreeTimer();
    // A server that accepts but never answers must not keep devices waiting forever.
    if (link->state_ == kConnecting) pa_context_disconnect(link->context_);
  }

  static inline std::optional<std::chrono::steady_clock::time_point> lostAt_;

  std::shared_ptr<TEventLoop> loop_;
  pa_context* context_ = nullptr;
  pa_time_event* timer_ = nullptr;
  State state_ = kConnecting;
  std::vector<TPulseClient*> waiters_;
};

inline void UnrefOperation(pa_operation* op) {
  if (op) pa_operation_unref(op);
}

// Removes a stream's callbacks and lets it go; also from its own state callback, where the
// library still holds a reference.
inline void DisconnectStream(pa_stream* stream) {
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
}

// A playback stream of signed 16-bit samples to the default sink, asking the server to hold
// about `latencyUs`, with its callbacks set before it connects. Null when the server refuses it.
inline pa_stream* ConnectS16Playback(pa_context* context, const char* name, long rate, int channels,
                                     pa_usec_t latencyUs, pa_stream_flags_t flags,
                                     pa_stream_notify_cb_t onState, pa_stream_request_cb_t onWrite,
                                     void* user) {
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16NE;
  spec.rate = static_cast<std::uint32_t>(rate);
  spec.channels = static_cast<std::uint8_t>(channels);
  pa_channel_map map;
  if (!pa_sample_spec_valid(&spec) ||
      !pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT))
    return nullptr;
  pa_stream* stream = pa_stream_new(context, name, &spec, &map);
  if (!stream) return nullptr;
  pa_stream_set_state_callback(stream, onState, user);
  pa_stream_set_write_callback(stream, onWrite, user);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(latencyUs, &spec));
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
    DisconnectStream(stream);
    return nullptr;
  }
  return stream;
}
