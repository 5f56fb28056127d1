// The processing loop of a job: walks the effect's time line in chunks,
// lets each chunk be processed, shows it to the observers and writes what
// comes out, with or without the effect's initial delay compensated.
// `render` runs one effect through it in blocks of the chosen size
// (renderThrough); a job with its own processing per chunk (several
// instances, a mix) implements ChunkProcessor and calls runChunks.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <vector>

#include "loaded_effect.hpp"
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

// The work of one chunk inside runChunks.
class ChunkProcessor {
public:
  virtual ~ChunkProcessor() = default;
  // Processes frames [first, first + count) of the effect's time line (past
  // the end of the sources: silence, which flushes the delay) and shows
  // what went in and what came out. The view's arrays stay valid until the
  // next call.
  virtual ChunkView process(std::int64_t first, std::int64_t count) = 0;
  // Called for every chunk after the observers saw it and before its
  // output frames [keepFrom, count) are written (none when keepFrom ==
  // count): the place for what only the kept frames get (a mix, a peak).
  virtual void beforeWrite(const ChunkView& chunk, std::int64_t keepFrom) {
    static_cast<void>(chunk);
    static_cast<void>(keepFrom);
  }
};

// How a job's time line is laid out.
struct ChunkPlan {
  std::int64_t length = 0; // frames of output wanted
  int latency = 0;         // the effect's initial delay
  bool compensateLatency = true;
  std::int64_t chunkFrames = 65536;
};

struct RenderResult {
  std::int64_t framesWritten = 0;
  int latency = 0; // the effect's initial delay during the render
};

// Runs `processor` over the whole time line in chunks of plan.chunkFrames
// (the last shorter). With compensation the time line is `latency` frames
// longer than the output, and its first `latency` output frames are
// dropped, so the output has `length` frames and lines up with the input;
// without, the output has `length` frames and lags by the latency. Checks
// for an interrupt between chunks and throws Interrupted.
RenderResult runChunks(ChunkProcessor& processor, const ChunkPlan& plan, FrameSink& sink,
                       const std::vector<RenderObserver*>& observers);

struct RenderSettings {
  int blockSize = 512;
  bool compensateLatency = true;
};

// Runs a whole render on an effect that is prepared and processing. The
// source's channels feed inputs 0, 1, ...; inputs beyond them get silence.
// The effect gets blocks of exactly the block size but for the last.
RenderResult renderThrough(LoadedEffect& effect, FrameSource& source, FrameSink& sink,
                           const RenderSettings& settings, const std::vector<RenderObserver*>& observers);

} // namespace tandrel::cli
