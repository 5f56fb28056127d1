// The processing loop of a render: reads the source in chunks, hands the
// effect blocks of the chosen size through its replacing entry, and writes
// what comes out, with or without the effect's initial delay compensated.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <vector>

#include "effect_host.hpp"
#include "signal_stream.hpp"

namespace tandrel::cli {

// One chunk of the render as it passed through the effect. Frame indices
// count on the effect's own time line: frame `first` of the inputs went in
// at the same call as frame `first` of the outputs came out.
struct ChunkView {
  std::int64_t first = 0;
  std::int64_t count = 0;
  const float* const* inputs = nullptr; // inputCount arrays of count samples
  int inputCount = 0;
  const float* const* outputs = nullptr; // outputCount arrays of count samples
  int outputCount = 0;
};

// Watches a render: called once per chunk, after the effect processed it.
class RenderObserver {
public:
  virtual ~RenderObserver() = default;
  // `done` of `total` frames of the effect's time line are processed.
  virtual void chunkProcessed(const ChunkView& chunk, std::int64_t done, std::int64_t total) = 0;
};

struct RenderSettings {
  int blockSize = 512;
  bool compensateLatency = true;
};

struct RenderResult {
  std::int64_t framesWritten = 0;
  int latency = 0; // the effect's initial delay during the render
};

// Runs a whole render on an effect that is prepared and processing. The
// source's channels feed inputs 0, 1, ...; inputs beyond them get silence.
// With compensation the first `latency` output frames are dropped and the
// effect is fed `latency` frames of silence at the end, so the output has
// the source's length and lines up with it; without, the output has the
// source's length and lags it by the latency. Checks for an interrupt
// between chunks and throws Interrupted.
RenderResult renderThrough(EffectHost& effect, FrameSource& source, FrameSink& sink,
                           const RenderSettings& settings, const std::vector<RenderObserver*>& observers);

} // namespace tandrel::cli
