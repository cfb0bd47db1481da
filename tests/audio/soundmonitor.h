#pragma once
// Hearing what the program plays, for the tests that make sound: a null sink of the test
// process's own on the PulseAudio server (made before the first test and the default for the
// process's streams through PULSE_SINK, so that no other sound mixes in), a recorder of its
// monitor, and the level and pitch of a recording.
//
// Threading: MonitorRecorder reads the monitor on a thread of its own and appends to its sample
// buffer under its mutex; Stop joins that thread before the samples are handed back.
#include <pulse/simple.h>

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace soundtest {

inline constexpr int kRecordRate = 44100;

// Empty, or why the tests cannot make sound (no server, no null sink).
QString SoundProblem();

// Records the monitor of the test sink as mono float samples at 44.1 kHz.
class MonitorRecorder {
 public:
  ~MonitorRecorder() { Stop(); }

  // Empty, or why recording cannot start.
  QString Start();
  std::size_t SampleCount();
  // What has been recorded so far; recording goes on.
  std::vector<float> Samples();
  std::vector<float> Stop();

 private:
  void Loop();

  pa_simple* pa_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<float> samples_;
};

// What came out, in 10 ms windows: a window is "sound" above a level far under the test tone.
struct Heard {
  int soundWindows = 0;
  int longestGapInside = 0;  // windows of no sound between the first and the last sound
  float loudestInGap = 0;    // RMS of the loudest window of that gap
  float medianRms = 0;       // of the sound windows
  float peakRms = 0;         // over everything
  double hz = 0;             // from the zero crossings inside runs of sound windows
};

Heard Analyse(const std::vector<float>& samples);

}  // namespace soundtest
