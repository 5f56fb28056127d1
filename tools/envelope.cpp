#include "envelope.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tandrel::cli {

namespace {
// Below this RMS (-80 dBFS) the input is taken as silent and the gain as
// unknown.
constexpr double quietRms = 1e-4;
constexpr std::int64_t targetWindows = 2400;
constexpr double minimumWindowSeconds = 0.010;
} // namespace

std::int64_t envelopeWindowFrames(std::int64_t frames, double sampleRate) {
  const auto shortest = std::max<std::int64_t>(1, std::llround(sampleRate * minimumWindowSeconds));
  return std::max(shortest, (frames + targetWindows - 1) / targetWindows);
}

std::optional<double> EnvelopeSeries::deepestGainDb() const {
  std::optional<double> deepest;
  for (const double gain : gainDb)
    if (!std::isnan(gain) && (!deepest || gain < *deepest)) deepest = gain;
  return deepest;
}

EnvelopeRecorder::EnvelopeRecorder(SignalRoles roles, std::int64_t sourceFrames, double sampleRate,
                                   int latency, bool compensated)
    : roles_(std::move(roles)), frames_(sourceFrames), latency_(latency),
      outputShift_(compensated ? latency : 0) {
  series_.sampleRate = sampleRate;
  series_.frames = sourceFrames;
  series_.windowFrames = envelopeWindowFrames(sourceFrames, sampleRate);
  series_.hasControl = !roles_.controlInputs.empty();
  const auto windows =
      static_cast<std::size_t>((sourceFrames + series_.windowFrames - 1) / series_.windowFrames);
  series_.audioPeak.assign(windows, 0.0f);
  series_.controlPeak.assign(windows, 0.0f);
  series_.outputPeak.assign(windows, 0.0f);
  audioEnergy_.assign(windows, 0.0);
  alignedEnergy_.assign(windows, 0.0);
}

void EnvelopeRecorder::chunkProcessed(const ChunkView& chunk, std::int64_t, std::int64_t) {
  const std::int64_t window = series_.windowFrames;
  const double audioChannels = std::max<double>(1.0, static_cast<double>(roles_.audioInputs.size()));
  const double outputChannels = std::max(1, chunk.outputCount);
  for (std::int64_t i = 0; i < chunk.count; ++i) {
    const std::int64_t frame = chunk.first + i;
    if (frame < frames_) {
      const auto w = static_cast<std::size_t>(frame / window);
      double energy = 0.0;
      for (const int c : roles_.audioInputs) {
        const float x = chunk.inputs[c][i];
        series_.audioPeak[w] = std::max(series_.audioPeak[w], std::fabs(x));
        energy += static_cast<double>(x) * x;
      }
      audioEnergy_[w] += energy / audioChannels;
      for (const int c : roles_.controlInputs)
        series_.controlPeak[w] = std::max(series_.controlPeak[w], std::fabs(chunk.inputs[c][i]));
    }
    double energy = 0.0;
    float peak = 0.0f;
    for (int c = 0; c < chunk.outputCount; ++c) {
      const float y = chunk.outputs[c][i];
      peak = std::max(peak, std::fabs(y));
      energy += static_cast<double>(y) * y;
    }
    const std::int64_t written = frame - outputShift_;
    if (written >= 0 && written < frames_) {
      const auto w = static_cast<std::size_t>(written / window);
      series_.outputPeak[w] = std::max(series_.outputPeak[w], peak);
    }
    const std::int64_t aligned = frame - latency_;
    if (aligned >= 0 && aligned < frames_)
      alignedEnergy_[static_cast<std::size_t>(aligned / window)] += energy / outputChannels;
  }
}

EnvelopeSeries EnvelopeRecorder::series() const {
  EnvelopeSeries series = series_;
  series.gainDb.resize(audioEnergy_.size());
  for (std::size_t w = 0; w < audioEnergy_.size(); ++w) {
    const std::int64_t start = static_cast<std::int64_t>(w) * series.windowFrames;
    const auto frames = static_cast<double>(std::min(series.windowFrames, frames_ - start));
    const double inputRms = std::sqrt(audioEnergy_[w] / frames);
    const double outputRms = std::sqrt(alignedEnergy_[w] / frames);
    if (inputRms < quietRms)
      series.gainDb[w] = std::numeric_limits<double>::quiet_NaN();
    else if (outputRms == 0.0)
      series.gainDb[w] = -std::numeric_limits<double>::infinity();
    else
      series.gainDb[w] = 20.0 * std::log10(outputRms / inputRms);
  }
  return series;
}

} // namespace tandrel::cli
