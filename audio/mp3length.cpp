// Threading: no threads and no shared state; see mp3length.h.
#include "audio/mp3length.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/pathcodec.h"

namespace mp3 {
namespace {

// Junk (or a broken tag) may stand before the first frame; beyond this much we call the file
// something else rather than read all of it.
constexpr std::size_t kJunkLimit = 64 * 1024;
constexpr std::size_t kLongestFrame = 2 * 1024;  // Layer II at 384 kbit/s, 32 kHz: 1729 bytes
constexpr int kMaxId3Tags = 8;

// [MPEG-1, MPEG-2/2.5][layer - 1][index]
constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}}};
constexpr int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

int FrameBytes(int version, int layer, int bitrate, int rate, int padding) {
  const long bps = bitrate * 1000L;
  if (layer == 1) return static_cast<int>((12 * bps / rate + padding) * 4);
  if (layer == 3 && version != 10) return static_cast<int>(72 * bps / rate + padding);
  return static_cast<int>(144 * bps / rate + padding);
}

bool SameStream(const TFrameHeader& a, const TFrameHeader& b) {
  return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}

// Bytes that may legitimately follow the last frame.
bool IsTrailingTag(const std::uint8_t* p, std::size_t avail) {
  if (avail >= 3 && (std::memcmp(p, "TAG", 3) == 0 || std::memcmp(p, "ID3", 3) == 0)) return true;
  return avail >= 8 && std::memcmp(p, "APETAGEX", 8) == 0;
}

void ReadInfoTag(const std::uint8_t* frame, std::size_t avail, TStreamInfo* info) {
  const TFrameHeader& h = info->header;
  if (h.layer != 3) return;
  const std::size_t end = std::min<std::size_t>(avail, h.frameBytes);
  const std::size_t side =
      h.version == 10 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
  for (const std::size_t x : {4 + side, 6 + side}) {
    if (x + 8 > end) break;
    if (std::memcmp(frame + x, "Xing", 4) != 0 && std::memcmp(frame + x, "Info", 4) != 0) continue;
    const std::uint32_t flags = Be32(frame + x + 4);
    std::size_t p = x + 8;
    if (flags & 1) {
      if (p + 4 > end) return;
      info->frames = Be32(frame + p);
      p += 4;
    }
    if (flags & 2) {
      if (p + 4 > end) return;
      info->bytes = Be32(frame + p);
      p += 4;
    }
    if (flags & 4) p += 100;  // seek table
    if (flags & 8) p += 4;    // quality
    info->tag = TStreamInfo::kXing;
    // The encoder extension names its encoder in four letters ("LAME", "Lavc", ...); without
    // them the delay bytes are something else.
    if (p + 24 <= end && std::all_of(frame + p, frame + p + 4, [](std::uint8_t c) {
          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        })) {
      const std::uint8_t* d = frame + p + 21;
      info->delay = (d[0] << 4) | (d[1] >> 4);
      info->padding = ((d[1] & 0x0F) << 8) | d[2];
    }
    return;
  }
  constexpr std::size_t kVbri = 36;
  if (kVbri + 18 <= end && std::memcmp(frame + kVbri, "VBRI", 4) == 0) {
    info->tag = TStreamInfo::kVbri;
    info->bytes = Be32(frame + kVbri + 10);
    info->frames = Be32(frame + kVbri + 14);
  }
}

}  // namespace

bool ParseFrameHeader(const std::uint8_t* p, TFrameHeader* header) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3 || (p[3] & 3) == 2) {
    return false;
  }
  TFrameHeader h;
  h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
  h.layer = 4 - layerBits;
  h.bitrate = kBitrates[h.version == 10 ? 0 : 1][h.layer - 1][bitrateIndex];
  h.rate = kRates[h.version == 10 ? 0 : h.version == 20 ? 1 : 2][rateIndex];
  h.padding = (p[2] >> 1) & 1;
  h.crc = (p[1] & 1) == 0;
  h.channels = (p[3] >> 6) == 3 ? 1 : 2;
  h.frameBytes = FrameBytes(h.version, h.layer, h.bitrate, h.rate, h.padding);
  h.samples = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 10) ? 576 : 1152;
  *header = h;
  return true;
}

bool ParseStreamStart(const std::uint8_t* data, std::size_t size, std::int64_t base,
                      std::int64_t fileSize, TStreamInfo* info) {
  if (size < 4) return false;
  const std::size_t last = std::min(size - 4, kJunkLimit);
  for (std::size_t off = 0; off <= last; ++off) {
    TFrameHeader h;
    if (data[off] != 0xFF || !ParseFrameHeader(data + off, &h)) continue;
    const std::size_t next = off + h.frameBytes;
    const std::int64_t nextInFile = base + static_cast<std::int64_t>(next);
    if (nextInFile > fileSize || next > size) continue;  // not whole: a false sync or truncation
    bool confirmed = false;
    TFrameHeader second;
    if (next + 4 <= size && ParseFrameHeader(data + next, &second)) {
      confirmed = SameStream(h, second);
    } else if (nextInFile + 4 > fileSize) {
      confirmed = true;  // a single frame that ends the file
    } else {
      confirmed = IsTrailingTag(data + next, size - next);
    }
    if (!confirmed) continue;
    *info = TStreamInfo{};
    info->firstFrame = base + static_cast<std::int64_t>(off);
    info->header = h;
    ReadInfoTag(data + off, size - off, info);
    return true;
  }
  return false;
}

std::int64_t TagLengthSamples(const TStreamInfo& info, std::int64_t fileSize) {
  if (info.tag == TStreamInfo::kNoTag || info.frames <= 0) return -1;
  const TFrameHeader& h = info.header;
  const std::int64_t streamBytes = fileSize - info.firstFrame;
  if (info.bytes > 0 && streamBytes + static_cast<std::int64_t>(kLongestFrame) < info.bytes) {
    return -1;  // cut short after the tag was written
  }
  const int smallestFrame =
      FrameBytes(h.version, h.layer, kBitrates[h.version == 10 ? 0 : 1][h.layer - 1][1], h.rate, 0);
  if (info.frames > streamBytes / smallestFrame) return -1;  // more frames than could fit
  // The decoder plays a VBRI frame as audio (silence), unlike a Xing frame, so it counts.
  const std::int64_t frames = info.frames + (info.tag == TStreamInfo::kVbri ? 1 : 0);
  std::int64_t samples = frames * h.samples;
  if (info.delay + info.padding < samples) samples -= info.delay + info.padding;
  return samples;
}

mpg123_handle* NewS16Decoder(long flags) {
  int err = MPG123_OK;
  mpg123_handle* handle = mpg123_new(nullptr, &err);
  if (!handle) return nullptr;
  mpg123_param(handle, MPG123_ADD_FLAGS, flags, 0);
  mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
  mpg123_format_none(handle);
  const long* rates = nullptr;
  std::size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (std::size_t i = 0; i < rateCount; ++i) {
    mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  return handle;
}

}  // namespace mp3

namespace {

// Reads exactly `size` bytes at `offset` unless the file ends first; returns the bytes read.
std::size_t ReadAt(int fd, std::uint8_t* out, std::size_t size, std::int64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

// The decoder reads a frame header and then its body, two small reads a frame; serving them
// from a block buffer instead of the kernel makes a frame scan several times faster.
struct TMp3Decoder::TReader {
  static constexpr std::size_t kBlock = 64 * 1024;
  // What Open needs from one place in the file: the search window for the first frame, and a
  // little more so that one read at the start also covers a short tag before it.
  static constexpr std::size_t kWindow = mp3::kJunkLimit + 2 * mp3::kLongestFrame;
  static constexpr std::size_t kFirstRead = kWindow + 4 * 1024;

  ~TReader() { Close(); }
  // The block stays allocated from file to file: a decoder that measures many files fills no
  // fresh buffer for each.
  void Reset(int descriptor, std::int64_t fileSize) {
    Close();
    fd = descriptor;
    size = fileSize;
    pos = 0;
    blockStart = 0;
    blockBytes = 0;
  }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void Reserve(std::size_t bytes) {
    if (block.size() < bytes) block.resize(bytes);
  }

  // Up to `bytes` bytes at `offset` (fewer at the end of the file; *got says how many), served
  // from the block, which is read anew at `offset` when it does not hold them. The decoder's
  // first reads then come from the same block.
  const std::uint8_t* Fetch(std::int64_t offset, std::size_t bytes, std::size_t* got) {
    const std::int64_t blockEnd = blockStart + static_cast<std::int64_t>(blockBytes);
    const std::int64_t wantEnd = std::min(size, offset + static_cast<std::int64_t>(bytes));
    if (offset < blockStart || wantEnd > blockEnd) {
      const std::size_t read = std::max(bytes, kFirstRead);
      Reserve(read);
      blockStart = offset;
      blockBytes = ReadAt(fd, block.data(), read, offset);
    }
    const std::int64_t at = offset - blockStart;
    *got = static_cast<std::size_t>(std::clamp<std::int64_t>(
        std::min(wantEnd, blockStart + static_cast<std::int64_t>(blockBytes)) - offset, 0,
        static_cast<std::int64_t>(bytes)));
    return block.data() + at;
  }

  // Offset just past the ID3v2 tags at the start of the file.
  std::int64_t SkipId3v2() {
    std::int64_t tagEnd = 0;
    for (int i = 0; i < mp3::kMaxId3Tags; ++i) {
      std::size_t got = 0;
      const std::uint8_t* h = Fetch(tagEnd, 10, &got);
      if (got != 10) break;
      if (std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) break;
      if ((h[6] | h[7] | h[8] | h[9]) & 0x80) break;  // sizes are 7 bits a byte
      const std::int64_t body = (std::int64_t{h[6]} << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
      tagEnd += 10 + body + ((h[5] & 0x10) ? 10 : 0);
      if (tagEnd >= size) break;
    }
    return tagEnd;
  }

  // PCM frames per channel of a stream without an info tag, counted by walking its frame
  // headers from the first frame to the end of the file: far cheaper than the decoder
  // library's own scan, which parses every frame. Only a clean stream is counted: anything
  // else between the frames (junk, a change of stream, a frame cut short) gives -1, and the
  // library's scan settles it the way its decoding will.
  std::int64_t WalkFrames(const mp3::TStreamInfo& info) {
    std::int64_t at = info.firstFrame;
    std::int64_t samples = 0;
    while (at < size) {
      std::size_t got = 0;
      const std::uint8_t* p = Fetch(at, 8, &got);
      mp3::TFrameHeader h;
      if (got < 4 || !mp3::ParseFrameHeader(p, &h) || !mp3::SameStream(h, info.header)) {
        if (mp3::IsTrailingTag(p, got)) break;
        return -1;
      }
      if (at + h.frameBytes > size) return -1;
      samples += h.samples;
      at += h.frameBytes;
    }
    return samples;
  }

  static mpg123_ssize_t Read(void* self, void* out, std::size_t bytes) {
    auto* r = static_cast<TReader*>(self);
    auto* dst = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < bytes) {
      if (r->pos < r->blockStart ||
          r->pos >= r->blockStart + static_cast<std::int64_t>(r->blockBytes)) {
        if (r->pos >= r->size) break;
        r->Reserve(kBlock);
        r->blockStart = r->pos;
        r->blockBytes = ReadAt(r->fd, r->block.data(), kBlock, r->pos);
        if (r->blockBytes == 0) break;
      }
      const auto at = static_cast<std::size_t>(r->pos - r->blockStart);
      const std::size_t n = std::min(bytes - done, r->blockBytes - at);
      std::memcpy(dst + done, r->block.data() + at, n);
      done += n;
      r->pos += static_cast<std::int64_t>(n);
    }
    return static_cast<mpg123_ssize_t>(done);
  }

  static off_t Seek(void* self, off_t offset, int whence) {
    auto* r = static_cast<TReader*>(self);
    std::int64_t target = offset;
    if (whence == SEEK_CUR) {
      target += r->pos;
    } else if (whence == SEEK_END) {
      target += r->size;
    } else if (whence != SEEK_SET) {
      return -1;
    }
    if (target < 0) return -1;
    r->pos = target;
    return static_cast<off_t>(target);
  }

  int fd = -1;
  std::int64_t size = 0;
  std::int64_t pos = 0;
  std::vector<std::uint8_t> block;
  std::int64_t blockStart = 0;
  std::size_t blockBytes = 0;
};

TMp3Decoder::TMp3Decoder() = default;

TMp3Decoder::~TMp3Decoder() {
  Close();
  if (handle_) mpg123_delete(handle_);
}

void TMp3Decoder::Close() {
  if (handle_) mpg123_close(handle_);
  open_ = false;
  if (reader_) reader_->Close();
  rate_ = 0;
  channels_ = 0;
  length_ = 0;
  fromTag_ = false;
}

int TMp3Decoder::Open(const QString& path) {
  if (path.isEmpty()) {
    Close();
    return MP3_ERR_FILE;
  }
  return Open(platform::encodePath(path).constData());
}

int TMp3Decoder::Open(const char* path) {
  Close();
  if (!path || !*path) return MP3_ERR_FILE;
  // O_NONBLOCK so that a FIFO or a device node cannot stall the caller; cleared below.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return MP3_ERR_FILE;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return MP3_ERR_FILE;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const std::int64_t fileSize = st.st_size;
  if (!reader_) reader_ = std::make_unique<TReader>();
  reader_->Reset(fd, fileSize);

  std::size_t got = 0;
  reader_->Fetch(0, TReader::kFirstRead, &got);
  const std::int64_t start = reader_->SkipId3v2();
  if (start >= fileSize) {
    Close();
    return MP3_ERR_NOT_MP3;
  }
  const std::uint8_t* window =
      reader_->Fetch(start,
                     static_cast<std::size_t>(std::min<std::int64_t>(
                         fileSize - start, static_cast<std::int64_t>(TReader::kWindow))),
                     &got);
  mp3::TStreamInfo info;
  if (!mp3::ParseStreamStart(window, got, start, fileSize, &info)) {
    Close();
    return MP3_ERR_NOT_MP3;
  }

  if (!handle_) {
    // Gapless: the encoder delay and padding are cut, so the decoded count is the length.
    // No "Frankenstein" streams: the output format cannot change under the sound stream.
    handle_ = mp3::NewS16Decoder(MPG123_QUIET | MPG123_GAPLESS | MPG123_NO_FRANKENSTEIN);
    if (!handle_) {
      Close();
      return MP3_ERR_DECODER;
    }
  }
  int encoding = 0;
  if (mpg123_replace_reader_handle(handle_, &TReader::Read, &TReader::Seek, nullptr) != MPG123_OK ||
      mpg123_open_handle(handle_, reader_.get()) != MPG123_OK ||
      mpg123_getformat(handle_, &rate_, &channels_, &encoding) != MPG123_OK || rate_ <= 0 ||
      (channels_ != 1 && channels_ != 2) || encoding != MPG123_ENC_SIGNED_16) {
    Close();
    return MP3_ERR_NOT_MP3;
  }

  const std::int64_t tagged =
      info.header.rate == rate_ ? mp3::TagLengthSamples(info, fileSize) : -1;
  if (tagged >= 0) {
    length_ = tagged;
    fromTag_ = true;
  } else {
    const std::int64_t walked = info.tag == mp3::TStreamInfo::kNoTag && info.header.rate == rate_
                                    ? reader_->WalkFrames(info)
                                    : -1;
    if (walked > 0) {
      length_ = walked;
    } else {
      if (mpg123_scan(handle_) != MPG123_OK) {
        Close();
        return MP3_ERR_NOT_MP3;
      }
      length_ = mpg123_length(handle_);
    }
  }
  if (length_ <= 0) {
    Close();
    return MP3_ERR_NOT_MP3;
  }
  open_ = true;
  return MP3_OK;
}

std::int64_t TMp3Decoder::LengthMs() const {
  if (rate_ <= 0) return 0;
  return (length_ * 1000 + rate_ / 2) / rate_;
}

std::size_t TMp3Decoder::Read(std::uint8_t* out, std::size_t bytes, bool* end) {
  *end = false;
  if (!open_) {
    *end = true;
    return 0;
  }
  const std::size_t frame = static_cast<std::size_t>(FrameBytes());
  bytes -= bytes % frame;
  std::size_t total = 0;
  // A read may legitimately return nothing (a frame that only fills the decoder's history);
  // a long run of those means the rest is not decodable.
  for (int idle = 0; total < bytes && idle < 64;) {
    std::size_t done = 0;
    const int r = mpg123_read(handle_, out + total, bytes - total, &done);
    total += done;
    if (r == MPG123_DONE || (r != MPG123_OK && r != MPG123_NEW_FORMAT)) {
      *end = true;
      break;
    }
    idle = done == 0 ? idle + 1 : 0;
    if (done > 0) break;  // hand over what there is; the caller asks again
  }
  if (!*end && total == 0) *end = true;
  return total;
}

bool TMp3Decoder::Seek(std::int64_t sample) {
  if (!open_ || sample < 0) return false;
  return mpg123_seek(handle_, static_cast<off_t>(sample), SEEK_SET) >= 0;
}

int MeasureMp3Length(const QString& path, std::int64_t* ms) {
  if (!ms) return MP3_ERR_ARGUMENT;
  TMp3Decoder decoder;
  if (const int e = decoder.Open(path)) return e;
  *ms = decoder.LengthMs();
  return MP3_OK;
}

int MeasureMp3Length(const char* path, std::int64_t* ms) {
  if (!ms) return MP3_ERR_ARGUMENT;
  TMp3Decoder decoder;
  if (const int e = decoder.Open(path)) return e;
  *ms = decoder.LengthMs();
  return MP3_OK;
}
