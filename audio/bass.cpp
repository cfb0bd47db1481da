// Threading: any thread may call in. All library-wide state (initialisation, device, output
// volume, configuration and the stream table) lives in one Library object and is only touched
// with its mutex held. The last error is thread_local, so a call on one thread never changes
// the code another thread is about to read. Each stream's download runs on a thread of its own
// (streamdownload.h) and calls the program's callbacks there without any lock held, so a
// callback may call back into the library. Once played, a stream also has a decoding thread and
// the sound server's event thread (streamplayer.h); neither takes the Library mutex, and they
// read the output volume from an atomic. Players and downloads are stopped, which joins their
// threads, only after the Library mutex is released. BASS_StreamCreateURL waits on its caller's
// thread until the stream opens or fails; BASS_Free from another thread ends that wait at once.
#include "audio/bass.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "audio/streamaddress.h"
#include "audio/streamdecoder.h"
#include "audio/streamdownload.h"
#include "audio/streamplayer.h"

namespace {

constexpr DWORD kVersionHigh = 0x0204;
constexpr DWORD kBuildNumber = 1;

constexpr int kDefaultDevice = -1;
constexpr int kOnlyDevice = 1;  // the default sound server sink
constexpr DWORD kMinFreq = 8000;
constexpr DWORD kMaxFreq = 192000;
constexpr DWORD kMaxNetPlaylist = 2;

// The metadata syncs set on a stream. The download thread reads them, any thread adds to them.
struct SyncSlot {
  struct Sync {
    HSYNC handle;
    SYNCPROC* proc;
    void* user;
  };
  std::mutex mutex;
  std::vector<Sync> syncs;
};

// Per-stream state. Decoding and output join the download here.
struct Stream {
  netstream::TAudioFormat format = netstream::TAudioFormat::kUnknown;
  std::shared_ptr<netstream::TStreamDownload> download;
  std::shared_ptr<netstream::TStreamPlayer> player;  // from the first play; null once stopped
  std::shared_ptr<SyncSlot> syncs = std::make_shared<SyncSlot>();
};

using StreamTable = std::map<HSTREAM, std::unique_ptr<Stream>>;

struct Library {
  std::mutex mutex;
  bool initialised = false;
  int device = 0;
  DWORD freq = 0;
  void* window = nullptr;
  // Kept across Free/Init: the player re-initialises on every play request without setting
  // the volume again, so resetting it would jump the new station to full volume. Atomic: the
  // sound server's thread reads it for every block it plays.
  std::atomic<float> volume{1.0f};
  // Library-wide settings, independent of the device, so they also outlive Free.
  DWORD netPlaylist = 0;
  StreamTable streams;
  HSTREAM lastHandle = 0;
  HSYNC lastSync = 0;

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
// BASS_ChannelGetTags hands out a pointer; each thread's stays valid until its next call.
thread_local std::string tagsText;

// Handles are never 0 and are not reused soon, so a stale handle is refused.
template <typename T>
T nextHandle(T* last) {
  if (++*last == 0) ++*last;
  return *last;
}

// Stops streams taken out of the table; call without the library mutex, as stopping joins
// threads whose callbacks may call into the library. The sound first, so that it ends at once.
void stopStreams(StreamTable& streams) {
  for (auto& [handle, stream] : streams) {
    if (stream->player) stream->player->Stop();
    if (stream->download) stream->download->Stop();
  }
  streams.clear();
}

// What the audio is, from its first bytes, which stay in the buffer for the decoder and out of
// the file positions. Decided as soon as the bytes are clear, otherwise once the sniffing window
// is full or the download over; a slow station gets as long as the download waits for a byte.
netstream::TAudioFormat sniffFormat(const netstream::TStreamDownload& download) {
  const auto deadline =
      std::chrono::steady_clock::now() + netstream::TDownloadLimits{}.stallTimeout;
  const netstream::TAudioFormat named = netstream::AudioFormatNamedBy(download.ContentType());
  std::vector<std::uint8_t> head(netstream::kAudioSniffBytes);
  std::size_t got = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const std::size_t want = got + 1;
    // Fewer than asked for: the download is over, stopped, or took too long.
    const bool over =
        download.WaitBuffered(want, std::max(left, std::chrono::milliseconds(0))) < want;
    got = download.Peek(head.data(), head.size());
    const netstream::TAudioFormat format =
        netstream::DetectAudioFormat(download.ContentType(), head.data(), got);
    const bool clear = format != netstream::TAudioFormat::kUnknown &&
                       (named == netstream::TAudioFormat::kUnknown || format == named);
    // A first connection that dropped has sent all it will: reconnecting would only repeat it.
    if (clear || over || got >= head.size() || download.Reconnects() > 0) return format;
  }
}

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
  StreamTable freed;
  {
    std::lock_guard lock(lib.mutex);
    if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, BASS_FALSE);
    freed.swap(lib.streams);
    lib.initialised = false;
    lib.device = 0;
    lib.freq = 0;
    lib.window = nullptr;
  }
  stopStreams(freed);
  return succeed(BASS_TRUE);
}

BOOL BASS_Stop() {
  Library& lib = library();
  StreamTable stopped;  // the same streams, their players and downloads only
  {
    std::lock_guard lock(lib.mutex);
    if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, BASS_FALSE);
    for (auto& [handle, stream] : lib.streams) {
      auto copy = std::make_unique<Stream>();
      copy->player = std::exchange(stream->player, nullptr);
      copy->download = stream->download;
      stopped.emplace(handle, std::move(copy));
    }
  }
  // The player's Stop ends the stream: no station is left connected in the background.
  stopStreams(stopped);
  return succeed(BASS_TRUE);
}

BOOL BASS_SetVolume(float volume) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, BASS_FALSE);
  // Written so that NaN, which fails every comparison, is rejected too.
  if (!(volume >= 0.0f && volume <= 1.0f)) return fail(BASS_ERROR_ILLPARAM, BASS_FALSE);
  lib.volume = volume;  // playing streams take it with their next block
  return succeed(BASS_TRUE);
}

float BASS_GetVolume() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, -1.0f);
  return succeed(lib.volume.load());
}

int BASS_ErrorGetCode() {
  return lastError;
}

BOOL BASS_StreamFree(HSTREAM handle) {
  Library& lib = library();
  StreamTable freed;
  {
    std::lock_guard lock(lib.mutex);
    if (int e = checkHandle(lib, handle)) return fail(e, BASS_FALSE);
    auto it = lib.streams.find(handle);
    freed.insert(lib.streams.extract(it));
  }
  stopStreams(freed);
  return succeed(BASS_TRUE);
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                             void* user) {
  (void)offset;  // the player always starts at 0; a live stream has no other place to start
  Library& lib = library();
  HSTREAM handle = 0;
  std::shared_ptr<netstream::TStreamDownload> download;
  {
    std::lock_guard lock(lib.mutex);
    if (!lib.initialised) return fail(BASS_ERROR_NOT_INIT, HSTREAM{0});
    if (!url) return fail(BASS_ERROR_ILLPARAM, HSTREAM{0});
    if (int e = netstream::CheckStreamAddress(url)) return fail(e, HSTREAM{0});

    auto stream = std::make_unique<Stream>();
    handle = nextHandle(&lib.lastHandle);
    netstream::TStreamDownload::Callbacks callbacks;
    callbacks.meta = [syncs = stream->syncs, handle](const std::string&) {
      std::vector<SyncSlot::Sync> calls;
      {
        std::lock_guard lock(syncs->mutex);
        calls = syncs->syncs;
      }
      for (const SyncSlot::Sync& sync : calls) sync.proc(sync.handle, handle, 0, sync.user);
    };
    if ((flags & BASS_STREAM_STATUS) && proc) {
      callbacks.status = [proc, user](const std::string& text) { proc(text.c_str(), 0, user); };
    }
    download = std::make_shared<netstream::TStreamDownload>(
        url, lib.netPlaylist != 0, netstream::TDownloadLimits{}, std::move(callbacks));
    stream->download = download;
    lib.streams.emplace(handle, std::move(stream));
    download->Start();
  }

  // The download's own time-outs end every open; the limit only guards against a fault.
  const netstream::TDownloadState state = download->WaitOpened(std::chrono::minutes(5));
  const netstream::TAudioFormat format = state == netstream::TDownloadState::kFailed
                                             ? netstream::TAudioFormat::kUnknown
                                             : sniffFormat(*download);
  StreamTable failed;
  int error = BASS_OK;
  {
    std::lock_guard lock(lib.mutex);
    if (state == netstream::TDownloadState::kFailed) {
      error = download->Error();
    } else if (!lib.initialised || !lib.find(handle) || !download->Opened()) {
      // Freed or stopped from another thread while opening. A short answer may already have
      // ended, opened, by now.
      error = BASS_ERROR_HANDLE;
    } else if (format == netstream::TAudioFormat::kUnknown) {
      error = BASS_ERROR_FORMAT;
    } else {
      lib.find(handle)->format = format;
    }
    if (error != BASS_OK) {
      auto it = lib.streams.find(handle);
      if (it != lib.streams.end()) failed.insert(lib.streams.extract(it));
    }
  }
  if (error != BASS_OK) {
    stopStreams(failed);
    download->Stop();
    return fail(error, HSTREAM{0});
  }
  return succeed(handle);
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, static_cast<QWORD>(-1));
  const netstream::TStreamDownload& download = *lib.find(handle)->download;
  const netstream::TFilePositions at = download.Positions();
  switch (mode) {
    case BASS_FILEPOS_CURRENT:
      return succeed(static_cast<QWORD>(at.current));
    case BASS_FILEPOS_DOWNLOAD:
      return succeed(static_cast<QWORD>(at.download));
    case BASS_FILEPOS_END:
      // Once the download is over the buffer can fill no further; failing here ends a wait
      // for the buffer to fill, which would otherwise never end.
      if (download.State() != netstream::TDownloadState::kStreaming)
        return fail(BASS_ERROR_NOT_AVAILABLE, static_cast<QWORD>(-1));
      return succeed(static_cast<QWORD>(at.end));
    default:
      return fail(BASS_ERROR_ILLPARAM, static_cast<QWORD>(-1));
  }
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, static_cast<const char*>(nullptr));
  if (tags != BASS_TAG_META)
    return fail(BASS_ERROR_NOT_AVAILABLE, static_cast<const char*>(nullptr));
  std::string meta = lib.find(handle)->download->Meta();
  if (meta.empty()) return fail(BASS_ERROR_NOT_AVAILABLE, static_cast<const char*>(nullptr));
  tagsText = std::move(meta);
  return succeed(tagsText.c_str());
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
  (void)param;  // a metadata sync takes no parameter
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (int e = checkHandle(lib, handle)) return fail(e, HSYNC{0});
  if (type != BASS_SYNC_META || !proc) return fail(BASS_ERROR_ILLPARAM, HSYNC{0});
  const HSYNC sync = nextHandle(&lib.lastSync);
  SyncSlot& slot = *lib.find(handle)->syncs;
  std::lock_guard slotLock(slot.mutex);
  slot.syncs.push_back({sync, proc, user});
  return succeed(sync);
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
  (void)restart;  // a live stream has only one place to play from: where it is
  Library& lib = library();
  std::shared_ptr<netstream::TStreamPlayer> player;
  {
    std::lock_guard lock(lib.mutex);
    if (int e = checkHandle(lib, handle)) return fail(e, BASS_FALSE);
    Stream& stream = *lib.find(handle);
    if (stream.player) return succeed(BASS_TRUE);
    // After BASS_Stop this plays what the ended download had left in its buffer.
    stream.player =
        std::make_shared<netstream::TStreamPlayer>(stream.download, stream.format, &lib.volume);
    player = stream.player;
  }
  // Outside the lock: a free from another thread meanwhile stops the player, and Start then
  // does nothing.
  if (!player->Start()) return fail(BASS_ERROR_DEVICE, BASS_FALSE);
  return succeed(BASS_TRUE);
}

}  // extern "C"
