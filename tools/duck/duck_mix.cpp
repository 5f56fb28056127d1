#include "duck_mix.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tandrel::cli {

double decibelsToFactor(double decibels) { return std::pow(10.0, decibels / 20.0); }

double factorToDecibels(double factor) {
  return factor > 0.0 ? 20.0 * std::log10(factor) : -std::numeric_limits<double>::infinity();
}

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

std::string overloadAdvice(float peak, const std::string& outputPath, double musicGainDb, double voiceGainDb,
                           bool voiceMixed) {
  if (!(peak > 1.0f)) return {};
  const double over = factorToDecibels(peak);
  // Rounded up to a tenth of a decibel, so that the advice is enough.
  const double cut = std::ceil(over * 10.0) / 10.0;
  char gains[96];
  if (voiceMixed)
    std::snprintf(gains, sizeof gains, "--music-gain %.1f --voice-gain %.1f", musicGainDb - cut,
                  voiceGainDb - cut);
  else
    std::snprintf(gains, sizeof gains, "--music-gain %.1f", musicGainDb - cut);
  char text[512];
  std::snprintf(text, sizeof text,
                "the output peaks at %+.2f dBFS, above the full scale of '%s', so it is clipped there; give "
                "%s (%.1f dB lower) or write a .wav file, which keeps the peaks",
                over, outputPath.c_str(), gains, cut);
  return text;
}

} // namespace tandrel::cli
