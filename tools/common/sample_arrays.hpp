// Small loops over arrays of samples that the writers and meters share.
//
// Thread: [any]; no state.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tandrel::cli {

// The largest magnitude among the samples, at least `peak`.
inline float largestMagnitude(float peak, const float* samples, std::int64_t count) {
  // Eight running maxima, which the compiler keeps in one vector register.
  float peaks[8] = {peak, peak, peak, peak, peak, peak, peak, peak};
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8)
    for (int k = 0; k < 8; ++k)
      peaks[k] = std::max(peaks[k], std::fabs(samples[i + k]));
  for (; i < count; ++i)
    peaks[0] = std::max(peaks[0], std::fabs(samples[i]));
  return *std::max_element(peaks, peaks + 8);
}

// Frame by frame, the channels' samples side by side: out[i x width + c]
// is channels[c][i]. `out` holds count x width samples.
template <typename Sample>
void interleaveFrames(const Sample* const* channels, int width, std::int64_t count, Sample* out) {
  for (std::int64_t frame = 0; frame < count; ++frame, out += width)
    for (int c = 0; c < width; ++c)
      out[c] = channels[c][frame];
}

} // namespace tandrel::cli
