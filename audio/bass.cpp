// Threading: any thread may call in. All library-wide state (initialisation, device, output
// volume, configuration and the stream table) lives in one Library object and is only touched
// with its mutex held. The last error is thread_local, so a call on one thread never changes
// the code another thread is about to read. The library starts no threads of its own yet;
// stream threads will own their own buffers and must run user callbacks without the mutex held,
// so a callback may call back into the library.
#include "audio/bass.h"

#include <map>
#include <memory>
#include <mutex>

#include "audio/streamaddress.h"

namespace {

constexpr DWORD kVersionHigh = 0x0204;
constexpr DWORD kBuildNumber = 1;

constexpr int kDefaultDevice = -1;
constexpr int kOnlyDevice = 1;  // the default sound server sink
constexpr DWORD kMinFreq = 8000;
constexpr DWORD kMaxFreq = 192000;
constexpr DWORD kMaxNetPlaylist = 2;

// Per-stream state. Decoding, download and output join it with the network stream work; the
// table exists now so Free, Stop and handle checks already go through it.
struct Stream {
  bool playing = false;
};

struct Library {
  std::mutex mutex;
  bool initialised = false;
  int device = 0;
  DWORD freq = 0;
  void* window = nullptr;
  // Kept across Free/Init: the player re-initialises on every play request without setting
  // the volume again, so resetting it would jump the new station to full volume.
  float volume = 1.0f;
  // Library-wide settings, independent of the device, so they also outlive Free.
  DWORD netPlaylist = 0;
  std::map<HSTREAM, std::unique_ptr<Stream>> streams;

  Stream* find(DWORD handle) {
    auto it = streams.find(handle);
    return it == streams.end() ? nullptr : it->second.get();
  }
};

Library& library() {
  static Library lib;
  return lib;
}

thread_local int lastError = BASS_OK;

template <typename T>
T fail(int code, T result) {
  lastError = code;
  return result;
}

template <typename T>
T succeed(T result) {
  lastError = BASS_OK;
  return result;
}

// Shared entry check of the per-stream calls: BASS_OK when the library is initialised and the
// handle names a live stream, otherwise the error to report.
int checkHandle(Library& lib, DWORD handle) {
  if (!lib.initialised) return BASS_ERROR_NOT_INIT;
  return lib.find(handle) ? BASS_OK : BASS_ERROR_HANDLE;
}

}  // namespace

extern "C" {

DWORD BASS_GetVersion() {
  return succeed((kVersionHigh << 16) | kBuildNumber);
}

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid) {
  (void)flags;  // no initialisation flags are defined; the player passes 0
  (void)clsid;  // only meaningful on other platforms
  if (device != kDefaultDevice && device != kOnlyDevice) return fail(BASS_ERROR_DEVICE, BASS_FALSE);
  if (freq < kMinFreq || freq > kMaxFreq) return fail(BASS_ERROR_ILLPARAM, BASS_FALSE);

  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (lib.initialised) return fail(BASS_ERROR_ALREADY, BASS_FALSE);
  // The sound server is contacted only when a stream first plays, so a desktop without one
  // can still start the player.
  lib.initialised = true;
  lib.device = kOnlyDevice;  // -1 and 1 name the same sink
  lib.freq = freq;
  lib.window = win;
  return succeed(BASS_TRUE);
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  switch (option) {
    case BASS_CONFIG_NET_PLAYLIST:
      if (value > kMaxNetPlaylist) return fail(BASS_ERROR_ILLPARAM, BASS_FALSE);
      lib.netPlaylist = value;
      return succeed(BASS_TRUE);
    default:
      return fail(BASS_ERROR_ILLPARAM, BASS_FALSE);
  }
}

DWORD BASS_GetConfig(DWORD option) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  switch (option) {
    case BASS_CONFIG_NET_PLAYLIST:
      return succeed(lib.netPlaylist);
    default:
      return fail(BASS_ERROR_ILLPARAM, static_cast<DWORD>(-1));
  }
}

BOOL BASS_Free() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, BASS_FALSE);
  lib.streams.clear();
  lib.initialised = false;
  lib.device = 0;
  lib.freq = 0;
  lib.window = nullptr;
  return succeed(BASS_TRUE);
}

BOOL BASS_Stop() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, BASS_FALSE);
  for (auto& [handle, stream] : lib.streams) stream->playing = false;
  return succeed(BASS_TRUE);
}

BOOL BASS_SetVolume(float volume) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, BASS_FALSE);
  // Written so that NaN, which fails every comparison, is rejected too.
  if (!(volume >= 0.0f && volume <= 1.0f)) return fail(BASS_ERROR_ILLPARAM, BASS_FALSE);
  lib.volume = volume;
  return succeed(BASS_TRUE);
}

float BASS_GetVolume() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, -1.0f);
  return succeed(lib.volume);
}

int BASS_ErrorGetCode() {
  return lastError;
}

BOOL BASS_StreamFree(HSTREAM handle) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, BASS_FALSE);
  lib.streams.erase(handle);
  return succeed(BASS_TRUE);
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                             void* user) {
  (void)offset;
  (void)flags;
  (void)proc;
  (void)user;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, HSTREAM{0});
  if (!url) return fail(BASS_ERROR_ILLPARAM, HSTREAM{0});
  if (int e = netstream::CheckStreamAddress(url)) return fail(e, HSTREAM{0});
  // Network streams are not part of this build yet; say so instead of handing out a handle
  // that would never play.
  return fail(BASS_ERROR_NOT_AVAILABLE, HSTREAM{0});
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  (void)mode;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, static_cast<QWORD>(-1));
  // A live stream can only come from BASS_StreamCreateURL, which is not available yet.
  return fail(BASS_ERROR_NOT_AVAILABLE, static_cast<QWORD>(-1));
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  (void)tags;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, static_cast<const char*>(nullptr));
  return fail(BASS_ERROR_NOT_AVAILABLE, static_cast<const char*>(nullptr));
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
  (void)type;
  (void)param;
  (void)proc;
  (void)user;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, HSYNC{0});
  return fail(BASS_ERROR_NOT_AVAILABLE, HSYNC{0});
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
  (void)restart;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, BASS_FALSE);
  return fail(BASS_ERROR_NOT_AVAILABLE, BASS_FALSE);
}

}  // extern "C"
