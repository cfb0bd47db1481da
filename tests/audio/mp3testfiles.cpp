#include "tests/audio/mp3testfiles.h"

#include <gtest/gtest.h>
#include <mpg123.h>

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <mutex>
#include <vector>

namespace mp3test {
namespace {

struct Folder {
  QTemporaryDir dir;
  QString error;  // why the files could not be made; empty when they were
};

bool Run(const QString& program, const QStringList& args, QString* error) {
  QProcess process;
  process.start(program, args);
  if (!process.waitForStarted(10000)) {
    *error = program + QStringLiteral(" could not be started (is it installed?)");
    return false;
  }
  if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    process.kill();
    process.waitForFinished(1000);
    *error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
             QString::fromLocal8Bit(process.readAllStandardError().right(400));
    return false;
  }
  return true;
}

std::int64_t FrameCount(const QString& path) {
  mpg123_handle* mh = mpg123_new(nullptr, nullptr);
  if (!mh) return -1;
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  std::int64_t frames = -1;
  if (mpg123_open(mh, QFile::encodeName(path).constData()) == MPG123_OK &&
      mpg123_scan(mh) == MPG123_OK) {
    frames = mpg123_framelength(mh);
  }
  mpg123_delete(mh);
  return frames;
}

void PutBe32(QByteArray& bytes, int at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

// A Fraunhofer-style first frame: an empty frame of the same kind carrying "VBRI" 32 bytes after
// its header, with the stream's byte and frame counts.
bool MakeVbri(const QString& plain, const QString& out, QString* error) {
  const QByteArray audio = ReadAll(plain);
  const std::int64_t frames = FrameCount(plain);
  if (audio.size() < 4 || static_cast<unsigned char>(audio[0]) != 0xFF || frames <= 0) {
    *error = QStringLiteral("cbr_plain does not start with a frame");
    return false;
  }
  QByteArray frame(417, '\0');  // 128 kbit/s at 44.1 kHz without padding
  frame[0] = audio[0];
  frame[1] = audio[1];
  frame[2] = static_cast<char>(audio[2] & ~0x02);
  frame[3] = audio[3];
  frame.replace(36, 4, "VBRI");
  frame[41] = 1;  // version
  PutBe32(frame, 46, static_cast<std::uint32_t>(frame.size() + audio.size()));
  PutBe32(frame, 50, static_cast<std::uint32_t>(frames));
  QFile file(out);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(frame + audio) != frame.size() + audio.size()) {
    *error = QStringLiteral("cannot write ") + out;
    return false;
  }
  return true;
}

void Make(Folder& f) {
  if (!f.dir.isValid()) {
    f.error = QStringLiteral("no temporary folder");
    return;
  }
  const auto p = [&](const char* name) { return f.dir.filePath(QString::fromLatin1(name)); };
  const QString ffmpeg = QStringLiteral("ffmpeg");
  const QStringList quiet = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
  const auto sine = [](int rate) {
    return QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("sine=frequency=440:duration=1:sample_rate=%1").arg(rate)};
  };
  const QStringList lame = {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")};
  const QString wav = p("sine44.wav");
  QString* e = &f.error;
  const bool ok =
      Run(ffmpeg,
          quiet + sine(44100) + QStringList{QStringLiteral("-ac"), QStringLiteral("2"), wav}, e) &&
      Run(ffmpeg,
          quiet + QStringList{QStringLiteral("-i"), wav} + lame +
              QStringList{QStringLiteral("-b:a"), QStringLiteral("128k"), p("cbr.mp3")},
          e) &&
      Run(ffmpeg,
          quiet + QStringList{QStringLiteral("-i"), wav} + lame +
              QStringList{QStringLiteral("-b:a"), QStringLiteral("128k"),
                          QStringLiteral("-write_xing"), QStringLiteral("0"),
                          QStringLiteral("-id3v2_version"), QStringLiteral("0"),
                          p("cbr_plain.mp3")},
          e) &&
      Run(QStringLiteral("lame"),
          {QStringLiteral("--quiet"), QStringLiteral("-V"), QStringLiteral("4"), wav,
           p("vbr_xing.mp3")},
          e) &&
      Run(QStringLiteral("lame"),
          {QStringLiteral("--quiet"), QStringLiteral("-V"), QStringLiteral("4"),
           QStringLiteral("-t"), wav, p("vbr_plain.mp3")},
          e) &&
      Run(ffmpeg,
          quiet + QStringList{QStringLiteral("-i"), wav} + lame +
              QStringList{QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-b:a"),
                          QStringLiteral("64k"), p("mono.mp3")},
          e) &&
      Run(ffmpeg,
          quiet + sine(22050) + lame +
              QStringList{QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-b:a"),
                          QStringLiteral("64k"), p("mpeg2.mp3")},
          e) &&
      Run(ffmpeg,
          quiet +
              QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                          QStringLiteral("aevalsrc=exprs=if(lt(t\\,0.5)\\,sin(2*PI*440*t)\\,"
                                         "sin(2*PI*880*t))*0.125:s=44100:d=1"),
                          QStringLiteral("-ac"), QStringLiteral("2")} +
              lame +
              QStringList{QStringLiteral("-b:a"), QStringLiteral("128k"), p("two_tones.mp3")},
          e) &&
      MakeVbri(p("cbr_plain.mp3"), p("vbri.mp3"), e);
  if (!ok && f.error.isEmpty()) f.error = QStringLiteral("test files could not be made");
}

Folder& TheFolder() {
  static Folder folder;
  static std::once_flag once;
  std::call_once(once, [] { Make(folder); });
  return folder;
}

}  // namespace

QString File(const char* name) {
  Folder& f = TheFolder();
  if (!f.error.isEmpty()) {
    ADD_FAILURE() << "MP3 test files: " << f.error.toStdString();
    return {};
  }
  return f.dir.filePath(QString::fromLatin1(name) + QStringLiteral(".mp3"));
}

QString Made(const QString& name, const QStringList& args) {
  Folder& f = TheFolder();
  if (!f.error.isEmpty()) {
    ADD_FAILURE() << "MP3 test files: " << f.error.toStdString();
    return {};
  }
  static std::mutex mutex;
  static std::map<QString, QString> made;  // name -> why it could not be made, or empty
  const std::lock_guard lock(mutex);
  const QString path = f.dir.filePath(name);
  auto it = made.find(name);
  if (it == made.end()) {
    QStringList full = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
    for (const QString& arg : args)
      full << (arg == QLatin1String("{sine}") ? f.dir.filePath(QStringLiteral("sine44.wav")) : arg);
    QString error;
    Run(QStringLiteral("ffmpeg"), full << path, &error);
    it = made.emplace(name, error).first;
  }
  if (!it->second.isEmpty()) {
    ADD_FAILURE() << "cannot make " << name.toStdString() << ": " << it->second.toStdString();
    return {};
  }
  return path;
}

QString WriteFile(const QString& name, const QByteArray& bytes) {
  const QString path = TheFolder().dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    ADD_FAILURE() << "cannot write " << path.toStdString();
  }
  return path;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::int64_t DecodedMs(const QString& path) {
  mpg123_handle* mh = mpg123_new(nullptr, nullptr);
  if (!mh) return -1;
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  std::int64_t samples = -1;
  if (mpg123_open(mh, QFile::encodeName(path).constData()) == MPG123_OK &&
      mpg123_getformat(mh, &rate, &channels, &encoding) == MPG123_OK) {
    std::vector<unsigned char> buffer(1 << 16);
    std::int64_t bytes = 0;
    std::size_t done = 0;
    int r = MPG123_OK;
    while ((r = mpg123_read(mh, buffer.data(), buffer.size(), &done)) == MPG123_OK ||
           r == MPG123_NEW_FORMAT) {
      bytes += static_cast<std::int64_t>(done);
    }
    bytes += static_cast<std::int64_t>(done);
    if (r == MPG123_DONE) samples = bytes / (channels * mpg123_encsize(encoding));
  }
  mpg123_delete(mh);
  return samples < 0 || rate <= 0 ? -1 : samples * 1000 / rate;
}

}  // namespace mp3test
