// Feeds arbitrary bytes to the response head parser and the metadata de-interleaver, in memory,
// as a server's answer arriving in chunks of sizes taken from the input: chunking must never
// change what comes out, the head must stay within its bound, and every metadata block and title
// must be a piece of the block the server sent.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/bass.h"
#include "audio/icystream.h"
#include "fuzz/fuzzcheck.h"

namespace {

using fuzz::Check;

// Chunk sizes 1..64 drawn from a seed, so each input also picks its own network timing.
class Chunker {
 public:
  explicit Chunker(std::uint32_t seed) : state_(seed | 1) {}
  std::size_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return 1 + state_ % 64;
  }

 private:
  std::uint32_t state_;
};

struct Demuxed {
  std::string audio;
  std::vector<std::string> metas;
};

Demuxed Demux(std::uint32_t interval, std::string_view body, Chunker* chunker) {
  Demuxed out;
  netstream::TIcyDemuxer demuxer(
      interval,
      [&](const std::uint8_t* data, std::size_t size) {
        Check(size > 0, "an empty audio run");
        out.audio.append(reinterpret_cast<const char*>(data), size);
      },
      [&](std::string_view text) { out.metas.emplace_back(text); });
  while (!body.empty()) {
    const std::size_t n = chunker ? std::min(chunker->Next(), body.size()) : body.size();
    demuxer.Feed(body.substr(0, n));
    body.remove_prefix(n);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t seed = data[0] | (data[1] << 8);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  netstream::TResponseHeadParser whole;
  const std::size_t wholeTaken = whole.Feed(bytes);
  netstream::TResponseHeadParser chunked;
  Chunker chunker(seed);
  std::size_t taken = 0;
  for (std::size_t at = 0;
       at < bytes.size() && chunked.state() == netstream::TResponseHeadParser::State::kNeedMore;) {
    const std::size_t n = std::min(chunker.Next(), bytes.size() - at);
    const std::size_t used = chunked.Feed(bytes.substr(at, n));
    Check(used <= n, "took more than it was given");
    taken += used;
    at += n;
  }
  Check(whole.state() == chunked.state(), "chunking changed the outcome");
  using State = netstream::TResponseHeadParser::State;
  Check((whole.state() == State::kFailed) == (whole.error() == BASS_ERROR_FORMAT),
        "failure and error number disagree");

  std::uint32_t interval = 1 + seed % 32;  // exercise the de-interleaver on any bytes
  std::string_view body = bytes;
  if (whole.state() == State::kDone) {
    Check(wholeTaken == taken, "chunking moved the start of the body");
    Check(wholeTaken <= netstream::kMaxHeadBytes, "a head past the bound was accepted");
    const netstream::TResponseHead& a = whole.head();
    const netstream::TResponseHead& b = chunked.head();
    Check(a.status >= 100 && a.status <= 599, "status out of range");
    Check(a.status == b.status && a.icy == b.icy && a.reason == b.reason &&
              a.headers == b.headers && a.location == b.location &&
              a.contentType == b.contentType && a.metaInterval == b.metaInterval &&
              a.icyName == b.icyName,
          "chunking changed the head");
    Check(a.metaInterval <= netstream::kMaxMetaInterval, "interval out of range");
    if (a.metaInterval > 0) interval = a.metaInterval;
    body = bytes.substr(wholeTaken);
  }

  const Demuxed one = Demux(interval, body, nullptr);
  Chunker bodyChunker(seed * 2654435761u);
  const Demuxed many = Demux(interval, body, &bodyChunker);
  Check(one.audio == many.audio && one.metas == many.metas, "chunking changed the demuxed data");
  Check(one.audio.size() <= body.size(), "more audio than bytes");
  std::size_t metaBytes = 0;
  for (const std::string& meta : one.metas) {
    Check(meta.size() <= netstream::kMaxMetaBlock, "a block longer than a length byte allows");
    Check(meta.find('\0') == std::string::npos, "a block text with a zero byte");
    metaBytes += meta.size();
    if (const std::optional<std::string> title = netstream::ExtractStreamTitle(meta)) {
      Check(meta.find(*title) != std::string::npos, "a title that is not in its block");
    }
  }
  Check(one.audio.size() + metaBytes + one.metas.size() <= body.size(),
        "audio and metadata exceed the body");
  return 0;
}
