// Feeds arbitrary bytes through what a network stream's audio meets: format recognition (with
// each Content-Type it knows and none), then each of the three decoders, in pieces whose sizes
// the input picks. Every decoded block must be whole sample frames of a real format, and a
// decoder must not keep answering "more" without using up what it was fed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/streamdecoder.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Decode(netstream::TAudioFormat format, const std::uint8_t* data, std::size_t size,
            std::size_t piece) {
  auto decoder = netstream::MakeAudioDecoder(format);
  Check(decoder != nullptr);
  std::vector<std::int16_t> pcm;
  netstream::TPcmFormat pcmFormat;
  for (std::size_t at = 0; at < size; at += piece) {
    decoder->Feed(data + at, std::min(piece, size - at));
    // Each answer decodes or consumes input, so this many in a row for one piece is a hang.
    int answers = 0;
    while (decoder->Decode(&pcm, &pcmFormat)) {
      Check(++answers < 200000);
      if (pcm.empty()) continue;
      Check(pcmFormat.channels > 0 && pcmFormat.rate > 0);
      Check(pcm.size() % static_cast<std::size_t>(pcmFormat.channels) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kContentTypes[] = {"", "audio/mpeg", "audio/aacp", "application/ogg"};
  for (const char* type : kContentTypes) {
    const auto format = netstream::DetectAudioFormat(type, data, size);
    Check(format == netstream::TAudioFormat::kUnknown || size > 0);
  }
  if (size == 0) return 0;
  // The first byte picks the piece size, so that frames split at every place get tried.
  const std::size_t piece = 1 + data[0] % 64 * 97;
  for (auto format : {netstream::TAudioFormat::kMp3, netstream::TAudioFormat::kAac,
                      netstream::TAudioFormat::kVorbis}) {
    Decode(format, data + 1, size - 1, piece);
  }
  return 0;
}
