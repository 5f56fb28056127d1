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

void silenceNonFinite(float* samples, std::int64_t count) {
  bool allFinite = true;
  for (std::int64_t i = 0; i < count; ++i)
    allFinite = allFinite && std::isfinite(samples[i]);
  if (allFinite) return;
  // Rare: an overflow in the gains.
  std::replace_if(
      samples, samples + count, [](float sample) { return !std::isfinite(sample); }, 0.0f);
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
