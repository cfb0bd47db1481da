// Threading: see streamdownload.h. Inside the download thread, one Hop is one HTTP exchange
// driven by a curl multi handle, so the thread only ever waits in curl_multi_poll (which Stop
// and the consumer interrupt with curl_multi_wakeup) or in WaitAbortable.
#include "audio/streamdownload.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "audio/bass.h"
#include "audio/icystream.h"
#include "audio/streamaddress.h"
#include "audio/streamplaylist.h"

namespace netstream {

namespace {

using Clock = std::chrono::steady_clock;

// The largest piece libcurl hands over at once; a refused piece comes back whole.
constexpr long kCurlChunkBytes = 16 * 1024;
constexpr int kPollMs = 100;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int ErrorFromCurl(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return BASS_ERROR_TIMEOUT;
    case CURLE_URL_MALFORMAT:
      return BASS_ERROR_ADDRESS;
    // Addresses are checked before curl sees them, so this is an answer curl cannot read as
    // HTTP (an HTTP/0.9 body).
    case CURLE_UNSUPPORTED_PROTOCOL:
    // What curl reports for a header line longer than it accepts.
    case CURLE_OUT_OF_MEMORY:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return BASS_ERROR_FORMAT;
    default:
      return BASS_ERROR_CONNECT;
  }
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

}  // namespace

struct TStreamDownload::HopResult {
  enum class Outcome { kRedirect, kPlaylist, kFailed, kComplete, kDropped, kAborted };
  Outcome outcome = Outcome::kFailed;
  int error = BASS_OK;
  std::string location;
  TPlaylistKind kind = TPlaylistKind::kNone;
  std::string body;
  bool gotAudio = false;
};

// The state of one exchange, shared by the callbacks and the loop in Transfer (all on the
// download thread).
struct TStreamDownload::Hop {
  enum class Phase { kHead, kSniff, kPlaylist, kAudio };

  TStreamDownload* owner = nullptr;
  std::string url;
  Phase phase = Phase::kHead;
  TResponseHeadParser parser;
  std::string statusLine;
  std::string contentType;
  bool chunked = false;
  std::unique_ptr<TIcyDemuxer> demuxer;
  Clock::time_point lastActivity = Clock::now();
  // Set when a callback ended the exchange on purpose; `result` then says why.
  bool stopped = false;
  std::size_t refusedBytes = 0;  // a piece refused for want of room, 0 when not paused
  HopResult result;

  void Stop(HopResult::Outcome outcome, int error) {
    stopped = true;
    result.outcome = outcome;
    result.error = error;
  }

  void StartAudio() {
    phase = Phase::kAudio;
    owner->SetAudioSource(url, contentType);
    const std::uint32_t interval = parser.head().metaInterval;
    demuxer = std::make_unique<TIcyDemuxer>(
        interval,
        [this](const std::uint8_t* data, std::size_t size) {
          result.gotAudio = true;
          owner->PushAudio(data, size);
        },
        [this](std::string_view text) { owner->PushMeta(text); });
  }

  // Decides between play list and audio once enough of the body is in (or all of it).
  void Sniffed() {
    result.kind = DetectPlaylist(contentType, result.body);
    if (result.kind != TPlaylistKind::kNone) {
      phase = Phase::kPlaylist;
      return;
    }
    std::string first = std::move(result.body);
    result.body.clear();
    StartAudio();
    demuxer->Feed(first);
  }

  void HeadDone() {
    const TResponseHead& head = parser.head();
    if (owner->callbacks_.status) owner->callbacks_.status(statusLine);
    if (head.IsRedirect()) {
      result.location = head.location;
      return Stop(HopResult::Outcome::kRedirect, BASS_OK);
    }
    if (int e = head.StatusError()) return Stop(HopResult::Outcome::kFailed, e);
    contentType = head.contentType;
    const auto encoding = head.Header("Transfer-Encoding");
    chunked = encoding && encoding->find("chunked") != std::string_view::npos;
    // A body with metadata blocks is a radio stream, never a play list.
    if (owner->followPlaylists_ && head.metaInterval == 0) {
      phase = Phase::kSniff;
    } else {
      StartAudio();
    }
  }

  std::size_t OnHeader(const char* data, std::size_t size) {
    lastActivity = Clock::now();
    if (parser.state() == TResponseHeadParser::State::kDone) {
      // A further head after a finished one (an interim 1xx answer): read it afresh.
      if (phase != Phase::kHead) return size;
      parser = TResponseHeadParser();
    }
    if (statusLine.empty()) {
      std::string_view line(data, size);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
      statusLine = line;
    }
    parser.Feed(reinterpret_cast<const std::uint8_t*>(data), size);
    switch (parser.state()) {
      case TResponseHeadParser::State::kNeedMore:
        return size;
      case TResponseHeadParser::State::kFailed:
        Stop(HopResult::Outcome::kFailed, parser.error());
        return 0;
      case TResponseHeadParser::State::kDone:
        break;
    }
    if (parser.head().status < 200) {
      statusLine.clear();
      return size;
    }
    HeadDone();
    return stopped ? 0 : size;
  }

  std::size_t OnBody(const char* data, std::size_t size) {
    lastActivity = Clock::now();
    switch (phase) {
      case Phase::kHead:
        Stop(HopResult::Outcome::kFailed, BASS_ERROR_FORMAT);
        return 0;
      case Phase::kSniff:
        result.body.append(data, size);
        if (result.body.size() >= kPlaylistSniffBytes) Sniffed();
        return size;
      case Phase::kPlaylist: {
        const std::size_t take = std::min(size, kMaxPlaylistBytes - result.body.size());
        result.body.append(data, take);
        if (result.body.size() >= kMaxPlaylistBytes) {
          Stop(HopResult::Outcome::kPlaylist, BASS_OK);
          return 0;
        }
        return size;
      }
      case Phase::kAudio:
        break;
    }
    {
      std::lock_guard lock(owner->mutex_);
      if (owner->FreeRoom() < size) {
        refusedBytes = size;
        owner->pausedForRoom_ = true;
        return CURL_WRITEFUNC_PAUSE;
      }
    }
    demuxer->Feed(reinterpret_cast<const std::uint8_t*>(data), size);
    return size;
  }

  // How an exchange that curl finished by itself ends.
  void Finished(CURLcode code, CURL* easy) {
    if (code != CURLE_OK) {
      const int error = ErrorFromCurl(code);
      return Stop(result.gotAudio ? HopResult::Outcome::kDropped : HopResult::Outcome::kFailed,
                  error);
    }
    switch (phase) {
      case Phase::kHead:
        return Stop(HopResult::Outcome::kFailed, BASS_ERROR_FORMAT);
      case Phase::kSniff:
        Sniffed();
        if (phase == Phase::kPlaylist) return Stop(HopResult::Outcome::kPlaylist, BASS_OK);
        break;
      case Phase::kPlaylist:
        return Stop(HopResult::Outcome::kPlaylist, BASS_OK);
      case Phase::kAudio:
        break;
    }
    // A body of known length that arrived whole is a file that ended; a radio server that
    // closes a body without a length has dropped the listener.
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    const bool whole = length >= 0 || chunked;
    Stop(whole ? HopResult::Outcome::kComplete : HopResult::Outcome::kDropped, BASS_ERROR_CONNECT);
  }
};

std::size_t TStreamDownload::HeaderCallback(char* data, std::size_t size, std::size_t n,
                                            void* hop) {
  return static_cast<Hop*>(hop)->OnHeader(data, size * n);
}

std::size_t TStreamDownload::BodyCallback(char* data, std::size_t size, std::size_t n, void* hop) {
  return static_cast<Hop*>(hop)->OnBody(data, size * n);
}

TStreamDownload::TStreamDownload(std::string address, bool followPlaylists, TDownloadLimits limits,
                                 Callbacks callbacks)
    : address_(std::move(address)),
      followPlaylists_(followPlaylists),
      limits_(limits),
      callbacks_(std::move(callbacks)) {
  InitCurlOnce();
  ring_.resize(std::max(limits_.bufferBytes, kMinBufferBytes));
  multi_ = curl_multi_init();
}

TStreamDownload::~TStreamDownload() {
  Stop();
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void TStreamDownload::Start() {
  std::lock_guard join(joinMutex_);
  if (thread_.joinable() || abort_) return;
  if (!multi_) return Finish(TDownloadState::kFailed, BASS_ERROR_UNKNOWN);
  thread_ = std::thread([this] { Run(); });
}

void TStreamDownload::Stop() {
  abort_ = true;
  {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }
  if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
  {
    // Several threads may stop one download (a free racing an open's own clean-up).
    std::lock_guard join(joinMutex_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }
  std::lock_guard lock(mutex_);
  if (state_ == TDownloadState::kOpening || state_ == TDownloadState::kStreaming) {
    state_ = TDownloadState::kEnded;
    changed_.notify_all();
  }
}

TDownloadState TStreamDownload::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool TStreamDownload::Opened() const {
  std::lock_guard lock(mutex_);
  return received_ > 0;
}

int TStreamDownload::Error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

TDownloadState TStreamDownload::WaitOpened(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit,
                    [this] { return state_ != TDownloadState::kOpening || abort_.load(); });
  return state_;
}

std::size_t TStreamDownload::CopyFront(std::uint8_t* dst, std::size_t max) const {
  const std::size_t taken = std::min(max, ringFill_);
  const std::size_t first = std::min(taken, ring_.size() - ringStart_);
  std::memcpy(dst, ring_.data() + ringStart_, first);
  std::memcpy(dst + first, ring_.data(), taken - first);
  return taken;
}

std::size_t TStreamDownload::Peek(std::uint8_t* dst, std::size_t max) const {
  std::lock_guard lock(mutex_);
  return CopyFront(dst, max);
}

std::size_t TStreamDownload::WaitBuffered(std::size_t bytes,
                                          std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  bytes = std::min(bytes, ring_.size());
  changed_.wait_for(lock, limit, [&] {
    return ringFill_ >= bytes || state_ == TDownloadState::kFailed ||
           state_ == TDownloadState::kEnded || abort_.load();
  });
  return ringFill_;
}

std::size_t TStreamDownload::Read(std::uint8_t* dst, std::size_t max) {
  std::size_t taken = 0;
  {
    std::lock_guard lock(mutex_);
    taken = CopyFront(dst, max);
    ringStart_ = (ringStart_ + taken) % ring_.size();
    ringFill_ -= taken;
    consumed_ += taken;
  }
  if (taken > 0 && pausedForRoom_ && multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
  return taken;
}

bool TStreamDownload::WaitReadable(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [this] {
    return ringFill_ > 0 || state_ == TDownloadState::kFailed || state_ == TDownloadState::kEnded ||
           abort_.load();
  });
  return ringFill_ > 0;
}

TFilePositions TStreamDownload::Positions() const {
  std::lock_guard lock(mutex_);
  return {consumed_, received_, ring_.size()};
}

std::string TStreamDownload::Meta() const {
  std::lock_guard lock(mutex_);
  return meta_;
}

std::string TStreamDownload::Address() const {
  std::lock_guard lock(mutex_);
  return finalAddress_;
}

std::string TStreamDownload::ContentType() const {
  std::lock_guard lock(mutex_);
  return contentType_;
}

int TStreamDownload::Reconnects() const {
  std::lock_guard lock(mutex_);
  return reconnects_;
}

std::size_t TStreamDownload::FreeRoom() const {
  return ring_.size() - ringFill_;
}

void TStreamDownload::PushAudio(const std::uint8_t* data, std::size_t size) {
  std::lock_guard lock(mutex_);
  // The body callback made sure the whole piece fits.
  size = std::min(size, FreeRoom());
  std::size_t at = (ringStart_ + ringFill_) % ring_.size();
  const std::size_t first = std::min(size, ring_.size() - at);
  std::memcpy(ring_.data() + at, data, first);
  std::memcpy(ring_.data(), data + first, size - first);
  ringFill_ += size;
  received_ += size;
  // Open once audio flows: a server that sends a good head and then nothing has not opened.
  if (size > 0 && state_ == TDownloadState::kOpening) state_ = TDownloadState::kStreaming;
  changed_.notify_all();
}

void TStreamDownload::PushMeta(std::string_view text) {
  std::string copy(text);
  {
    std::lock_guard lock(mutex_);
    meta_ = copy;
  }
  if (callbacks_.meta) callbacks_.meta(copy);
}

void TStreamDownload::SetAudioSource(const std::string& url, const std::string& contentType) {
  std::lock_guard lock(mutex_);
  finalAddress_ = url;
  contentType_ = contentType;
}

void TStreamDownload::Finish(TDownloadState state, int error) {
  std::lock_guard lock(mutex_);
  state_ = state;
  error_ = error;
  changed_.notify_all();
}

bool TStreamDownload::WaitAbortable(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, wait, [this] { return abort_.load(); });
}

TStreamDownload::HopResult TStreamDownload::Transfer(const std::string& url) {
  Hop hop;
  hop.owner = this;
  hop.url = url;

  CURL* easy = curl_easy_init();
  if (!easy) return {HopResult::Outcome::kFailed, BASS_ERROR_UNKNOWN, {}, {}, {}, false};
  Slist request(curl_slist_append(nullptr, "Icy-MetaData: 1"));
  // Older radio servers answer "ICY 200 OK"; curl takes any status line with this prefix as
  // an HTTP/1.0 answer, and the head parser reads its real status.
  Slist aliases(curl_slist_append(nullptr, "ICY"));
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // Redirects go through TAddressChain, which bounds them and checks every hop.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.get());
  curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, aliases.get());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "Velmo");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kCurlChunkBytes);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(limits_.connectTimeout.count()));
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &TStreamDownload::HeaderCallback);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &hop);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TStreamDownload::BodyCallback);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &hop);

  CURLM* multi = static_cast<CURLM*>(multi_);
  curl_multi_add_handle(multi, easy);
  for (;;) {
    if (abort_) {
      hop.Stop(HopResult::Outcome::kAborted, BASS_OK);
      break;
    }
    if (hop.refusedBytes > 0) {
      bool room = false;
      {
        std::lock_guard lock(mutex_);
        room = FreeRoom() >= hop.refusedBytes;
      }
      if (room) {
        hop.refusedBytes = 0;
        pausedForRoom_ = false;
        hop.lastActivity = Clock::now();
        // Hands the refused piece straight back to the body callback.
        curl_easy_pause(easy, CURLPAUSE_CONT);
      }
    }
    int running = 0;
    curl_multi_perform(multi, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && !hop.stopped) hop.Finished(message->data.result, easy);
    }
    if (hop.stopped) break;
    // A full buffer is the consumer's pace, not a stall.
    if (hop.refusedBytes == 0 && Clock::now() - hop.lastActivity > limits_.stallTimeout) {
      hop.Stop(hop.result.gotAudio ? HopResult::Outcome::kDropped : HopResult::Outcome::kFailed,
               BASS_ERROR_TIMEOUT);
      break;
    }
    curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
  }
  curl_multi_remove_handle(multi, easy);
  curl_easy_cleanup(easy);
  pausedForRoom_ = false;
  return std::move(hop.result);
}

void TStreamDownload::Run() {
  using Outcome = HopResult::Outcome;
  TAddressChain chain;
  if (int e = chain.Start(address_)) return Finish(TDownloadState::kFailed, e);

  // An open that never streamed fails with the error; a stream that played ends quietly.
  auto giveUp = [this](int error) {
    if (State() == TDownloadState::kOpening) return Finish(TDownloadState::kFailed, error);
    Finish(TDownloadState::kEnded, BASS_OK);
  };

  Clock::time_point dropped{};
  int tries = 0;
  auto wait = limits_.reconnectFirstWait;
  for (;;) {
    HopResult hop = Transfer(chain.current());
    if (hop.gotAudio) tries = 0;
    switch (hop.outcome) {
      case Outcome::kAborted:
        return Finish(TDownloadState::kEnded, BASS_OK);
      case Outcome::kComplete:
        // An answer that ended before any audio (an empty body) is no stream.
        return giveUp(BASS_ERROR_FORMAT);
      case Outcome::kRedirect:
        if (int e = chain.Redirect(hop.location)) return giveUp(e);
        continue;
      case Outcome::kPlaylist: {
        std::string entry;
        int e = ReadPlaylistEntry(hop.kind, hop.body, &entry);
        if (!e) e = chain.FollowPlaylist(entry);
        if (e) return giveUp(e);
        continue;
      }
      case Outcome::kFailed:
      case Outcome::kDropped:
        break;
    }
    if (State() == TDownloadState::kOpening) return Finish(TDownloadState::kFailed, hop.error);

    // The connection of a playing stream dropped: reopen where the audio came from, with
    // fresh redirect and play list allowances.
    if (tries == 0) {
      dropped = Clock::now();
      wait = limits_.reconnectFirstWait;
    }
    if (++tries > limits_.maxReconnects || Clock::now() + wait - dropped > limits_.reconnectBudget)
      return Finish(TDownloadState::kEnded, BASS_OK);
    if (!WaitAbortable(wait)) return Finish(TDownloadState::kEnded, BASS_OK);
    wait *= 2;
    {
      std::lock_guard lock(mutex_);
      ++reconnects_;
      changed_.notify_all();  // a format sniff waiting for more judges what came
    }
    chain = TAddressChain();
    chain.Start(Address());
  }
}

}  // namespace netstream
