#include "audio/icystream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "audio/bass.h"

namespace {

using namespace std::string_view_literals;
using netstream::TIcyDemuxer;
using netstream::TResponseHead;
using netstream::TResponseHeadParser;
using State = TResponseHeadParser::State;

constexpr std::string_view kIcecastHead =
    "HTTP/1.0 200 OK\r\n"
    "Content-Type: audio/mpeg\r\n"
    "icy-br:128\r\n"
    "ICY-Name: Night Radio\r\n"
    "icy-genre: Jazz\r\n"
    "icy-url: http://radio.test/\r\n"
    "icy-description: Late jazz\r\n"
    "Icy-MetaInt: 16000\r\n"
    "Cache-Control: no-cache\r\n"
    "\r\n";

// Feeds `bytes` in pieces of `chunk` bytes, as a network read would hand them over; returns how
// many bytes the parser took (the rest is the body).
std::size_t FeedInChunks(TResponseHeadParser& parser, std::string_view bytes, std::size_t chunk) {
  std::size_t taken = 0;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::string_view piece = bytes.substr(at, chunk);
    const std::size_t used = parser.Feed(piece);
    taken += used;
    if (parser.state() != State::kNeedMore) break;
    EXPECT_EQ(used, piece.size()) << "a head still being read must take the whole chunk";
  }
  return taken;
}

TEST(ResponseHead, StatusLines) {
  struct Case {
    std::string_view line;
    bool ok;
    bool icy;
    int status;
    std::string_view reason;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK", true, false, 200, "OK"},
      {"HTTP/1.1 302 Found", true, false, 302, "Found"},
      {"ICY 200 OK", true, true, 200, "OK"},
      {"ICY 401 Service Unavailable", true, true, 401, "Service Unavailable"},
      {"HTTP/2 200", true, false, 200, ""},  // how libcurl shows an HTTP/2 answer
      {"HTTP/1.1 404 ", true, false, 404, ""},
      {"HTTP/1.1 20 OK", false, false, 0, ""},
      {"HTTP/1.1 2000 OK", false, false, 0, ""},
      {"HTTP/1.1 099 Low", false, false, 0, ""},
      {"HTTP/1.1 600 High", false, false, 0, ""},
      {"HTTP/1.1200 OK", false, false, 0, ""},
      {"HTTP/11 200 OK", false, false, 0, ""},
      {"HTTP/1.x 200 OK", false, false, 0, ""},
      {"http/1.1 200 OK", false, false, 0, ""},
      {"ICY200 OK", false, false, 0, ""},
      {"SSH-2.0-OpenSSH_9.2", false, false, 0, ""},
      {"\xFF\xFB\x90\x64", false, false, 0, ""},  // raw MP3 with no head at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TResponseHeadParser parser;
    const std::string bytes = std::string(c.line) + "\r\nContent-Type: audio/mpeg\r\n\r\n";
    parser.Feed(bytes);
    if (!c.ok) {
      EXPECT_EQ(parser.state(), State::kFailed);
      EXPECT_EQ(parser.error(), BASS_ERROR_FORMAT);
      continue;
    }
    ASSERT_EQ(parser.state(), State::kDone);
    EXPECT_EQ(parser.error(), BASS_OK);
    EXPECT_EQ(parser.head().icy, c.icy);
    EXPECT_EQ(parser.head().status, c.status);
    EXPECT_EQ(parser.head().reason, c.reason);
    EXPECT_EQ(parser.head().contentType, "audio/mpeg");
  }
}

// Whatever the chunking, the same head comes out and the body starts at the same byte.
TEST(ResponseHead, AnyChunkingGivesTheSameHeadAndBodyStart) {
  const std::string body = "\xFF\xFB\x90\x64 first audio bytes";
  const std::string stream = std::string(kIcecastHead) + body;
  for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    TResponseHeadParser parser;
    const std::size_t taken = FeedInChunks(parser, stream, chunk);
    ASSERT_EQ(parser.state(), State::kDone);
    EXPECT_EQ(taken, kIcecastHead.size());
    const TResponseHead& head = parser.head();
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.contentType, "audio/mpeg");
    EXPECT_EQ(head.metaInterval, 16000u);
    EXPECT_EQ(head.icyName, "Night Radio");
    EXPECT_EQ(head.icyGenre, "Jazz");
    EXPECT_EQ(head.icyUrl, "http://radio.test/");
    EXPECT_EQ(head.icyDescription, "Late jazz");
    EXPECT_EQ(head.Header("ICY-BR"), "128");
    EXPECT_EQ(head.Header("cache-control"), "no-cache");
    EXPECT_EQ(head.Header("Location"), std::nullopt);
    EXPECT_EQ(head.headers.size(), 8u);
  }
  // Bytes fed after the head belong to the body and are not taken.
  TResponseHeadParser parser;
  ASSERT_EQ(parser.Feed(stream), kIcecastHead.size());
  EXPECT_EQ(parser.Feed(body), 0u);
}

TEST(ResponseHead, HeaderForms) {
  // Bare line feeds (some old radio servers), blank lines before the status line, a repeated
  // header (the first counts), a continuation line and names in any case.
  TResponseHeadParser parser;
  parser.Feed(
      "\r\n\nICY 200 OK\n"
      "content-type:audio/aacp\n"
      "Content-Type: text/html\n"
      "LOCATION:  http://a.test/x  \n"
      "X-Long: first\n"
      "\tsecond\n"
      "icy-metaint: 8192\n"
      "icy-metaint: 8192\n"
      "\n");
  ASSERT_EQ(parser.state(), State::kDone);
  const TResponseHead& head = parser.head();
  EXPECT_TRUE(head.icy);
  EXPECT_EQ(head.contentType, "audio/aacp");
  EXPECT_EQ(head.location, "http://a.test/x");
  EXPECT_EQ(head.Header("x-long"), "first second");
  EXPECT_EQ(head.metaInterval, 8192u);

  const std::string_view malformed[] = {
      "HTTP/1.1 200 OK\r\nno colon here\r\n\r\n",
      "HTTP/1.1 200 OK\r\n: empty name\r\n\r\n",
      "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",
      "HTTP/1.1 200 OK\r\n continuation without a header\r\n\r\n",
      "HTTP/1.1 200 OK\r\nicy-metaint: 8192\r\nicy-metaint: 4096\r\n\r\n",
  };
  for (std::string_view bytes : malformed) {
    SCOPED_TRACE(bytes);
    TResponseHeadParser bad;
    EXPECT_EQ(bad.Feed(bytes), 0u);
    EXPECT_EQ(bad.state(), State::kFailed);
    EXPECT_EQ(bad.error(), BASS_ERROR_FORMAT);
    EXPECT_EQ(bad.Feed("\r\n\r\n"), 0u) << "a failed parser takes nothing more";
  }
}

TEST(ResponseHead, MetaInterval) {
  struct Case {
    std::string_view value;
    std::optional<std::uint32_t> interval;
  };
  const Case cases[] = {
      {"16000", 16000},
      {" 8192 ", 8192},
      {"0", 0},
      {"1", 1},
      {"0008192", 8192},
      {"1048576", 1u << 20},
      {"1048577", std::nullopt},
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"8k", std::nullopt},
      {"8 192", std::nullopt},
      {"0x2000", std::nullopt},
      {"99999999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(netstream::ParseMetaInterval(c.value), c.interval);
    TResponseHeadParser parser;
    parser.Feed("ICY 200 OK\r\nicy-metaint:" + std::string(c.value) + "\r\n\r\n");
    EXPECT_EQ(parser.state(), c.interval ? State::kDone : State::kFailed);
    if (c.interval) {
      EXPECT_EQ(parser.head().metaInterval, *c.interval);
    }
  }
  TResponseHeadParser missing;
  missing.Feed(std::string_view("ICY 200 OK\r\n\r\n"));
  ASSERT_EQ(missing.state(), State::kDone);
  EXPECT_EQ(missing.head().metaInterval, 0u);
}

// A server that never ends its head must fail at the bound, long before it has sent 1 MB.
TEST(ResponseHead, SizeIsBounded) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  const std::string oneLongLine = status + "X-Junk: " + std::string(1 << 20, 'a');
  std::string manyHeaders = status;
  while (manyHeaders.size() < (1u << 20)) manyHeaders += "X-Junk: aaaaaaaaaaaaaaaa\r\n";
  for (const std::string* bytes : {&oneLongLine, static_cast<const std::string*>(&manyHeaders)}) {
    TResponseHeadParser parser;
    std::size_t fed = 0;
    while (parser.state() == State::kNeedMore && fed < bytes->size()) {
      parser.Feed(std::string_view(*bytes).substr(fed, 4096));
      fed += 4096;
    }
    EXPECT_EQ(parser.state(), State::kFailed);
    EXPECT_EQ(parser.error(), BASS_ERROR_FORMAT);
    EXPECT_LE(fed, netstream::kMaxHeadBytes + 4096);
  }

  // Exactly at the bound is still a head; one byte more is not.
  for (std::size_t extra : {0u, 1u}) {
    SCOPED_TRACE(extra);
    const std::string fixed = status + "X-Pad: \r\n\r\n";
    const std::string pad(netstream::kMaxHeadBytes - fixed.size() + extra, 'p');
    const std::string head = status + "X-Pad: " + pad + "\r\n\r\n";
    TResponseHeadParser parser;
    FeedInChunks(parser, head, 1000);
    EXPECT_EQ(parser.state(), extra == 0 ? State::kDone : State::kFailed);
  }
}

TEST(ResponseHead, StatusDecisions) {
  struct Case {
    int status;
    std::string_view location;
    int error;
    bool redirect;
  };
  const Case cases[] = {
      {200, "", BASS_OK, false},
      {206, "", BASS_OK, false},
      {204, "", BASS_OK, false},
      {301, "http://b.test/", BASS_ERROR_HTTP, true},
      {302, "/other", BASS_ERROR_HTTP, true},
      {303, "x", BASS_ERROR_HTTP, true},
      {307, "x", BASS_ERROR_HTTP, true},
      {308, "x", BASS_ERROR_HTTP, true},
      {302, "", BASS_ERROR_HTTP, false},  // nowhere to go
      {300, "x", BASS_ERROR_HTTP, false},
      {304, "x", BASS_ERROR_HTTP, false},
      {404, "", BASS_ERROR_HTTP, false},
      {503, "", BASS_ERROR_HTTP, false},
      {101, "", BASS_ERROR_HTTP, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    TResponseHead head;
    head.status = c.status;
    head.location = std::string(c.location);
    EXPECT_EQ(head.StatusError(), c.error);
    EXPECT_EQ(head.IsRedirect(), c.redirect);
  }
}

// A stream as a server interleaves it: `interval` audio bytes, a length byte and a padded block.
struct Interleaved {
  std::string wire;
  std::string audio;
  std::vector<std::string> titles;  // metadata texts, as the demuxer should report them
};

Interleaved MakeStream(std::uint32_t interval, const std::vector<std::string>& blocks,
                       std::size_t trailingAudio) {
  Interleaved s;
  std::uint8_t next = 0;
  auto addAudio = [&](std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      // Includes values that look like length bytes and zero bytes, so misplaced cuts show.
      const char byte = static_cast<char>(next++ * 7 + 1);
      s.wire += byte;
      s.audio += byte;
    }
  };
  for (const std::string& text : blocks) {
    addAudio(interval);
    const std::size_t units = (text.size() + 15) / 16;
    s.wire += static_cast<char>(units);
    s.wire += text;
    s.wire.append(units * 16 - text.size(), '\0');
    if (!text.empty()) s.titles.push_back(text.substr(0, text.find('\0')));
  }
  addAudio(trailingAudio);
  return s;
}

TEST(IcyDemuxer, SeparatesAudioFromMetadataAtAnyChunking) {
  const std::string maxBlock(netstream::kMaxMetaBlock, 'M');        // length byte 255
  const std::string ansiTitle = "StreamTitle='Caf\xE9 \xFF\xFE';";  // not UTF-8: kept as bytes
  const std::vector<std::string> blocks = {
      "StreamTitle='Artist - Song';StreamUrl='';",
      "",  // length byte 0: no change
      maxBlock,
      ansiTitle,
      std::string("StreamTitle='x';\0junk after the zero"sv),
      "StreamTitle='exactly sixteen';",
  };
  for (std::uint32_t interval : {1u, 2u, 16u, 255u, 8192u}) {
    const Interleaved stream = MakeStream(interval, blocks, interval / 2 + 1);
    for (std::size_t chunk : {1ul, 2ul, 3ul, 15ul, 16ul, 17ul, static_cast<std::size_t>(interval),
                              static_cast<std::size_t>(interval) + 1, 4081ul, 65536ul}) {
      SCOPED_TRACE(testing::Message() << "interval " << interval << ", chunk " << chunk);
      std::string audio;
      std::vector<std::string> metas;
      const std::uint8_t* chunkBegin = nullptr;
      std::size_t chunkSize = 0;
      bool runInsideChunk = true;
      TIcyDemuxer demuxer(
          interval,
          [&](const std::uint8_t* data, std::size_t size) {
            runInsideChunk &= data >= chunkBegin && data + size <= chunkBegin + chunkSize;
            audio.append(reinterpret_cast<const char*>(data), size);
          },
          [&](std::string_view text) { metas.emplace_back(text); });
      for (std::size_t at = 0; at < stream.wire.size(); at += chunk) {
        const std::string_view piece = std::string_view(stream.wire).substr(at, chunk);
        chunkBegin = reinterpret_cast<const std::uint8_t*>(piece.data());
        chunkSize = piece.size();
        demuxer.Feed(piece);
      }
      EXPECT_TRUE(audio == stream.audio) << "audio differs";
      EXPECT_EQ(metas, stream.titles);
      EXPECT_TRUE(runInsideChunk) << "an audio run points outside the chunk it came from";
    }
  }
}

TEST(IcyDemuxer, EdgeCases) {
  std::string audio;
  std::vector<std::string> metas;
  auto onAudio = [&](const std::uint8_t* d, std::size_t n) {
    audio.append(reinterpret_cast<const char*>(d), n);
  };
  auto onMeta = [&](std::string_view t) { metas.emplace_back(t); };

  // Interval 0: nothing is metadata, not even bytes that look like a block.
  const std::string looksLikeBlock = std::string("\x01StreamTitle='x';"sv);
  TIcyDemuxer plain(0, onAudio, onMeta);
  plain.Feed(looksLikeBlock);
  EXPECT_EQ(audio, looksLikeBlock);
  EXPECT_TRUE(metas.empty());

  // A stream cut inside a block reports no partial block.
  audio.clear();
  TIcyDemuxer cut(4, onAudio, onMeta);
  cut.Feed("abcd\x02StreamTitle='"sv);
  EXPECT_EQ(audio, "abcd");
  EXPECT_TRUE(metas.empty());

  // A block of only zero bytes is an empty text, reported (the server said something changed).
  audio.clear();
  TIcyDemuxer zeros(2, onAudio, onMeta);
  zeros.Feed(std::string("ab\x01"sv) + std::string(16, '\0') + "cd");
  EXPECT_EQ(audio, "abcd");
  EXPECT_EQ(metas, std::vector<std::string>{""});
}

TEST(StreamTitle, Extraction) {
  struct Case {
    std::string_view metadata;
    std::optional<std::string> title;
  };
  const Case cases[] = {
      {"StreamTitle='Artist - Song';StreamUrl='';", "Artist - Song"},
      {"StreamTitle='Artist - Song';", "Artist - Song"},
      {"StreamTitle='Artist - Song'", "Artist - Song"},  // no ';'
      {"StreamTitle='Artist - Song", "Artist - Song"},   // no closing quote either
      {"StreamTitle='Guns N' Roses - Patience';", "Guns N' Roses - Patience"},
      {"StreamTitle='A; B';StreamUrl='';", "A; B"},
      {"StreamUrl='http://x.test/';StreamTitle='Late';", "Late"},
      {"StreamTitle='';", ""},
      {"StreamTitle='Caf\xE9';", "Caf\xE9"},
      {"StreamUrl='http://x.test/';", std::nullopt},
      {"", std::nullopt},
      {"streamtitle='lower';", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.metadata);
    EXPECT_EQ(netstream::ExtractStreamTitle(c.metadata), c.title);
  }
}

}  // namespace
