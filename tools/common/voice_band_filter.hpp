// The voice band that presence is measured in, for `duck` and `live`, and
// the presence settings both take. The filter: a
// Butterworth high-pass at 150 Hz, then a Butterworth low-pass at 5 kHz (left
// out where the sample rate cannot carry it), two second-order sections.
// Rumble, hum and the hiss of breaths weigh less than speech through it.
//
// Causal and sample by sample, so that the offline job and the live one
// measure the same key bit for bit however their calls are cut.
//
// Thread: one thread at a time; step() and process() are real-time safe
// (arithmetic only).
#pragma once

#include <cstdint>

namespace tandrel::cli {

// What `duck` and `live` share of the voice's presence: the level that
// counts as speech, the fades, and whether the level is measured in the
// voice band. Each adds how pauses are bridged.
struct PresenceLevels {
  double thresholdDbfs = -40.0;
  double attackMs = 10.0;
  double releaseMs = 300.0;
  bool voiceBand = true; // measure through the voice-band filter
};

// The length of the windows over which the voice's level is measured.
constexpr double presenceWindowMs = 10.0;

// A second-order filter section (direct form I, coefficients normalised).
struct Biquad {
  double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
  double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  double step(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

class VoiceBandFilter {
public:
  explicit VoiceBandFilter(double sampleRate);
  // The next filtered sample.
  float step(float in) {
    double y = highPass_.step(in);
    if (lowPassOn_) y = lowPass_.step(y);
    return static_cast<float>(y);
  }
  // out[i] is the filtered in[i]; in and out may be the same array.
  void process(const float* in, float* out, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i)
      out[i] = step(in[i]);
  }

private:
  Biquad highPass_;
  Biquad lowPass_;
  bool lowPassOn_ = false;
};

// How `duck` and `live` measure presence: the voice-band filter (or not),
// the window, the threshold as a sum of squares over a window, and the
// fades in frames.
struct PresenceMeasure {
  PresenceMeasure(const PresenceLevels& levels, double sampleRate);
  // The sample that the level is measured on.
  float key(float sample) { return filterOn ? filter.step(sample) : sample; }

  VoiceBandFilter filter;
  bool filterOn;
  std::int64_t windowFrames;
  double thresholdEnergy;
  std::int64_t attackFrames;
  std::int64_t releaseFrames;
};

} // namespace tandrel::cli
