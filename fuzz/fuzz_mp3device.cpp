// Feeds arbitrary bytes as an MP3 file to the start-of-stream parser, the length measurement and
// the decode-only path the MP3 device plays from: open, measure, decode a few frames, seek to the
// middle and near the end, decode again. The two ways of measuring must agree, and the decoder
// must never hand back more than it was asked for.
#include <QDir>
#include <QFile>
#include <QString>

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "audio/mp3length.h"

namespace {

QString WorkFile() {
  static const QString path =
      QDir::tempPath() + QStringLiteral("/velmo-fuzz-mp3-%1.mp3").arg(::getpid());
  return path;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void DecodeSome(TMp3Decoder& decoder, int reads) {
  std::vector<std::uint8_t> buffer(1152 * 4 + 3);  // not a whole number of PCM frames
  for (int i = 0; i < reads; ++i) {
    bool end = false;
    Check(decoder.Read(buffer.data(), buffer.size(), &end) <= buffer.size());
    if (end) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mp3::TStreamInfo info;
  if (mp3::ParseStreamStart(data, size, 0, static_cast<std::int64_t>(size), &info)) {
    Check(info.firstFrame >= 0 && info.header.frameBytes > 0);
    Check(info.firstFrame + info.header.frameBytes <= static_cast<std::int64_t>(size));
    mp3::TagLengthSamples(info, static_cast<std::int64_t>(size));
  }

  {
    QFile file(WorkFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  std::int64_t ms = -1;
  const int measured = MeasureMp3Length(WorkFile(), &ms);
  TMp3Decoder decoder;
  Check(decoder.Open(WorkFile()) == measured);
  if (measured != MP3_OK) {
    Check(ms == -1 && !decoder.IsOpen());
    return 0;
  }
  Check(ms == decoder.LengthMs() && decoder.LengthSamples() > 0);
  Check(decoder.Rate() > 0 && (decoder.Channels() == 1 || decoder.Channels() == 2));

  DecodeSome(decoder, 4);
  if (decoder.Seek(decoder.LengthSamples() / 2)) DecodeSome(decoder, 4);
  if (decoder.Seek(decoder.LengthSamples())) DecodeSome(decoder, 2);
  return 0;
}
