#include "playback/streamopener.h"

#include <chrono>
#include <string>
#include <utility>

#include "platform/textcodec.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kStartFill = 75;  // per cent of the buffer before playback starts
constexpr auto kPollInterval = 10ms;
// The buffer must grow at least this often while it fills, or the open has timed out.
constexpr auto kBufferingStall = 10s;

}  // namespace

TStreamOpener::TStreamOpener(Sink sink) : sink_(std::move(sink)) {}

TStreamOpener::~TStreamOpener() {
  Abandon();
  ReapWorkers(true);
  // Its callbacks point here.
  BASS_StreamFree(handle_.load());
}

std::uint64_t TStreamOpener::Start(const QString& path) {
  ReapWorkers(false);
  const std::uint64_t serial = ++serial_;
  auto done = std::make_shared<std::atomic<bool>>(false);
  ++opening_;
  workers_.push_back({std::thread([this, serial, path, done] {
                        // Even a play list file may sit on a slow disk, so it is read here.
                        OpenStreamUrl(serial, ResolveStreamAddress(path));
                        --opening_;
                        done->store(true);
                      }),
                      done});
  return serial;
}

void TStreamOpener::Abandon() {
  {
    std::lock_guard play(playMutex_);
    std::lock_guard pause(pauseMutex_);
    ++serial_;
  }
  abandoned_.notify_all();
  // A worker may be waiting inside the library for a server that never answers; freeing the
  // library ends that wait. Only the stream being opened exists then: every open starts by
  // freeing what played before.
  if (opening_.load() > 0) BASS_Free();
}

void TStreamOpener::ReapWorkers(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

bool TStreamOpener::Pause(std::uint64_t serial, std::chrono::milliseconds wait) {
  std::unique_lock lock(pauseMutex_);
  abandoned_.wait_for(lock, wait, [&] { return Stale(serial); });
  return !Stale(serial);
}

void TStreamOpener::Send(std::uint64_t serial, int code, std::int64_t value, QString text) {
  if (Stale(serial)) return;
  sink_({serial, code, value, std::move(text)});
}

void TStreamOpener::OpenStreamUrl(std::uint64_t serial, const QString& address) {
  if (Stale(serial)) return;
  BASS_StreamFree(handle_.load());
  Send(serial, kStreamConnecting, 0, address);
  const QByteArray url = address.toUtf8();
  const HSTREAM handle =
      BASS_StreamCreateURL(url.constData(), 0, BASS_STREAM_STATUS, StreamDownloadProc, this);
  if (handle == 0) {
    handle_.store(0);
    Send(serial, kStreamFailed, BASS_ErrorGetCode());
    return;
  }
  if (Stale(serial)) {
    BASS_StreamFree(handle);
    return;
  }
  handle_.store(handle);

  // Polled with a short pause rather than in a tight loop, and the cell only changes with the
  // figure, so buffering costs neither a core nor a flood of updates.
  std::int64_t shown = -1;
  std::uint64_t lastDownload = 0;
  auto lastGrowth = std::chrono::steady_clock::now();
  for (;;) {
    const auto end =
        static_cast<std::uint32_t>(BASS_StreamGetFilePosition(handle, BASS_FILEPOS_END));
    // A buffer of no size can never fill; waiting for it would not end.
    if (end == 0xFFFFFFFFu || end == 0) break;
    const QWORD download = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_DOWNLOAD);
    const QWORD current = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_CURRENT);
    const auto fill = static_cast<std::uint32_t>((download - current) * 100 / end);
    if (fill != shown) Send(serial, kStreamBuffering, fill);
    shown = fill;
    if (fill > kStartFill) break;
    const auto now = std::chrono::steady_clock::now();
    if (download != lastDownload) {
      lastDownload = download;
      lastGrowth = now;
    } else if (now - lastGrowth > kBufferingStall) {
      BASS_StreamFree(handle);
      handle_.store(0);
      Send(serial, kStreamFailed, BASS_ERROR_TIMEOUT);
      return;
    }
    if (!Pause(serial, kPollInterval)) {
      BASS_StreamFree(handle);
      return;
    }
  }
  ReadStreamTitle(serial);
  BASS_ChannelSetSync(handle, BASS_SYNC_META, 0, StreamTitleSync, this);
  std::lock_guard play(playMutex_);
  if (Stale(serial)) {
    BASS_StreamFree(handle);
    return;
  }
  BASS_ChannelPlay(handle, BASS_FALSE);
}

void TStreamOpener::ReadStreamTitle(std::uint64_t serial) {
  const char* tags = BASS_ChannelGetTags(handle_.load(), BASS_TAG_META);
  if (!tags) return;
  if (const std::optional<std::string> title = StreamTitleOf(tags))
    Send(serial, kStreamTitle, 0, platform::decodeText(*title));
}

void TStreamOpener::StreamDownloadProc(const void* buffer, DWORD length, void* user) {
  if (!buffer || length != 0) return;
  auto* self = static_cast<TStreamOpener*>(user);
  const std::uint64_t serial = self->serial_.load();
  self->Send(serial, kStreamLibrary, 0, platform::decodeText(static_cast<const char*>(buffer)));
}

void TStreamOpener::StreamTitleSync(HSYNC, DWORD, DWORD, void* user) {
  auto* self = static_cast<TStreamOpener*>(user);
  self->ReadStreamTitle(self->serial_.load());
}
