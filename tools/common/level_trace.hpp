// The level trace of a render, for its picture and summary: the peak level of the
// audio input, the control input and the output over short windows, and the
// gain that the effect applied, estimated from the output and the input
// aligned by the effect's delay.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "loaded_effect.hpp"
#include "render_engine.hpp"

namespace tandrel::cli {

struct LevelTrace {
  double sampleRate = 48000.0;
  std::int64_t windowFrames = 1;
  std::int64_t frames = 0; // the source's length
  bool hasControl = false;
  // One value per window of the source's time line, largest magnitudes.
  std::vector<float> audioPeak;
  std::vector<float> controlPeak;
  // The output where it lies in the written file (without latency
  // compensation it lags the input by the delay).
  std::vector<float> outputPeak;
  // 20·log10 of the output's RMS over the delay-aligned audio input's RMS;
  // NaN where the input is too quiet to tell, -inf where the output is
  // silent under a sounding input.
  std::vector<double> gainDb;

  double windowSeconds() const { return static_cast<double>(windowFrames) / sampleRate; }
  double durationSeconds() const { return static_cast<double>(frames) / sampleRate; }
  // The lowest gain over the windows where one is known.
  std::optional<double> deepestGainDb() const;
};

class LevelTraceRecorder : public RenderObserver {
public:
  // `latency` is the effect's delay; `compensated` says whether the written
  // output drops it.
  LevelTraceRecorder(SignalRoles roles, std::int64_t sourceFrames, double sampleRate, int latency,
                     bool compensated);
  void chunkProcessed(const ChunkView& chunk, std::int64_t done, std::int64_t total) override;
  LevelTrace series() const;

private:
  SignalRoles roles_;
  std::int64_t frames_;
  int latency_;
  std::int64_t outputShift_; // written index = effect index - outputShift_
  LevelTrace series_;
  std::vector<double> audioEnergy_;   // per window: sum of squares, per channel mean
  std::vector<double> alignedEnergy_; // output energy at the aligned position
};

// Windows for a source of `frames`: at most about 2400 of them (a point per
// pixel column or more in a picture) and at least 10 ms each, longer than
// the period of the lowest notes, so that the traces do not follow the
// waveform itself.
std::int64_t levelWindowFrames(std::int64_t frames, double sampleRate);

} // namespace tandrel::cli
