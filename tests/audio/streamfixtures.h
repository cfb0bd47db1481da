#pragma once
// Encoded tones for the network stream tests, made once per test process by ffmpeg in the
// folder of mp3testfiles.h, and the byte strings a station sends around them.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <random>
#include <string>

#include "tests/audio/mp3testfiles.h"

namespace streamtest {

// The stream formats the library plays, and two it must refuse.
enum class Kind { kMp3, kAac, kVorbis, kOpus, kFlac };

struct KindInfo {
  const char* name;
  const char* contentType;  // what a station sends as Content-Type for such a stream
  const char* codec;        // ffmpeg's arguments that encode it
};

inline KindInfo InfoOf(Kind kind) {
  static constexpr KindInfo kInfo[] = {
      {"mp3", "audio/mpeg", "-c:a libmp3lame -b:a 128k -f mp3"},
      {"aac", "audio/aac", "-c:a aac -b:a 128k -f adts"},
      {"vorbis", "application/ogg", "-c:a libvorbis -q:a 3 -f ogg"},
      {"opus", "application/ogg", "-c:a libopus -f ogg"},
      {"flac", "audio/flac", "-c:a flac -f flac"},
  };
  return kInfo[static_cast<int>(kind)];
}

inline const char* NameOf(Kind kind) {
  return InfoOf(kind).name;
}

inline const char* ContentTypeOf(Kind kind) {
  return InfoOf(kind).contentType;
}

// The formats the library plays, for parameterised tests, named by their format.
inline auto PlayedKinds() {
  return ::testing::Values(Kind::kMp3, Kind::kAac, Kind::kVorbis);
}
inline std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  return NameOf(info.param);
}

// A sine of `hz` (amplitude 1/8) for `seconds`, encoded as `kind`; empty (and the test failed)
// when ffmpeg cannot make it.
inline QByteArray Tone(Kind kind, int hz, int seconds = 6, int rate = 44100, int channels = 2) {
  const QStringList codec = QString::fromLatin1(InfoOf(kind).codec).split(QLatin1Char(' '));
  const QString name = QStringLiteral("tone_%1_%2hz_%3s_%4_%5ch")
                           .arg(QString::fromLatin1(NameOf(kind)))
                           .arg(hz)
                           .arg(seconds)
                           .arg(rate)
                           .arg(channels);
  QStringList args = {
      QStringLiteral("-f"),
      QStringLiteral("lavfi"),
      QStringLiteral("-i"),
      QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3").arg(hz).arg(rate).arg(seconds),
      QStringLiteral("-ac"),
      QString::number(channels)};
  const QString path = mp3test::Made(name, args + codec);
  return path.isEmpty() ? QByteArray() : mp3test::ReadAll(path);
}

inline std::string Bytes(const QByteArray& a) {
  return a.toStdString();
}

// Bytes no decoder can make sense of, the same for every run.
inline std::string Garbage(std::size_t size, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

}  // namespace streamtest
