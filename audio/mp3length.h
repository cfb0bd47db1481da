#pragma once
// Exact length of MP3 files and the decode-only path under the MP3 device: frame header and
// info-tag (Xing/Info with the LAME extension, VBRI) parsing, a frame scan where no trustworthy
// tag exists, and a sample-accurate decoder to 16-bit PCM.
//
// Threading: no shared state. MeasureMp3Length may run on any thread at the same time as any
// other call; one TMp3Decoder is used by one thread at a time (the device hands its decoder to
// its decoding thread after Open).
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

struct mpg123_handle_struct;

// Error numbers of the MP3 calls (MeasureMp3Length, TMp3Decoder and TMp3Device). 0 is success.
enum TMp3Error : int {
  MP3_OK = 0,
  MP3_ERR_FILE = 1,       // missing, unreadable, or not a regular file
  MP3_ERR_NOT_MP3 = 2,    // no decodable MPEG audio: empty, another format, truncated to nothing
  MP3_ERR_DECODER = 3,    // the decoder library could not be set up
  MP3_ERR_NO_SERVER = 4,  // the sound server cannot be reached or was lost
  MP3_ERR_STREAM = 5,     // the server refused or dropped the playback stream
  MP3_ERR_NOT_OPEN = 6,   // the command needs an open file
  MP3_ERR_RANGE = 7,      // an argument outside its range (seek past the end, volume > 1000)
  MP3_ERR_MODE = 8,       // the command does not apply in the current mode (pause when stopped)
  MP3_ERR_ARGUMENT = 9,   // a null output pointer
};

// Length of the MP3 file in milliseconds, measured as the MP3 device measures it; no sound
// stream is involved. Returns MP3_OK and sets *ms, or an error number and leaves *ms alone.
int MeasureMp3Length(const QString& path, std::int64_t* ms);
int MeasureMp3Length(const char* path, std::int64_t* ms);

namespace mp3 {

// One MPEG audio frame header (4 bytes).
struct TFrameHeader {
  int version = 0;  // 10: MPEG-1, 20: MPEG-2, 25: MPEG-2.5
  int layer = 0;    // 1..3
  int bitrate = 0;  // kbit/s
  int rate = 0;     // Hz
  int channels = 0;
  int padding = 0;
  bool crc = false;
  int frameBytes = 0;  // whole frame, header included
  int samples = 0;     // PCM frames per channel decoded from it
};

// False for anything that is not a usable frame header; free-format frames count as unusable
// because their size cannot be known from the header.
bool ParseFrameHeader(const std::uint8_t* p, TFrameHeader* header);

// What the start of the audio data says about the stream.
struct TStreamInfo {
  std::int64_t firstFrame = -1;  // file offset of the first frame (the info frame, if any)
  TFrameHeader header;
  enum Tag { kNoTag, kXing, kVbri } tag = kNoTag;
  std::int64_t frames = -1;  // frames the tag announces (a Xing frame not counted)
  std::int64_t bytes = -1;   // stream bytes the tag announces, info frame included
  int delay = 0;             // encoder delay and end padding, PCM frames (LAME extension)
  int padding = 0;
};

// Finds the first frame in `data` (which starts at file offset `base`, after any ID3v2 tags):
// a valid header followed by a second one of the same stream, or by the end of the file or a
// trailing tag. `fileSize` tells whether the data reaches the end of the file. Then reads the
// info tag of that frame.
bool ParseStreamStart(const std::uint8_t* data, std::size_t size, std::int64_t base,
                      std::int64_t fileSize, TStreamInfo* info);

// PCM frames per channel from the info tag, or -1 when there is none or it cannot be trusted
// (announced bytes or frames that the file is too small to hold: a truncated file).
std::int64_t TagLengthSamples(const TStreamInfo& info, std::int64_t fileSize);

// A new decoder handle with `flags` (MPG123_*) added that puts out signed 16-bit samples at the
// stream's own rate and channel count; null if the library cannot make one.
mpg123_handle_struct* NewS16Decoder(long flags);

}  // namespace mp3

// Decodes one MP3 file to interleaved signed 16-bit native-endian PCM at the file's own rate
// and channel count, without the encoder delay and padding, so that the decoded sample count is
// the length. One decoder may open file after file: its decoder library handle and its read
// buffer are made by the first Open and kept until the decoder is destroyed, which saves much of
// the cost of measuring many short files.
class TMp3Decoder {
 public:
  TMp3Decoder();
  ~TMp3Decoder();
  TMp3Decoder(const TMp3Decoder&) = delete;
  TMp3Decoder& operator=(const TMp3Decoder&) = delete;

  // Opens and measures the file; never blocks on a FIFO or device node.
  int Open(const QString& path);
  int Open(const char* path);
  void Close();
  bool IsOpen() const { return open_; }

  long Rate() const { return rate_; }
  int Channels() const { return channels_; }
  int FrameBytes() const { return channels_ * 2; }
  std::int64_t LengthSamples() const { return length_; }
  std::int64_t LengthMs() const;
  bool LengthFromTag() const { return fromTag_; }

  // Fills up to `bytes` (at least one PCM frame; rounded down to whole ones); returns the
  // bytes written. *end turns true once nothing more can be decoded (end of data or an
  // undecodable rest).
  std::size_t Read(std::uint8_t* out, std::size_t bytes, bool* end);
  // Moves to PCM frame `sample` (0..length); false if the decoder cannot get there.
  bool Seek(std::int64_t sample);

 private:
  struct TReader;

  mpg123_handle_struct* handle_ = nullptr;  // kept from the first Open to the destructor
  bool open_ = false;
  std::unique_ptr<TReader> reader_;  // the file, read in large blocks for the decoder
  long rate_ = 0;
  int channels_ = 0;
  std::int64_t length_ = 0;
  bool fromTag_ = false;
};
