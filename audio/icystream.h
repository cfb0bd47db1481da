#pragma once
// The byte-level side of a network stream: the server's response head (HTTP/1.x, HTTP/2 as
// libcurl reports it, and the "ICY 200 OK" of older radio servers), and the separation of
// audio from the ICY metadata blocks the server interleaves when asked with "Icy-MetaData: 1".
// Both take bytes as they arrive, in chunks of any size, and never buffer more than a fixed
// amount, whatever the server sends.
//
// Threading: no shared state; one parser or de-interleaver is used by one thread at a time
// (the stream's download thread).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace netstream {

// Bounds on what a server can make us hold.
inline constexpr std::size_t kMaxHeadBytes = 64 * 1024;      // status line and all headers
inline constexpr std::uint32_t kMaxMetaInterval = 1u << 20;  // audio bytes between two blocks
inline constexpr std::size_t kMaxMetaBlock = 255 * 16;       // the length byte counts 16s

struct TResponseHead {
  bool icy = false;  // "ICY nnn ..." rather than "HTTP/..."
  int status = 0;    // 100..599
  std::string reason;
  // Every header as sent, in order; names keep their case (look up with Header()).
  std::vector<std::pair<std::string, std::string>> headers;

  // The headers the stream side acts on; empty (0) when absent. A header sent twice counts
  // once, the first time.
  std::string location;
  std::string contentType;
  std::uint32_t metaInterval = 0;  // icy-metaint; 0: the stream carries no metadata
  std::string icyName, icyGenre, icyUrl, icyDescription;

  // The first value of the header `name`, compared without regard to case.
  std::optional<std::string_view> Header(std::string_view name) const;
  // BASS_OK for a 2xx status, BASS_ERROR_HTTP for anything else (a redirect included).
  int StatusError() const;
  // 301, 302, 303, 307 or 308 with a Location to follow.
  bool IsRedirect() const;
};

// Reads one response head. Feed() takes the bytes received so far and returns how many of
// them belong to the head; the rest are the first bytes of the body.
class TResponseHeadParser {
 public:
  enum class State { kNeedMore, kDone, kFailed };

  std::size_t Feed(const std::uint8_t* data, std::size_t size);
  std::size_t Feed(std::string_view bytes) {
    return Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }

  State state() const { return state_; }
  // The library's error number once failed: BASS_ERROR_FORMAT for an answer that is not a
  // well-formed response head (an oversized one included); BASS_OK otherwise.
  int error() const { return error_; }
  const TResponseHead& head() const { return head_; }

 private:
  bool TakeLine(std::string_view line);
  bool TakeStatusLine(std::string_view line);
  bool TakeHeader(std::string_view line);
  std::size_t Fail();

  State state_ = State::kNeedMore;
  int error_ = 0;
  bool haveStatus_ = false;
  bool seenMetaInterval_ = false;
  unsigned seenFields_ = 0;  // which of the named headers were taken, so repeats keep the first
  std::size_t headBytes_ = 0;
  std::string line_;  // a line split across chunks
  TResponseHead head_;
};

// The value of icy-metaint: decimal digits (surrounding blanks allowed) in 0..kMaxMetaInterval.
// nullopt for anything else, which the head parser treats as a malformed answer: a stream whose
// metadata could not be cut out would play it as noise.
std::optional<std::uint32_t> ParseMetaInterval(std::string_view value);

// Splits a stream body into audio and metadata. Every `interval` audio bytes the server sends a
// length byte n and then n * 16 bytes of metadata text, padded with zero bytes; n = 0 means
// "no change" and produces no call. With interval 0 every byte is audio.
class TIcyDemuxer {
 public:
  // Audio arrives in runs pointing into the fed chunk (no copy); a run never spans chunks.
  using AudioSink = std::function<void(const std::uint8_t* data, std::size_t size)>;
  // The block's text up to its first zero byte, as the server's bytes (no decoding).
  using MetaSink = std::function<void(std::string_view text)>;

  TIcyDemuxer(std::uint32_t interval, AudioSink audio, MetaSink meta);

  void Feed(const std::uint8_t* data, std::size_t size);
  void Feed(std::string_view bytes) {
    Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }

 private:
  enum class Part { kAudio, kLength, kMeta };

  std::uint32_t interval_;
  AudioSink audio_;
  MetaSink meta_;
  Part part_;
  std::size_t left_;  // bytes left in the current audio run or metadata block
  std::string block_;
};

// The text between "StreamTitle='" and the closing "';" of a metadata block. Tolerant of what
// servers send: without "';" the value ends at the last quote, without that at the end of the
// text; quotes inside the title ("Guns N' Roses") stay. Bytes are returned as sent, so the
// caller decodes them (UTF-8 or the 8-bit code page). nullopt when there is no StreamTitle.
std::optional<std::string> ExtractStreamTitle(std::string_view metadata);

}  // namespace netstream
