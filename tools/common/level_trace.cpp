#include "level_trace.hpp"

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

// Splits frames [first, first + count) of a time line, of which only
// [0, end) is kept, into runs that lie in one window each, and calls
// run(window, chunk offset, length) for each, in order.
template <typename Run>
void forEachWindowRun(std::int64_t first, std::int64_t count, std::int64_t end, std::int64_t window,
                      Run run) {
  std::int64_t i = std::clamp<std::int64_t>(-first, 0, count);
  const std::int64_t stop = std::clamp<std::int64_t>(end - first, 0, count);
  while (i < stop) {
    const std::int64_t frame = first + i;
    const std::int64_t w = frame / window;
    const std::int64_t n = std::min(stop - i, (w + 1) * window - frame);
    run(static_cast<std::size_t>(w), i, n);
    i += n;
  }
}
} // namespace

std::int64_t levelWindowFrames(std::int64_t frames, double sampleRate) {
  const auto shortest = std::max<std::int64_t>(1, std::llround(sampleRate * minimumWindowSeconds));
  return std::max(shortest, (frames + targetWindows - 1) / targetWindows);
}

std::optional<double> LevelTrace::deepestGainDb() const {
  std::optional<double> deepest;
  for (const double gain : gainDb)
    if (!std::isnan(gain) && (!deepest || gain < *deepest)) deepest = gain;
  return deepest;
}

LevelTraceRecorder::LevelTraceRecorder(SignalRoles roles, std::int64_t sourceFrames, double sampleRate,
                                       int latency, bool compensated)
    : roles_(std::move(roles)), frames_(sourceFrames), latency_(latency),
      outputShift_(compensated ? latency : 0) {
  series_.sampleRate = sampleRate;
  series_.frames = sourceFrames;
  series_.windowFrames = levelWindowFrames(sourceFrames, sampleRate);
  series_.hasControl = !roles_.controlInputs.empty();
  const auto windows =
      static_cast<std::size_t>((sourceFrames + series_.windowFrames - 1) / series_.windowFrames);
  series_.audioPeak.assign(windows, 0.0f);
  series_.controlPeak.assign(windows, 0.0f);
  series_.outputPeak.assign(windows, 0.0f);
  audioEnergy_.assign(windows, 0.0);
  alignedEnergy_.assign(windows, 0.0);
}

void LevelTraceRecorder::chunkProcessed(const ChunkView& chunk, std::int64_t, std::int64_t) {
  const std::int64_t window = series_.windowFrames;
  const double audioChannels = std::max<double>(1.0, static_cast<double>(roles_.audioInputs.size()));
  const double outputChannels = std::max(1, chunk.outputCount);
  // Window by window, each window's values held in locals while its frames
  // are added in order: the same sums as frame by frame, without a round
  // trip through memory per frame.
  forEachWindowRun(chunk.first, chunk.count, frames_, window,
                   [&](std::size_t w, std::int64_t at, std::int64_t n) {
                     float audioPeak = series_.audioPeak[w];
                     float controlPeak = series_.controlPeak[w];
                     double audioEnergy = audioEnergy_[w];
                     for (std::int64_t i = at; i < at + n; ++i) {
                       double energy = 0.0;
                       for (const int c : roles_.audioInputs) {
                         const float x = chunk.inputs[c][i];
                         audioPeak = std::max(audioPeak, std::fabs(x));
                         energy += static_cast<double>(x) * x;
                       }
                       audioEnergy += energy / audioChannels;
                       for (const int c : roles_.controlInputs)
                         controlPeak = std::max(controlPeak, std::fabs(chunk.inputs[c][i]));
                     }
                     series_.audioPeak[w] = audioPeak;
                     series_.controlPeak[w] = controlPeak;
                     audioEnergy_[w] = audioEnergy;
                   });
  // The output where it lies in the written file.
  forEachWindowRun(chunk.first - outputShift_, chunk.count, frames_, window,
                   [&](std::size_t w, std::int64_t at, std::int64_t n) {
                     float peak = series_.outputPeak[w];
                     for (int c = 0; c < chunk.outputCount; ++c)
                       for (std::int64_t i = at; i < at + n; ++i)
                         peak = std::max(peak, std::fabs(chunk.outputs[c][i]));
                     series_.outputPeak[w] = peak;
                   });
  // The output's energy beside the input that the effect delayed into it.
  forEachWindowRun(chunk.first - latency_, chunk.count, frames_, window,
                   [&](std::size_t w, std::int64_t at, std::int64_t n) {
                     double aligned = alignedEnergy_[w];
                     for (std::int64_t i = at; i < at + n; ++i) {
                       double energy = 0.0;
                       for (int c = 0; c < chunk.outputCount; ++c) {
                         const float y = chunk.outputs[c][i];
                         energy += static_cast<double>(y) * y;
                       }
                       aligned += energy / outputChannels;
                     }
                     alignedEnergy_[w] = aligned;
                   });
}

LevelTrace LevelTraceRecorder::series() const {
  LevelTrace series = series_;
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
