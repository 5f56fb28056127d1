#include "voice_band_filter.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tandrel::cli {

namespace {

constexpr double highPassHertz = 150.0;
constexpr double lowPassHertz = 5000.0;

std::int64_t framesOf(double milliseconds, double sampleRate) {
  return std::llround(milliseconds * sampleRate / 1000.0);
}

// Butterworth sections (Q = 1/sqrt 2) from the bilinear transform.
Biquad butterworth(double hertz, double sampleRate, bool highPass) {
  const double w0 = 2.0 * std::numbers::pi * hertz / sampleRate;
  const double alpha = std::sin(w0) / std::numbers::sqrt2;
  const double c = std::cos(w0);
  const double a0 = 1.0 + alpha;
  Biquad section;
  const double edge = highPass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
  section.b0 = edge / a0;
  section.b1 = (highPass ? -2.0 : 2.0) * edge / a0;
  section.b2 = edge / a0;
  section.a1 = -2.0 * c / a0;
  section.a2 = (1.0 - alpha) / a0;
  return section;
}

} // namespace

VoiceBandFilter::VoiceBandFilter(double sampleRate)
    : highPass_(butterworth(std::min(highPassHertz, 0.2 * sampleRate), sampleRate, true)),
      lowPass_(butterworth(lowPassHertz, sampleRate, false)), lowPassOn_(lowPassHertz < 0.4 * sampleRate) {}

PresenceMeasure::PresenceMeasure(const PresenceLevels& levels, double sampleRate)
    : filter(sampleRate), filterOn(levels.voiceBand),
      windowFrames(std::max<std::int64_t>(1, framesOf(presenceWindowMs, sampleRate))),
      thresholdEnergy(std::pow(10.0, levels.thresholdDbfs / 10.0) * static_cast<double>(windowFrames)),
      attackFrames(framesOf(levels.attackMs, sampleRate)),
      releaseFrames(framesOf(levels.releaseMs, sampleRate)) {}

} // namespace tandrel::cli
