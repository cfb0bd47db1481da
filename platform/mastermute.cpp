#include "platform/mastermute.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <chrono>

namespace platform {
namespace {

// Long enough for a busy server on a loaded machine, short enough for a click handler.
constexpr std::chrono::milliseconds kMuteBound{2000};
constexpr int kPending = -1;

struct MuteCall {
  bool muted = false;
  int result = kPending;

  // The first outcome stands: a late callback after a time-out changes nothing.
  void finish(int r) {
    if (result == kPending) result = r;
  }
};

int connectionError(int paError) {
  switch (paError) {
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
    case PA_ERR_VERSION:
      return kMuteRefused;
    default:
      return kMuteNoServer;
  }
}

int requestError(int paError) {
  switch (paError) {
    case PA_ERR_NOENTITY:
      return kMuteNoSink;
    case PA_ERR_CONNECTIONTERMINATED:
      return kMuteNoServer;
    default:
      return kMuteRefused;
  }
}

void onMuteSet(pa_context* context, int success, void* data) {
  auto* call = static_cast<MuteCall*>(data);
  call->finish(success ? kMuteOk : requestError(pa_context_errno(context)));
}

void onServerInfo(pa_context* context, const pa_server_info* info, void* data) {
  auto* call = static_cast<MuteCall*>(data);
  if (!info) return call->finish(requestError(pa_context_errno(context)));
  if (!info->default_sink_name || !*info->default_sink_name) return call->finish(kMuteNoSink);
  pa_operation* op = pa_context_set_sink_mute_by_name(context, info->default_sink_name,
                                                      call->muted ? 1 : 0, onMuteSet, call);
  if (!op) return call->finish(requestError(pa_context_errno(context)));
  pa_operation_unref(op);
}

void onContextState(pa_context* context, void* data) {
  auto* call = static_cast<MuteCall*>(data);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
      pa_operation* op = pa_context_get_server_info(context, onServerInfo, call);
      if (!op) return call->finish(requestError(pa_context_errno(context)));
      pa_operation_unref(op);
      break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      call->finish(connectionError(pa_context_errno(context)));
      break;
    default:
      break;
  }
}

}  // namespace

int setMasterMute(bool muted) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kMuteBound;
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return kMuteNoServer;
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Velmo");
  if (!context) {
    pa_mainloop_free(loop);
    return kMuteNoServer;
  }
  MuteCall call;
  call.muted = muted;
  pa_context_set_state_callback(context, onContextState, &call);
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    call.finish(connectionError(pa_context_errno(context)));

  // Iterating by hand lets each poll wait only for what is left of the bound.
  while (call.result == kPending) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      call.finish(kMuteTimeout);
      break;
    }
    if (pa_mainloop_prepare(loop, static_cast<int>(left)) < 0 || pa_mainloop_poll(loop) < 0 ||
        pa_mainloop_dispatch(loop) < 0)
      call.finish(kMuteNoServer);
  }

  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_disconnect(context);
  pa_context_unref(context);
  pa_mainloop_free(loop);
  return call.result;
}

}  // namespace platform
