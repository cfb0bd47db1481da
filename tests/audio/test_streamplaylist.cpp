#include "audio/streamplaylist.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "audio/bass.h"
#include "audio/streamaddress.h"

namespace {

using netstream::TPlaylistKind;
constexpr auto kNone = TPlaylistKind::kNone;
constexpr auto kPls = TPlaylistKind::kPls;
constexpr auto kM3u = TPlaylistKind::kM3u;

constexpr std::string_view kPlsBody =
    "[playlist]\r\n"
    "NumberOfEntries=2\r\n"
    "File1=http://a.test:8000/live\r\n"
    "Title1=Night Radio\r\n"
    "File2=http://b.test:8000/live\r\n"
    "Version=2\r\n";

TEST(StreamPlaylist, Detection) {
  const std::string spaces(netstream::kPlaylistSniffBytes, ' ');
  struct Case {
    std::string_view contentType;
    std::string body;
    TPlaylistKind kind;
  };
  const Case cases[] = {
      // By content type, whatever the body.
      {"audio/x-scpls", "anything", kPls},
      {"Audio/X-SCPLS; charset=UTF-8", "", kPls},
      {"application/pls+xml", "", kPls},
      {"audio/x-mpegurl", "", kM3u},
      {" audio/mpegurl ;charset=utf-8", "", kM3u},
      {"application/vnd.apple.mpegurl", "", kM3u},
      // An audio type is never sniffed, even when the bytes look like a list.
      {"audio/mpeg", "[playlist]\nFile1=http://a.test/", kNone},
      {"audio/aacp", "#EXTM3U\nhttp://a.test/", kNone},
      {"application/ogg", "http://a.test/", kNone},
      // Otherwise by content.
      {"text/plain", "[playlist]\nFile1=http://a.test/", kPls},
      {"", "\xEF\xBB\xBF  [Playlist]\r\nFile1=http://a.test/", kPls},
      {"application/octet-stream", "#EXTM3U\n#EXTINF:-1,x\nhttp://a.test/", kM3u},
      {"", "\r\n HTTP://a.test/live\r\n", kM3u},
      {"text/html", "https://a.test/live", kM3u},
      {"", "<html><body>Not found</body></html>", kNone},
      {"", "\xFF\xFB\x90\x64 mp3 frames", kNone},
      {"", "ID3\x04", kNone},
      {"", "", kNone},
      {"", "file:///etc/passwd", kNone},
      {"", "[playlist", kNone},
      // Only the first bytes are looked at.
      {"text/plain", spaces + "[playlist]\nFile1=http://a.test/", kNone},
      {"text/plain", spaces.substr(1) + "[playlist]", kNone},
      {"text/plain", spaces.substr(10) + "[playlist]", kPls},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.contentType << "' / " << c.body.substr(0, 40));
    EXPECT_EQ(netstream::DetectPlaylist(c.contentType, c.body), c.kind);
  }
}

TEST(StreamPlaylist, FirstEntry) {
  struct Case {
    TPlaylistKind kind;
    std::string_view body;
    int error;
    std::string_view entry;
  };
  const Case cases[] = {
      {kPls, kPlsBody, BASS_OK, "http://a.test:8000/live"},
      {kPls, "[playlist]\nFile2=http://b.test/\nFile1=http://a.test/\n", BASS_OK, "http://a.test/"},
      {kPls, "[PlayList]\n file1 = http://a.test/ \n", BASS_OK, "http://a.test/"},
      {kPls, "\xEF\xBB\xBF[playlist]\nFILE1=http://a.test/", BASS_OK, "http://a.test/"},
      {kPls, "File1=http://a.test/\n", BASS_OK, "http://a.test/"},  // no section header
      {kPls, "[playlist]\nFile1=http://a.test/\nFile1=http://b.test/\n", BASS_OK, "http://a.test/"},
      {kPls, "[playlist]\nNumberOfEntries=0\nFile1=http://a.test/\n", BASS_OK, "http://a.test/"},
      {kPls, "[playlist]\nFile1=\nFile3=http://c.test/\n", BASS_OK, "http://c.test/"},
      {kPls, "[other]\nFile1=http://x.test/\n[playlist]\nFile2=http://b.test/\n", BASS_OK,
       "http://b.test/"},
      {kPls, "[playlist]\nFile1=file:///etc/passwd\n", BASS_OK, "file:///etc/passwd"},
      {kPls, "[playlist]\nFile=http://a.test/\nFileX=http://a.test/\n", BASS_ERROR_FORMAT, ""},
      {kPls, "[playlist]\nFile99999999999=http://a.test/\n", BASS_ERROR_FORMAT, ""},
      {kPls, "[playlist]\nNumberOfEntries=1\n", BASS_ERROR_FORMAT, ""},
      {kPls, "[other]\nFile1=http://a.test/\n", BASS_ERROR_FORMAT, ""},
      {kPls, "", BASS_ERROR_FORMAT, ""},

      {kM3u, "http://a.test/live\nhttp://b.test/live\n", BASS_OK, "http://a.test/live"},
      {kM3u, "#EXTM3U\r\n#EXTINF:-1,Night Radio\r\n\r\n  http://a.test/live  \r\n", BASS_OK,
       "http://a.test/live"},
      {kM3u, "\xEF\xBB\xBFhttp://a.test/live", BASS_OK, "http://a.test/live"},
      {kM3u, "\n\n# comment\nlive.mp3\n", BASS_OK, "live.mp3"},
      {kM3u, "#EXTM3U\n#EXTINF:-1,x\n", BASS_ERROR_FORMAT, ""},
      {kM3u, " \r\n\t\r\n", BASS_ERROR_FORMAT, ""},

      {kNone, kPlsBody, BASS_ERROR_FORMAT, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::string entry = "untouched";
    EXPECT_EQ(netstream::ReadPlaylistEntry(c.kind, c.body, &entry), c.error);
    EXPECT_EQ(entry, c.error == BASS_OK ? c.entry : "untouched");
  }

  // Past the read limit nothing is looked at.
  const std::string late = std::string(netstream::kMaxPlaylistBytes, '\n') + "http://a.test/";
  std::string entry;
  EXPECT_EQ(netstream::ReadPlaylistEntry(kM3u, late, &entry), BASS_ERROR_FORMAT);
}

// What a station's play list names is opened only when it is an http or https address; a
// relative entry is read against the list's own address.
TEST(StreamPlaylist, EntryFollowedThroughTheAddressRule) {
  struct Case {
    std::string_view contentType;
    std::string_view body;
    int error;
    std::string_view opened;
  };
  const Case cases[] = {
      {"audio/x-scpls", kPlsBody, BASS_OK, "http://a.test:8000/live"},
      {"audio/x-mpegurl", "live.mp3\n", BASS_OK, "https://list.test/radio/live.mp3"},
      {"", "[playlist]\nFile1=file:///etc/passwd\n", BASS_ERROR_ADDRESS, ""},
      {"audio/x-mpegurl", "ftp://a.test/live.mp3\n", BASS_ERROR_ADDRESS, ""},
      {"audio/x-mpegurl", "C:\\Radio\\live.mp3\n", BASS_ERROR_ADDRESS, ""},
      {"audio/x-mpegurl", "#EXTM3U\n", BASS_ERROR_FORMAT, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    netstream::TAddressChain chain;
    ASSERT_EQ(chain.Start("https://list.test/radio/station.m3u"), BASS_OK);
    std::string entry;
    int error = netstream::ReadPlaylistEntry(netstream::DetectPlaylist(c.contentType, c.body),
                                             c.body, &entry);
    if (error == BASS_OK) error = chain.FollowPlaylist(entry);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(chain.current(),
              c.error == BASS_OK ? c.opened : "https://list.test/radio/station.m3u");
  }
}

}  // namespace
