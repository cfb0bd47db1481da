#pragma once
// What a network stream's audio is and how it becomes PCM: recognising MP3, AAC in ADTS frames
// and Ogg Vorbis from the first bytes, and one incremental decoder per format that takes the
// bytes as they arrive and hands back interleaved 16-bit samples. The bytes come from outside,
// so a decoder that meets damage skips to the next frame (or page) it can read and goes on; it
// never asks for more than one frame's worth of input beyond what it was given.
//
// Threading: no shared state; one decoder is used by one thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace netstream {

enum class TAudioFormat { kUnknown, kMp3, kAac, kVorbis };

// How many first bytes of a stream DetectAudioFormat needs to decide.
inline constexpr std::size_t kAudioSniffBytes = 8 * 1024;

// The format a Content-Type names, kUnknown for any other.
TAudioFormat AudioFormatNamedBy(std::string_view contentType);

// The format of a stream that starts with `head` (at most kAudioSniffBytes are looked at).
// A format whose frames are found anywhere in `head` counts; when more than one is found, the
// one `contentType` names wins, otherwise the earliest. kUnknown for anything else, Ogg
// streams of other codecs included.
TAudioFormat DetectAudioFormat(std::string_view contentType, const std::uint8_t* head,
                               std::size_t size);

struct TPcmFormat {
  long rate = 0;
  int channels = 0;
  bool operator==(const TPcmFormat&) const = default;
};

class TAudioDecoder {
 public:
  virtual ~TAudioDecoder() = default;
  // Hands over the next bytes of the stream.
  virtual void Feed(const std::uint8_t* data, std::size_t size) = 0;
  // Replaces `pcm` with the next decoded samples (interleaved, `format` says how) and returns
  // true, or returns false when the bytes fed so far are used up. `pcm` may come back empty
  // with true while the decoder skips what it cannot read; call again.
  virtual bool Decode(std::vector<std::int16_t>* pcm, TPcmFormat* format) = 0;
};

// Null for kUnknown, or when the decoding library cannot start one.
std::unique_ptr<TAudioDecoder> MakeAudioDecoder(TAudioFormat format);

}  // namespace netstream
