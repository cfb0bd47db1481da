// Opening five-minute MP3 files: the length from the header against a frame scan, both against
// reading the file and against decoding it whole; then the device's Open and its Position, Seek
// and Mode calls while playing (needs a sound server; skipped with a note when none answers).
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <thread>
#include <vector>

#include "audio/mp3device.h"
#include "audio/mp3length.h"
#include "bench/benchutil.h"

namespace {

double DecodeWholeMs(const QString& path) {
  return bench::MedianMs(3, [&] {
    TMp3Decoder decoder;
    if (decoder.Open(path) != MP3_OK) return;
    std::vector<std::uint8_t> buffer(1 << 16);
    for (bool end = false; !end;) decoder.Read(buffer.data(), buffer.size(), &end);
  });
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  struct File {
    const char* what;
    QString path;
    QStringList codec;
  };
  const QStringList noTag = {QStringLiteral("-write_xing"), QStringLiteral("0")};
  std::vector<File> files = {
      {"CBR 128k, Info tag",
       dir.filePath(QStringLiteral("cbr.mp3")),
       {QStringLiteral("-b:a"), QStringLiteral("128k")}},
      {"CBR 128k, no tag", dir.filePath(QStringLiteral("cbr_plain.mp3")),
       QStringList{QStringLiteral("-b:a"), QStringLiteral("128k")} + noTag},
      {"VBR -q 2, no tag", dir.filePath(QStringLiteral("vbr_plain.mp3")),
       QStringList{QStringLiteral("-q:a"), QStringLiteral("2")} + noTag},
  };
  for (const File& f : files) {
    if (!bench::EncodeSine(f.path, 300, f.codec)) {
      std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(f.path));
      return 1;
    }
  }

  std::printf("five-minute files, 44.1 kHz stereo\n");
  for (const File& f : files) {
    const std::string what = f.what;
    const double read = bench::MedianMs(5, [&] {
      QFile file(f.path);
      if (file.open(QIODevice::ReadOnly)) file.readAll();
    });
    std::int64_t ms = 0;
    const double measure = bench::MedianMs(9, [&] { MeasureMp3Length(f.path, &ms); });
    bench::Report(what + ": reading the file", read);
    bench::Report(what + ": MeasureMp3Length (" + std::to_string(ms) + " ms)", measure, "reading",
                  read);
    bench::Report(what + ": decoding it whole", DecodeWholeMs(f.path), "reading", read);
  }

  TMp3Device device;
  if (device.Open(files[0].path) != MP3_OK) {
    std::printf("no sound server: device figures skipped\n");
    return 0;
  }
  for (const File& f : files) {
    bench::Report(std::string(f.what) + ": TMp3Device::Open",
                  bench::MedianMs(9, [&] { device.Open(f.path); }));
  }
  device.Play();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::int64_t position = 0;
  const double positionMs = bench::MedianMs(7, [&] {
    for (int i = 0; i < 1000; ++i) device.Position(&position);
  });
  bench::Report("1000 Position calls while playing", positionMs);
  bench::Report("1000 Mode calls while playing", bench::MedianMs(7, [&] {
                  for (int i = 0; i < 1000; ++i) device.Mode();
                }));
  int target = 0;
  bench::Report("Seek while playing",
                bench::MedianMs(21, [&] { device.Seek((target = (target + 37000) % 280000)); }));
  bench::Report("Pause + Resume", bench::MedianMs(21, [&] {
                  device.Pause();
                  device.Resume();
                }));
  bench::Report("Close while playing", bench::MedianMs(1, [&] { device.Close(); }));
  return 0;
}
