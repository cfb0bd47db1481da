// Recognising a stream's format from its first bytes, and decoding each format from bytes that
// arrive in pieces, damaged or not. Tones made by ffmpeg; the pitch is measured on the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/streamdecoder.h"
#include "tests/audio/soundmonitor.h"
#include "tests/audio/streamfixtures.h"

namespace {

using netstream::TAudioFormat;
using netstream::TPcmFormat;
using streamtest::Bytes;
using streamtest::Garbage;
using streamtest::Kind;
using streamtest::Tone;

// One run of samples of one format, in the order they came out.
struct Segment {
  TPcmFormat format;
  std::vector<std::int16_t> samples;

  std::size_t Frames() const { return samples.size() / static_cast<std::size_t>(format.channels); }
  // One second as mono floats for the analysis of the sound tests, ending half a second
  // before the end: an encoder's last frames ring on past the tone.
  std::vector<float> MonoNearEnd() const {
    const std::size_t frames = Frames();
    const auto skip = static_cast<std::size_t>(format.rate / 2);
    const std::size_t end = frames > skip ? frames - skip : 0;
    const std::size_t take = std::min(end, static_cast<std::size_t>(format.rate));
    std::vector<float> mono;
    for (std::size_t f = end - take; f < end; ++f) {
      float sum = 0;
      for (int c = 0; c < format.channels; ++c)
        sum += samples[f * static_cast<std::size_t>(format.channels) + static_cast<std::size_t>(c)];
      mono.push_back(sum / format.channels / 32768.0f);
    }
    return mono;
  }
};

// Feeds `bytes` in pieces of `piece` bytes, decoding all it can after each.
std::vector<Segment> DecodeAll(TAudioFormat format, const std::string& bytes, std::size_t piece) {
  std::vector<Segment> out;
  auto decoder = netstream::MakeAudioDecoder(format);
  EXPECT_NE(decoder, nullptr);
  if (!decoder) return out;
  std::vector<std::int16_t> pcm;
  TPcmFormat pcmFormat;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    decoder->Feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), n);
    while (decoder->Decode(&pcm, &pcmFormat)) {
      if (pcm.empty()) continue;
      EXPECT_GT(pcmFormat.channels, 0);
      EXPECT_EQ(pcm.size() % static_cast<std::size_t>(pcmFormat.channels), 0u);
      if (out.empty() || !(out.back().format == pcmFormat)) out.push_back({pcmFormat, {}});
      out.back().samples.insert(out.back().samples.end(), pcm.begin(), pcm.end());
    }
  }
  return out;
}

TAudioFormat Detect(const std::string& bytes, const char* contentType = "") {
  return netstream::DetectAudioFormat(
      contentType, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TAudioFormat FormatOf(Kind kind) {
  switch (kind) {
    case Kind::kMp3:
      return TAudioFormat::kMp3;
    case Kind::kAac:
      return TAudioFormat::kAac;
    case Kind::kVorbis:
      return TAudioFormat::kVorbis;
    default:
      return TAudioFormat::kUnknown;
  }
}

TEST(StreamFormat, IsKnownFromTheFirstBytes) {
  const std::string mp3 = Bytes(Tone(Kind::kMp3, 440));
  const std::string aac = Bytes(Tone(Kind::kAac, 440));
  const std::string ogg = Bytes(Tone(Kind::kVorbis, 440));
  ASSERT_EQ(mp3.substr(0, 3), "ID3") << "the MP3 fixture should open with a tag";
  const std::string bigTag = std::string("ID3\x04\x00\x00\x00\x01\x00\x00", 10);  // 16 KiB tag
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Garbage(9000);
  struct Case {
    const char* what;
    std::string bytes;
    const char* contentType;
    TAudioFormat expected;
  };
  const Case cases[] = {
      {"MP3 behind its ID3 tag", mp3, "audio/mpeg", TAudioFormat::kMp3},
      {"MP3 joined mid-frame", mp3.substr(5001), "", TAudioFormat::kMp3},
      {"a tag too large to see past", bigTag + Garbage(8000), "", TAudioFormat::kMp3},
      {"AAC", aac, "audio/aacp", TAudioFormat::kAac},
      {"AAC joined mid-frame, sent as MPEG", aac.substr(3001), "audio/mpeg", TAudioFormat::kAac},
      {"Ogg Vorbis", ogg, "application/ogg", TAudioFormat::kVorbis},
      {"Ogg Opus", Bytes(Tone(Kind::kOpus, 440)), "audio/ogg", TAudioFormat::kUnknown},
      {"FLAC", Bytes(Tone(Kind::kFlac, 440)), "audio/flac", TAudioFormat::kUnknown},
      {"an HTML page", "<!DOCTYPE html><html><body>" + std::string(9000, 'x'), "text/html",
       TAudioFormat::kUnknown},
      {"a PNG", png, "image/png", TAudioFormat::kUnknown},
      {"random bytes", Garbage(8192, 5), "", TAudioFormat::kUnknown},
      {"nothing", "", "audio/mpeg", TAudioFormat::kUnknown},
      {"one MP3 frame header alone", mp3.substr(mp3.find('\xff'), 4), "", TAudioFormat::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Detect(c.bytes, c.contentType), c.expected);
  }
}

// Frames of two formats in one window: the one the server names wins, else the first.
TEST(StreamFormat, TheContentTypeDecidesBetweenTwoFoundFormats) {
  const std::string mp3 = Bytes(Tone(Kind::kMp3, 440)).substr(3000, 2000);
  const std::string aac = Bytes(Tone(Kind::kAac, 440)).substr(0, 4000);
  EXPECT_EQ(Detect(mp3 + aac, ""), TAudioFormat::kMp3);
  EXPECT_EQ(Detect(mp3 + aac, "audio/aac"), TAudioFormat::kAac);
  EXPECT_EQ(Detect(aac + mp3, "audio/mpeg"), TAudioFormat::kMp3);
  EXPECT_EQ(Detect(aac + mp3, "text/plain"), TAudioFormat::kAac);
}

class StreamDecoder : public ::testing::TestWithParam<Kind> {};

// Six seconds of 440 Hz, whatever the size of the pieces the network delivers.
TEST_P(StreamDecoder, DecodesAWholeStreamFromPieces) {
  const std::string bytes = Bytes(Tone(GetParam(), 440));
  ASSERT_FALSE(bytes.empty());
  for (std::size_t piece : {1u, 333u, 4096u}) {
    SCOPED_TRACE(piece);
    const std::vector<Segment> out = DecodeAll(FormatOf(GetParam()), bytes, piece);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].format, (TPcmFormat{44100, 2}));
    EXPECT_NEAR(static_cast<double>(out[0].Frames()), 6 * 44100.0, 44100 * 0.05);
    EXPECT_NEAR(soundtest::Analyse(out[0].MonoNearEnd()).hz, 440, 3);
  }
}

// Damage inside a stream (random bytes where frames were) is skipped: what follows it plays.
TEST_P(StreamDecoder, GoesOnAfterDamage) {
  const std::string first = Bytes(Tone(GetParam(), 440));
  const std::string second = Bytes(Tone(GetParam(), 880, 2));
  ASSERT_FALSE(first.empty() || second.empty());
  const std::string before = first.substr(0, first.size() / 2);
  const std::vector<Segment> out =
      DecodeAll(FormatOf(GetParam()), before + Garbage(20000, 3) + second, 1000);
  std::size_t framesBefore = 0;
  for (const Segment& s : DecodeAll(FormatOf(GetParam()), before, 1000)) framesBefore += s.Frames();
  ASSERT_FALSE(out.empty());
  const Segment& last = out.back();
  EXPECT_EQ(last.format, (TPcmFormat{44100, 2}));
  EXPECT_NEAR(soundtest::Analyse(last.MonoNearEnd()).hz, 880, 5);
  std::size_t frames = 0;
  for (const Segment& s : out) frames += s.Frames();
  EXPECT_GT(frames, framesBefore + static_cast<std::size_t>(1.9 * 44100)) << "2 s after the damage";
}

INSTANTIATE_TEST_SUITE_P(Formats, StreamDecoder, streamtest::PlayedKinds(), streamtest::KindName);

// A chained Ogg stream (as after a reconnect, or a station's next programme) starts a new
// decoder for each link, in its own format.
TEST(StreamDecoderVorbis, FollowsChainedStreamsIntoANewFormat) {
  const std::string first = Bytes(Tone(Kind::kVorbis, 440, 2));
  const std::string second = Bytes(Tone(Kind::kVorbis, 880, 2, 22050, 1));
  const std::string third = Bytes(Tone(Kind::kVorbis, 440, 2));
  const std::vector<Segment> out = DecodeAll(TAudioFormat::kVorbis, first + second + third, 4096);
  ASSERT_EQ(out.size(), 3u);
  const TPcmFormat expected[] = {{44100, 2}, {22050, 1}, {44100, 2}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(out[i].format, expected[i]);
    EXPECT_NEAR(static_cast<double>(out[i].Frames()), 2.0 * expected[i].rate,
                expected[i].rate * 0.05);
  }
}

}  // namespace
