// The sample arithmetic of `tandrel duck` around the effect: gains, the
// delays that keep the voice in time with the ducked music, the mix and its
// peak. Plain arrays, no files.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tandrel::cli {

// The linear factor of a gain in decibels.
double decibelsToFactor(double decibels);
// 20 log10 of a linear level; -inf for 0.
double factorToDecibels(double factor);

// Delays a stream by a fixed number of frames; the first `frames` frames
// out are zeros.
class SampleDelay {
public:
  explicit SampleDelay(std::int64_t frames);
  // out[i] is the input `frames` frames before in[i]; in and out must not
  // overlap.
  void process(const float* in, float* out, std::int64_t count);

private:
  std::vector<float> ring_;
  std::size_t position_ = 0;
};

// samples[i] *= factor.
void applyGain(float* samples, std::int64_t count, float factor);

// out[i] += factor * voice[i].
void addScaled(float* out, const float* voice, std::int64_t count, float factor);

// The largest magnitude among the samples, at least `peak`.
float updatePeak(float peak, const float* samples, std::int64_t count);

// What to tell the user when the output's peak exceeds full scale in a
// format that clips: the peak in dBFS and the gains, each lowered by the
// same decibels rounded up to a tenth, that bring it back to full scale
// (the voice's only when it is mixed in). Empty when the peak is within
// full scale.
std::string overloadAdvice(float peak, const std::string& outputPath, double musicGainDb, double voiceGainDb,
                           bool voiceMixed);

} // namespace tandrel::cli
