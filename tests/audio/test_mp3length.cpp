// Length measurement and the decode-only path, against real files; no sound server needed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include <chrono>
#include <functional>
#include <random>
#include <vector>

#include "audio/mp3device.h"
#include "audio/mp3length.h"
#include "tests/audio/mp3testfiles.h"

namespace {

using mp3test::File;

struct LengthCase {
  const char* name;
  std::function<QString()> make;
  bool fromTag;  // the header gives the length; otherwise the frames are scanned
};

void PrintTo(const LengthCase& c, std::ostream* os) {
  *os << c.name;
}

QString Named(const char* name) {
  return File(name);
}

// The Info tag says 40 frames, but only half the file is there.
QString HalfOfTaggedCbr() {
  const QByteArray bytes = mp3test::ReadAll(File("cbr"));
  return mp3test::WriteFile(QStringLiteral("cbr_half.mp3"), bytes.left(bytes.size() / 2));
}

// Untagged files whose frames are counted by walking their headers, in the shapes a walk must
// either get right or hand over to the decoder library's scan.
QString UntaggedWith(const char* name, const std::function<QByteArray(QByteArray)>& change) {
  return mp3test::WriteFile(QLatin1String(name) + QStringLiteral(".mp3"),
                            change(mp3test::ReadAll(File("cbr_plain"))));
}
qsizetype AfterFrames(const QByteArray& bytes, int count) {
  qsizetype at = 0;
  for (int i = 0; i < count; ++i) {
    mp3::TFrameHeader h;
    if (at + 4 > bytes.size() ||
        !mp3::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + at, &h))
      return -1;
    at += h.frameBytes;
  }
  return at;
}
QString JunkBetweenFrames() {
  return UntaggedWith("junk_between_frames", [](QByteArray b) {
    return b.insert(AfterFrames(b, 12), QByteArray(300, '\x55'));
  });
}
QString TrailingId3v1() {
  return UntaggedWith("trailing_id3v1",
                      [](QByteArray b) { return b + "TAG" + QByteArray(125, ' '); });
}
QString LastFrameCut() {
  return UntaggedWith("last_frame_cut", [](QByteArray b) { return b.left(b.size() - 150); });
}

class Mp3Length : public ::testing::TestWithParam<LengthCase> {};

TEST_P(Mp3Length, AgreesWithDecodingTheWholeFile) {
  const QString path = GetParam().make();
  ASSERT_FALSE(path.isEmpty());
  const std::int64_t decoded = mp3test::DecodedMs(path);
  ASSERT_GT(decoded, 300) << "the reference decode failed";

  std::int64_t ms = -1;
  ASSERT_EQ(MeasureMp3Length(path, &ms), MP3_OK);
  EXPECT_NEAR(ms, decoded, 30);

  TMp3Decoder decoder;
  ASSERT_EQ(decoder.Open(path), MP3_OK);
  EXPECT_EQ(decoder.LengthMs(), ms);
  EXPECT_EQ(decoder.LengthFromTag(), GetParam().fromTag);

  // The device's decoder yields exactly the reported length, and a seek lands on its sample.
  const auto decodeRest = [&decoder] {
    std::vector<std::uint8_t> buffer(4096 * decoder.FrameBytes());
    std::int64_t frames = 0;
    for (bool end = false; !end;) {
      frames += static_cast<std::int64_t>(decoder.Read(buffer.data(), buffer.size(), &end)) /
                decoder.FrameBytes();
    }
    return frames;
  };
  const std::int64_t length = decoder.LengthSamples();
  EXPECT_EQ(decodeRest(), length);
  const std::int64_t middle = length / 2 + 7;
  ASSERT_TRUE(decoder.Seek(middle));
  EXPECT_EQ(decodeRest(), length - middle);
  ASSERT_TRUE(decoder.Seek(0));
  EXPECT_EQ(decodeRest(), length);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Mp3Length,
    ::testing::Values(LengthCase{"cbr_info_tag", [] { return Named("cbr"); }, true},
                      LengthCase{"cbr_no_tag", [] { return Named("cbr_plain"); }, false},
                      LengthCase{"vbr_xing", [] { return Named("vbr_xing"); }, true},
                      LengthCase{"vbr_no_tag", [] { return Named("vbr_plain"); }, false},
                      LengthCase{"mono", [] { return Named("mono"); }, true},
                      LengthCase{"mpeg2_22khz", [] { return Named("mpeg2"); }, true},
                      LengthCase{"vbri", [] { return Named("vbri"); }, true},
                      LengthCase{"tag_outlives_a_truncation", &HalfOfTaggedCbr, false},
                      LengthCase{"untagged_junk_between_frames", &JunkBetweenFrames, false},
                      LengthCase{"untagged_trailing_id3v1", &TrailingId3v1, false},
                      LengthCase{"untagged_last_frame_cut", &LastFrameCut, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Inputs that are not MP3 audio: every entry point refuses them quickly with the right code.
struct BadCase {
  const char* name;
  std::function<QString()> make;
  int error;
};

void PrintTo(const BadCase& c, std::ostream* os) {
  *os << c.name;
}

class Mp3BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(Mp3BadInput, IsRefusedWithoutHanging) {
  const QString path = GetParam().make();
  ASSERT_FALSE(path.isEmpty());
  const auto start = std::chrono::steady_clock::now();

  std::int64_t ms = -12345;
  EXPECT_EQ(MeasureMp3Length(path, &ms), GetParam().error);
  EXPECT_EQ(ms, -12345) << "a failed measurement must not report a length";
  TMp3Decoder decoder;
  EXPECT_EQ(decoder.Open(path), GetParam().error);
  EXPECT_FALSE(decoder.IsOpen());
  TMp3Device device;
  EXPECT_EQ(device.Open(path), GetParam().error);
  EXPECT_EQ(device.Mode(), TMp3Mode::NotReady);
  EXPECT_EQ(device.Play(), MP3_ERR_NOT_OPEN);
  EXPECT_EQ(device.Position(&ms), MP3_ERR_NOT_OPEN);

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

QString RandomBytes() {
  std::mt19937 random(20240611);
  QByteArray bytes(256 * 1024, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return mp3test::WriteFile(QStringLiteral("random.mp3"), bytes);
}

QString Fifo() {
  const QString path = QFileInfo(File("cbr")).dir().filePath(QStringLiteral("fifo.mp3"));
  ::unlink(QFile::encodeName(path).constData());
  EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  return path;
}

// An ID3v2 tag that claims more bytes than the file has, over real audio.
QString OversizedTag() {
  QByteArray tag("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10);
  return mp3test::WriteFile(QStringLiteral("bigtag.mp3"), tag + mp3test::ReadAll(File("cbr")));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Mp3BadInput,
    ::testing::Values(
        BadCase{"empty", [] { return mp3test::WriteFile(QStringLiteral("empty.mp3"), {}); },
                MP3_ERR_NOT_MP3},
        BadCase{"text",
                [] {
                  return mp3test::WriteFile(QStringLiteral("text.mp3"),
                                            QByteArray("Not audio at all.\n").repeated(500));
                },
                MP3_ERR_NOT_MP3},
        BadCase{"first_100_bytes",
                [] {
                  return mp3test::WriteFile(QStringLiteral("cut.mp3"),
                                            mp3test::ReadAll(File("cbr")).left(100));
                },
                MP3_ERR_NOT_MP3},
        BadCase{"random_bytes", &RandomBytes, MP3_ERR_NOT_MP3},
        BadCase{"megabytes_of_zeros",
                [] {
                  return mp3test::WriteFile(QStringLiteral("zeros.mp3"),
                                            QByteArray(8 * 1024 * 1024, '\0'));
                },
                MP3_ERR_NOT_MP3},
        BadCase{"oversized_id3_tag", &OversizedTag, MP3_ERR_NOT_MP3},
        BadCase{"missing",
                [] { return QFileInfo(File("cbr")).dir().filePath(QStringLiteral("none.mp3")); },
                MP3_ERR_FILE},
        BadCase{"folder", [] { return QFileInfo(File("cbr")).absolutePath(); }, MP3_ERR_FILE},
        BadCase{"fifo_without_writer", &Fifo, MP3_ERR_FILE}),
    [](const auto& info) { return std::string(info.param.name); });

// One decoder opening file after file, refused ones in between, as the duration scanner uses it:
// each file is measured and decoded as a fresh decoder would.
TEST(Mp3DecoderReused, MeasuresEachFileAsAFreshOneWould) {
  const QString files[] = {File("vbr_xing"),
                           File("cbr_plain"),
                           File("mpeg2"),
                           mp3test::WriteFile(QStringLiteral("reuse_text.mp3"),
                                              QByteArray("Not audio at all.\n").repeated(500)),
                           File("mono"),
                           File("vbri"),
                           File("vbr_plain"),
                           File("cbr")};
  TMp3Decoder decoder;
  std::vector<std::uint8_t> buffer(1 << 16);
  for (int round = 0; round < 2; ++round) {
    for (const QString& path : files) {
      std::int64_t fresh = -1;
      const int error = MeasureMp3Length(path, &fresh);
      ASSERT_EQ(decoder.Open(path), error) << path.toStdString();
      EXPECT_EQ(decoder.IsOpen(), error == MP3_OK);
      if (error != MP3_OK) continue;
      EXPECT_EQ(decoder.LengthMs(), fresh) << path.toStdString();
      std::int64_t frames = 0;
      for (bool end = false; !end;) {
        frames += static_cast<std::int64_t>(decoder.Read(buffer.data(), buffer.size(), &end)) /
                  decoder.FrameBytes();
      }
      EXPECT_EQ(frames, decoder.LengthSamples()) << path.toStdString();
      if (round == 1) decoder.Close();  // closed in between, or opened over the last file
    }
  }
}

TEST(Mp3LengthArguments, NullOutputAndEmptyPath) {
  EXPECT_EQ(MeasureMp3Length(File("cbr"), nullptr), MP3_ERR_ARGUMENT);
  std::int64_t ms = 0;
  EXPECT_EQ(MeasureMp3Length(QString(), &ms), MP3_ERR_FILE);
  EXPECT_EQ(MeasureMp3Length(static_cast<const char*>(nullptr), &ms), MP3_ERR_FILE);
}

}  // namespace
