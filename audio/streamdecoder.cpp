#include "audio/streamdecoder.h"

#include <mpg123.h>
#include <neaacdec.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "audio/asciitext.h"
#include "audio/mp3length.h"

namespace netstream {

namespace {

// Frames in a row that make a match: a single header is easily found in any binary answer.
constexpr int kChainFrames = 3;
// Upper bound of the PCM frames one Decode call hands back.
constexpr std::size_t kMaxChunkFrames = 4096;

// ---- Recognising the formats ----

// One ADTS frame header (7 bytes, 9 with a CRC).
struct TAdtsHeader {
  int rateIndex = 0;
  int channelConfig = 0;
  int profile = 0;
  std::size_t frameBytes = 0;
};

// Whether two frames need the same decoder set-up.
bool SameAdtsConfig(const TAdtsHeader& a, const TAdtsHeader& b) {
  return a.rateIndex == b.rateIndex && a.channelConfig == b.channelConfig && a.profile == b.profile;
}

std::optional<TAdtsHeader> ParseAdtsHeader(const std::uint8_t* p) {
  // 12 sync bits, then layer 00 (where an MPEG audio header has a layer of 1..3).
  if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return std::nullopt;
  TAdtsHeader h;
  h.profile = p[2] >> 6;
  h.rateIndex = (p[2] >> 2) & 0x0F;
  h.channelConfig = ((p[2] & 0x01) << 2) | (p[3] >> 6);
  h.frameBytes = static_cast<std::size_t>(((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5));
  const std::size_t headerBytes = (p[1] & 0x01) ? 7 : 9;
  if (h.rateIndex > 12 || h.frameBytes <= headerBytes) return std::nullopt;
  return h;
}

bool SameMp3Stream(const mp3::TFrameHeader& a, const mp3::TFrameHeader& b) {
  return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}

// Whether frames of one stream follow each other from `at`: kChainFrames of them, or fewer
// that end exactly where the data does.
template <typename Parse, typename Same>
bool FrameChainAt(const std::uint8_t* data, std::size_t size, std::size_t at,
                  std::size_t headerBytes, Parse parse, Same same) {
  std::size_t pos = at;
  decltype(parse(data)) first;
  for (int n = 0; n < kChainFrames; ++n) {
    if (pos == size && n > 0) return true;
    if (size - pos < headerBytes) return false;
    auto header = parse(data + pos);
    if (!header) return false;
    if (n == 0) {
      first = header;
    } else if (!same(*first, *header)) {
      return false;
    }
    pos += header->frameBytes;
    if (pos > size) return false;
  }
  return true;
}

std::optional<mp3::TFrameHeader> ParseMp3(const std::uint8_t* p) {
  mp3::TFrameHeader h;
  if (!mp3::ParseFrameHeader(p, &h)) return std::nullopt;
  return h;
}

bool Mp3ChainAt(const std::uint8_t* data, std::size_t size, std::size_t at) {
  return FrameChainAt(data, size, at, 4, ParseMp3, SameMp3Stream);
}

bool AdtsChainAt(const std::uint8_t* data, std::size_t size, std::size_t at) {
  return FrameChainAt(data, size, at, 7, ParseAdtsHeader, SameAdtsConfig);
}

// The first page of an Ogg stream whose first packet is a Vorbis identification header.
bool VorbisStartAt(const std::uint8_t* data, std::size_t size, std::size_t at) {
  constexpr std::size_t kPageHead = 27;
  static constexpr std::uint8_t kVorbisId[] = {0x01, 'v', 'o', 'r', 'b', 'i', 's'};
  if (size - at < kPageHead || std::memcmp(data + at, "OggS", 4) != 0) return false;
  if (data[at + 4] != 0 || !(data[at + 5] & 0x02)) return false;  // version 0, first page
  const std::size_t packet = at + kPageHead + data[at + 26];
  return packet <= size && size - packet >= sizeof kVorbisId &&
         std::memcmp(data + packet, kVorbisId, sizeof kVorbisId) == 0;
}

// Bytes an ID3v2 tag at `p` takes, or 0 when there is none.
std::size_t Id3v2Bytes(const std::uint8_t* p, std::size_t size) {
  if (size < 10 || std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF) return 0;
  std::size_t body = 0;
  for (int i = 6; i < 10; ++i) {
    if (p[i] & 0x80) return 0;
    body = (body << 7) | p[i];
  }
  const bool footer = p[5] & 0x10;
  return 10 + body + (footer ? 10 : 0);
}

}  // namespace

TAudioFormat AudioFormatNamedBy(std::string_view contentType) {
  std::string lower;
  for (char c : contentType) lower += LowerAscii(c);
  if (lower.find("aac") != std::string::npos) return TAudioFormat::kAac;
  if (lower.find("ogg") != std::string::npos || lower.find("vorbis") != std::string::npos)
    return TAudioFormat::kVorbis;
  if (lower.find("mpeg") != std::string::npos || lower.find("mp3") != std::string::npos)
    return TAudioFormat::kMp3;
  return TAudioFormat::kUnknown;
}

namespace {

// ---- Decoders ----

void ClampToS16(const float* in, std::size_t count, std::int16_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = std::isfinite(in[i]) ? std::clamp(in[i], -1.0f, 1.0f) : 0.0f;
    out[i] = static_cast<std::int16_t>(std::lrint(v * 32767.0f));
  }
}

class TMp3StreamDecoder final : public TAudioDecoder {
 public:
  TMp3StreamDecoder() : handle_(mp3::NewS16Decoder(MPG123_QUIET)) {
    if (handle_) {
      // Damage longer than the default search would end the stream; look as far as it takes.
      mpg123_param(handle_, MPG123_RESYNC_LIMIT, -1, 0);
      // The first frame's encoder delay and padding say nothing of a stream that goes on: cut
      // by them, a joined stream loses audio at the wrong place.
      mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
      Reopen();
    }
  }
  ~TMp3StreamDecoder() override {
    if (handle_) mpg123_delete(handle_);
  }
  bool Ready() const { return handle_ && open_; }

  void Feed(const std::uint8_t* data, std::size_t size) override {
    if (open_ && size > 0 && mpg123_feed(handle_, data, size) != MPG123_OK) Reopen();
  }

  bool Decode(std::vector<std::int16_t>* pcm, TPcmFormat* format) override {
    pcm->clear();
    if (!open_) return false;
    // Room for the largest output of one frame, whatever the format; kept, since filling a fresh
    // block for every read cost more than decoding when most reads only ask for more input.
    if (block_.empty()) block_.resize(mpg123_outblock(handle_) / sizeof(std::int16_t));
    std::size_t done = 0;
    const int r = mpg123_read(handle_, block_.data(), block_.size() * sizeof(std::int16_t), &done);
    pcm->assign(block_.begin(),
                block_.begin() + static_cast<std::ptrdiff_t>(done / sizeof(std::int16_t)));
    switch (r) {
      case MPG123_NEW_FORMAT: {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        mpg123_getformat(handle_, &rate, &channels, &encoding);
        format_ = {rate, channels};
        break;
      }
      case MPG123_OK:
        break;
      case MPG123_NEED_MORE:
        if (pcm->empty()) return false;
        break;
      default:
        // What the decoder cannot get past: start afresh on the bytes that follow.
        Reopen();
        return false;
    }
    *format = format_;
    pcm->resize(pcm->size() - pcm->size() % std::max(1, format_.channels));
    // A read that neither decodes nor asks for more would otherwise repeat for ever.
    if (pcm->empty() && r == MPG123_OK && ++idleReads_ > 8) {
      idleReads_ = 0;
      Reopen();
      return false;
    }
    if (!pcm->empty()) idleReads_ = 0;
    return true;
  }

 private:
  void Reopen() {
    mpg123_close(handle_);
    open_ = mpg123_open_feed(handle_) == MPG123_OK;
    format_ = {};
  }

  mpg123_handle* handle_;
  bool open_ = false;
  TPcmFormat format_;
  int idleReads_ = 0;
  std::vector<std::int16_t> block_;
};

class TAacStreamDecoder final : public TAudioDecoder {
 public:
  ~TAacStreamDecoder() override { Close(); }

  void Feed(const std::uint8_t* data, std::size_t size) override {
    pending_.insert(pending_.end(), data, data + size);
  }

  bool Decode(std::vector<std::int16_t>* pcm, TPcmFormat* format) override {
    pcm->clear();
    // Bytes before the next sync are of no use.
    std::size_t at = 0;
    while (at + 7 <= pending_.size() && !ParseAdtsHeader(pending_.data() + at)) ++at;
    if (at + 7 > pending_.size()) at = pending_.size() > 6 ? pending_.size() - 6 : 0;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    if (pending_.size() < 7) return false;
    const TAdtsHeader header = *ParseAdtsHeader(pending_.data());
    if (pending_.size() < header.frameBytes) return false;

    std::uint8_t* frame = pending_.data();
    // A station that changes its stream (or a reconnect to another encoder) needs a new set-up.
    if (handle_ && !SameAdtsConfig(header, config_)) Close();
    if (!handle_ && !Open(frame, header)) return SkipByte();
    NeAACDecFrameInfo info{};
    void* samples =
        NeAACDecDecode(handle_, &info, frame, static_cast<unsigned long>(header.frameBytes));
    if (info.error != 0 || !samples) return SkipByte();
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<std::ptrdiff_t>(header.frameBytes));
    if (info.channels == 0 || info.samplerate == 0) return true;
    const auto* s16 = static_cast<const std::int16_t*>(samples);
    pcm->assign(s16, s16 + info.samples - info.samples % info.channels);
    *format = {static_cast<long>(info.samplerate), info.channels};
    return true;
  }

 private:
  bool Open(std::uint8_t* frame, const TAdtsHeader& header) {
    handle_ = NeAACDecOpen();
    if (!handle_) return false;
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(handle_);
    config->outputFormat = FAAD_FMT_16BIT;
    config->downMatrix = 1;  // 5.1 comes out as stereo
    NeAACDecSetConfiguration(handle_, config);
    unsigned long rate = 0;
    unsigned char channels = 0;
    if (NeAACDecInit(handle_, frame, static_cast<unsigned long>(header.frameBytes), &rate,
                     &channels) < 0) {
      Close();
      return false;
    }
    config_ = header;
    return true;
  }

  void Close() {
    if (handle_) NeAACDecClose(handle_);
    handle_ = nullptr;
  }

  // A sync that led to no frame: look for the next one.
  bool SkipByte() {
    pending_.erase(pending_.begin());
    return true;
  }

  NeAACDecHandle handle_ = nullptr;
  TAdtsHeader config_;  // the header fields the decoder was set up for
  std::vector<std::uint8_t> pending_;
};

class TVorbisStreamDecoder final : public TAudioDecoder {
 public:
  TVorbisStreamDecoder() {
    ogg_sync_init(&sync_);
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  ~TVorbisStreamDecoder() override {
    EndLogicalStream();
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
    ogg_sync_clear(&sync_);
  }

  void Feed(const std::uint8_t* data, std::size_t size) override {
    if (size == 0) return;
    char* buffer = ogg_sync_buffer(&sync_, static_cast<long>(size));
    if (!buffer) return;
    std::memcpy(buffer, data, size);
    ogg_sync_wrote(&sync_, static_cast<long>(size));
  }

  bool Decode(std::vector<std::int16_t>* pcm, TPcmFormat* format) override {
    pcm->clear();
    for (;;) {
      if (synthesis_) {
        float** channels = nullptr;
        const int frames = vorbis_synthesis_pcmout(&dsp_, &channels);
        if (frames > 0) {
          const std::size_t n =
              std::min<std::size_t>(static_cast<std::size_t>(frames), kMaxChunkFrames);
          const int count = info_.channels;
          pcm->resize(n * static_cast<std::size_t>(count));
          std::vector<float> frame(static_cast<std::size_t>(count));
          for (std::size_t i = 0; i < n; ++i) {
            for (int c = 0; c < count; ++c) frame[static_cast<std::size_t>(c)] = channels[c][i];
            ClampToS16(frame.data(), frame.size(),
                       pcm->data() + i * static_cast<std::size_t>(count));
          }
          vorbis_synthesis_read(&dsp_, static_cast<int>(n));
          *format = {info_.rate, count};
          return true;
        }
      }
      ogg_packet packet;
      if (streamOpen_) {
        const int r = ogg_stream_packetout(&stream_, &packet);
        if (r == 1) {
          Packet(&packet);
          continue;
        }
        if (r < 0) continue;  // a gap in the pages: the stream goes on after it
      }
      ogg_page page;
      const int r = ogg_sync_pageout(&sync_, &page);
      if (r == 0) return false;
      if (r < 0) continue;  // skipped bytes that were no page
      // A new logical stream: a chained one, or the headers a server sends after a reconnect.
      if (ogg_page_bos(&page)) {
        EndLogicalStream();
        ogg_stream_init(&stream_, ogg_page_serialno(&page));
        streamOpen_ = true;
      }
      if (streamOpen_ && ogg_page_serialno(&page) == stream_.serialno)
        ogg_stream_pagein(&stream_, &page);
    }
  }

 private:
  void Packet(ogg_packet* packet) {
    if (headers_ < 3) {
      if (vorbis_synthesis_headerin(&info_, &comment_, packet) < 0) {
        // Not Vorbis, or a broken header: nothing of this logical stream can be decoded.
        EndLogicalStream();
        return;
      }
      if (++headers_ < 3) return;
      if (vorbis_synthesis_init(&dsp_, &info_) != 0) {
        EndLogicalStream();
        return;
      }
      vorbis_block_init(&dsp_, &block_);
      synthesis_ = true;
      return;
    }
    if (synthesis_ && vorbis_synthesis(&block_, packet) == 0)
      vorbis_synthesis_blockin(&dsp_, &block_);
  }

  void EndLogicalStream() {
    if (synthesis_) {
      vorbis_block_clear(&block_);
      vorbis_dsp_clear(&dsp_);
      synthesis_ = false;
    }
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
    if (streamOpen_) ogg_stream_clear(&stream_);
    streamOpen_ = false;
    headers_ = 0;
  }

  ogg_sync_state sync_{};
  ogg_stream_state stream_{};
  bool streamOpen_ = false;
  vorbis_info info_{};
  vorbis_comment comment_{};
  int headers_ = 0;
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  bool synthesis_ = false;
};

}  // namespace

TAudioFormat DetectAudioFormat(std::string_view contentType, const std::uint8_t* head,
                               std::size_t size) {
  size = std::min(size, kAudioSniffBytes);
  if (const std::size_t tag = Id3v2Bytes(head, size)) {
    // A tag that fills the window hides what follows; such tags open MP3 streams.
    if (tag >= size) return TAudioFormat::kMp3;
    head += tag;
    size -= tag;
  }
  const TAudioFormat named = AudioFormatNamedBy(contentType);
  TAudioFormat first = TAudioFormat::kUnknown;
  std::array<bool, 4> found{};
  for (std::size_t at = 0; at < size; ++at) {
    const std::pair<TAudioFormat, bool> checks[] = {
        {TAudioFormat::kMp3, !found[1] && Mp3ChainAt(head, size, at)},
        {TAudioFormat::kAac, !found[2] && AdtsChainAt(head, size, at)},
        {TAudioFormat::kVorbis, !found[3] && VorbisStartAt(head, size, at)},
    };
    for (const auto& [format, match] : checks) {
      if (!match) continue;
      found[static_cast<std::size_t>(format)] = true;
      if (format == named) return format;
      if (first == TAudioFormat::kUnknown) first = format;
    }
    // Nothing the content type names can still turn up when it names nothing we read.
    if (first != TAudioFormat::kUnknown && named == TAudioFormat::kUnknown) return first;
  }
  return first;
}

std::unique_ptr<TAudioDecoder> MakeAudioDecoder(TAudioFormat format) {
  switch (format) {
    case TAudioFormat::kMp3: {
      auto decoder = std::make_unique<TMp3StreamDecoder>();
      if (!decoder->Ready()) return nullptr;
      return decoder;
    }
    case TAudioFormat::kAac:
      return std::make_unique<TAacStreamDecoder>();
    case TAudioFormat::kVorbis:
      return std::make_unique<TVorbisStreamDecoder>();
    case TAudioFormat::kUnknown:
      break;
  }
  return nullptr;
}

}  // namespace netstream
