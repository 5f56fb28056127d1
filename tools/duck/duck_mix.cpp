#include "duck_mix.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tandrel::cli {

SampleDelay::SampleDelay(std::int64_t frames)
    : ring_(static_cast<std::size_t>(std::max<std::int64_t>(0, frames))) {}

void SampleDelay::process(const float* in, float* out, std::int64_t count) {
  if (ring_.empty()) {
    std::copy_n(in, count, out);
    return;
  }
  // Runs up to the ring's end, each handing out the ring's old samples and
  // keeping the new ones in their place.
  while (count > 0) {
    const std::size_t n = std::min(static_cast<std::size_t>(count), ring_.size() - position_);
    float* slots = ring_.data() + position_;
    std::copy_n(slots, n, out);
    std::copy_n(in, n, slots);
    position_ = position_ + n == ring_.size() ? 0 : position_ + n;
    in += n;
    out += n;
    count -= static_cast<std::int64_t>(n);
  }
}

void applyGain(float* samples, std::int64_t count, float factor) {
  if (factor == 1.0f) return;
  for (std::int64_t i = 0; i < count; ++i)
    samples[i] *= factor;
}

void addScaled(float* __restrict out, const float* __restrict voice, std::int64_t count, float factor) {
  for (std::int64_t i = 0; i < count; ++i)
    out[i] += factor * voice[i];
}

float updatePeak(float peak, const float* samples, std::int64_t count) {
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

float finiteWithPeak(float peak, float* samples, std::int64_t count) {
  float peaks[8] = {peak, peak, peak, peak, peak, peak, peak, peak};
  bool allFinite = true;
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8)
    for (int k = 0; k < 8; ++k) {
      allFinite = allFinite && std::isfinite(samples[i + k]);
      peaks[k] = std::max(peaks[k], std::fabs(samples[i + k]));
    }
  for (; i < count; ++i) {
    allFinite = allFinite && std::isfinite(samples[i]);
    peaks[0] = std::max(peaks[0], std::fabs(samples[i]));
  }
  if (allFinite) return *std::max_element(peaks, peaks + 8);
  // Rare: an overflow in the gains. The samples are cleaned and measured
  // again.
  float largest = peak;
  for (i = 0; i < count; ++i) {
    if (!std::isfinite(samples[i])) samples[i] = 0.0f;
    largest = std::max(largest, std::fabs(samples[i]));
  }
  return largest;
}

std::string overloadAdvice(float peak, const std::string& outputPath, double musicGainDb,
                           const std::vector<double>& mixedVoiceGainsDb, bool keepsPeaks) {
  if (!(peak > 1.0f)) return {};
  const double over = factorToDecibels(peak);
  // Rounded up to a tenth of a decibel, so that the advice is enough.
  const double cut = std::ceil(over * 10.0) / 10.0;
  char gain[48];
  std::snprintf(gain, sizeof gain, "--music-gain %.1f", musicGainDb - cut);
  std::string gains = gain;
  for (double voiceGainDb : mixedVoiceGainsDb) {
    std::snprintf(gain, sizeof gain, " --voice-gain %.1f", voiceGainDb - cut);
    gains += gain;
  }
  char text[1024];
  if (keepsPeaks)
    std::snprintf(text, sizeof text,
                  "the output peaks at %+.2f dBFS, above full scale; '%s' keeps the peaks as floating point, "
                  "but players and conversions to 16 or 24 bits clip them; give %s (%.1f dB lower)",
                  over, outputPath.c_str(), gains.c_str(), cut);
  else
    std::snprintf(
        text, sizeof text,
        "the output peaks at %+.2f dBFS, above the full scale of '%s', so it is clipped there; give "
        "%s (%.1f dB lower) or write a .wav file, which keeps the peaks",
        over, outputPath.c_str(), gains.c_str(), cut);
  return text;
}

} // namespace tandrel::cli
