#pragma once
// One-second 440 Hz MP3 files of the kinds the player meets, made once per test process with
// ffmpeg and lame in a temporary folder, and a reference length from decoding them whole.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <thread>

namespace mp3test {

// Names: "cbr" (128k, Info tag), "cbr_plain" (no tag, no ID3), "vbr_xing" (lame -V4),
// "vbr_plain" (lame -V4 -t: no tag), "mono", "mpeg2" (22.05 kHz), "vbri" (a VBRI header frame
// put in front of cbr_plain), "two_tones" (440 Hz for half a second, then 880 Hz). Fails the
// test and returns an empty path if they cannot be made.
QString File(const char* name);

// A file of the same folder made once per test process by ffmpeg: `args` come after "-v error
// -y" and before the file's path, and "{sine}" among them stands for the one-second 44.1 kHz
// stereo tone the named files above are made from. Fails the test and returns an empty path if
// the file cannot be made.
QString Made(const QString& name, const QStringList& args);

// A new file in the same folder with these bytes.
QString WriteFile(const QString& name, const QByteArray& bytes);

QByteArray ReadAll(const QString& path);

// Milliseconds libmpg123 decodes from the file with its default settings (gapless where the
// file says how); -1 if it cannot decode it.
std::int64_t DecodedMs(const QString& path);

// Polls `predicate` every 5 ms until it holds (true) or `timeout` passes (false).
template <class Predicate>
bool WaitUntil(Predicate predicate, std::chrono::steady_clock::duration timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace mp3test
