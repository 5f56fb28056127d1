// The sample arithmetic of `tandrel duck` around the effect: gains, the
// delays that keep the voice in time with the ducked music, the mix and its
// peak. Plain arrays, no files.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/levels.hpp"

namespace tandrel::cli {

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

// Replaces every sample that is not finite by 0.
void silenceNonFinite(float* samples, std::int64_t count);

// What to tell the user when the output's peak exceeds full scale: the
// peak in dBFS, what happens to it in that format (clipped, or kept in a
// float file that players and converters then clip) and the gains, each
// lowered by the same decibels rounded up to a tenth, that bring it back
// to full scale (the voices' in order, when they are mixed in). Empty when
// the peak is within full scale.
std::string overloadAdvice(float peak, const std::string& outputPath, double musicGainDb,
                           const std::vector<double>& mixedVoiceGainsDb, bool keepsPeaks);

} // namespace tandrel::cli
