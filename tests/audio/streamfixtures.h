#pragma once
// Encoded tones for the network stream tests, made once per test process by ffmpeg in the
// folder of mp3testfiles.h, and the byte strings a station sends around them.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <random>
#include <string>

#include "tests/audio/mp3testfiles.h"

namespace streamtest {

// The stream formats the library plays, and two it must refuse.
enum class Kind { kMp3, kAac, kVorbis, kOpus, kFlac };

inline const char* NameOf(Kind kind) {
  switch (kind) {
    case Kind::kMp3:
      return "mp3";
    case Kind::kAac:
      return "aac";
    case Kind::kVorbis:
      return "vorbis";
    case Kind::kOpus:
      return "opus";
    case Kind::kFlac:
      return "flac";
  }
  return "";
}

// What a station sends as Content-Type for such a stream.
inline const char* ContentTypeOf(Kind kind) {
  switch (kind) {
    case Kind::kMp3:
      return "audio/mpeg";
    case Kind::kAac:
      return "audio/aac";
    case Kind::kVorbis:
    case Kind::kOpus:
      return "application/ogg";
    case Kind::kFlac:
      return "audio/flac";
  }
  return "";
}

// A sine of `hz` (amplitude 1/8) for `seconds`, encoded as `kind`; empty (and the test failed)
// when ffmpeg cannot make it.
inline QByteArray Tone(Kind kind, int hz, int seconds = 6, int rate = 44100, int channels = 2) {
  QStringList codec;
  switch (kind) {
    case Kind::kMp3:
      codec = {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
               QStringLiteral("128k"), QStringLiteral("-f"),         QStringLiteral("mp3")};
      break;
    case Kind::kAac:
      codec = {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"),
               QStringLiteral("128k"), QStringLiteral("-f"),  QStringLiteral("adts")};
      break;
    case Kind::kVorbis:
      codec = {QStringLiteral("-c:a"), QStringLiteral("libvorbis"), QStringLiteral("-q:a"),
               QStringLiteral("3"),    QStringLiteral("-f"),        QStringLiteral("ogg")};
      break;
    case Kind::kOpus:
      codec = {QStringLiteral("-c:a"), QStringLiteral("libopus"), QStringLiteral("-f"),
               QStringLiteral("ogg")};
      break;
    case Kind::kFlac:
      codec = {QStringLiteral("-c:a"), QStringLiteral("flac"), QStringLiteral("-f"),
               QStringLiteral("flac")};
      break;
  }
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
