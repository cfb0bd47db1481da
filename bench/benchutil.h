#pragma once
// Small timing helpers: median of repeated runs, printed with a ratio against a reference
// measured in the same run.
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// A stereo 440 Hz tone of `seconds` at 44.1 kHz, encoded by ffmpeg's libmp3lame with `codec`
// options; false when ffmpeg failed.
inline bool EncodeSine(const QString& out, int seconds, const QStringList& codec) {
  QProcess ffmpeg;
  ffmpeg.start(
      QStringLiteral("ffmpeg"),
      QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=440:duration=%1:sample_rate=44100").arg(seconds),
                  QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
                  QStringLiteral("libmp3lame")} +
          codec + QStringList{out});
  return ffmpeg.waitForFinished(300000) && ffmpeg.exitCode() == 0;
}

// The middle value (the upper one of an even count).
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Median wall time in milliseconds of `runs` calls of `body`; `before` runs untimed first.
inline double MedianMs(int runs, const std::function<void()>& body,
                       const std::function<void()>& before = {}) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    if (before) before();
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  return Median(std::move(times));
}

inline void Report(const std::string& what, double ms, const std::string& reference = {},
                   double referenceMs = 0) {
  if (reference.empty())
    std::printf("%-58s %10.1f ms\n", what.c_str(), ms);
  else
    std::printf("%-58s %10.1f ms  = %5.2fx %s\n", what.c_str(), ms, ms / referenceMs,
                reference.c_str());
}

// A new modification time makes every reader parse the file afresh.
inline void Touch(const QString& path) {
  static long tick = 0;
  struct utimbuf times {};
  times.actime = times.modtime = 1700000000 + ++tick;
  utime(QFile::encodeName(path).constData(), &times);
}

// The plain line split and line write that file readers and writers are held against.
inline std::vector<std::string> SplitLines(const QString& path) {
  std::ifstream in(path.toStdString());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
  return lines;
}

inline void WriteLines(const QString& path, const std::vector<std::string>& lines) {
  std::ofstream out(path.toStdString(), std::ios::trunc);
  for (const std::string& line : lines) out << line << '\n';
}

// A private data and runtime folder for the window, set before the application starts, so a
// benchmark never touches the user's lists or lock.
class PrivateHome {
 public:
  PrivateHome() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
  }
  QString filePath(const QString& name) const { return dir_.filePath(name); }
  QString path() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
};

}  // namespace bench
