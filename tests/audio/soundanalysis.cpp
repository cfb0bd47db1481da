// The analysis lives apart from the recorder so that tests that only analyse decoded samples
// do not link the recorder's sound server set-up.
#include <algorithm>
#include <cmath>

#include "tests/audio/soundmonitor.h"

namespace soundtest {

Heard Analyse(const std::vector<float>& samples) {
  constexpr std::size_t kWindow = kRecordRate / 100;
  constexpr float kSound = 0.01f;
  std::vector<float> rms;
  for (std::size_t at = 0; at + kWindow <= samples.size(); at += kWindow) {
    double sum = 0;
    for (std::size_t i = at; i < at + kWindow; ++i) sum += samples[i] * samples[i];
    rms.push_back(static_cast<float>(std::sqrt(sum / kWindow)));
  }
  Heard h;
  std::vector<float> sound;
  // Per run of sound: half periods between its first and last zero crossing, and their span,
  // so that a run cut off mid-period does not bend the frequency.
  long halfPeriods = 0;
  long span = 0;
  long runFirst = -1;
  long runLast = -1;
  long runCrossings = 0;
  const auto endRun = [&] {
    if (runCrossings > 1) {
      halfPeriods += runCrossings - 1;
      span += runLast - runFirst;
    }
    runFirst = runLast = -1;
    runCrossings = 0;
  };
  std::size_t gapStart = 0;
  bool begun = false;
  for (std::size_t w = 0; w < rms.size(); ++w) {
    h.peakRms = std::max(h.peakRms, rms[w]);
    if (rms[w] < kSound) {
      endRun();
      continue;
    }
    const int gap = begun ? static_cast<int>(w - gapStart) : 0;
    if (gap > h.longestGapInside) {
      h.longestGapInside = gap;
      // The windows at either edge may hold the fade of a cut; the rest must be silent.
      h.loudestInGap = 0;
      for (std::size_t g = gapStart + 2; g + 2 < w; ++g)
        h.loudestInGap = std::max(h.loudestInGap, rms[g]);
    }
    begun = true;
    gapStart = w + 1;
    sound.push_back(rms[w]);
    for (std::size_t i = std::max<std::size_t>(1, w * kWindow); i < (w + 1) * kWindow; ++i) {
      if ((samples[i - 1] < 0) == (samples[i] < 0)) continue;
      if (runFirst < 0) runFirst = static_cast<long>(i);
      runLast = static_cast<long>(i);
      ++runCrossings;
    }
  }
  endRun();
  h.soundWindows = static_cast<int>(sound.size());
  if (!sound.empty()) {
    std::nth_element(sound.begin(), sound.begin() + sound.size() / 2, sound.end());
    h.medianRms = sound[sound.size() / 2];
    if (span > 0) h.hz = halfPeriods / 2.0 / (static_cast<double>(span) / kRecordRate);
  }
  return h;
}

}  // namespace soundtest
