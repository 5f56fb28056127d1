#include "render_engine.hpp"

#include <algorithm>

#include "host/channel_buffers.hpp"
#include "interrupt.hpp"

namespace tandrel::cli {

namespace {

// Frames read and written per chunk: file I/O in large pieces, whatever the
// block size the effect sees. Always a whole number of blocks, so that the
// effect receives blocks of exactly the block size until the last.
std::int64_t chunkFramesFor(int blockSize) {
  constexpr std::int64_t wanted = 65536;
  const std::int64_t blocks = std::max<std::int64_t>(1, wanted / blockSize);
  return blocks * blockSize;
}

// One effect fed from a source, in blocks of the render's block size.
class EffectChunks : public ChunkProcessor {
public:
  EffectChunks(LoadedEffect& effect, FrameSource& source, int blockSize, std::int64_t chunkFrames)
      : effect_(effect), source_(source), blockSize_(blockSize),
        in_(effect.inputCount(), toSize(chunkFrames)), out_(effect.outputCount(), toSize(chunkFrames)) {}

  ChunkView process(std::int64_t first, std::int64_t count) override {
    source_.read(in_.pointers(), count);
    // Inputs that no file channel feeds stay silent, whatever the effect
    // did with its input buffers during the last chunk.
    for (int c = source_.channelCount(); c < in_.channelCount(); ++c)
      std::fill(in_.channel(c), in_.channel(c) + count, 0.0f);
    for (std::int64_t offset = 0; offset < count; offset += blockSize_) {
      const auto frames = static_cast<int>(std::min<std::int64_t>(blockSize_, count - offset));
      effect_.process(in_.at(toSize(offset)), out_.at(toSize(offset)), frames);
    }
    return ChunkView{first, count, in_.pointers(), in_.channelCount(), out_.pointers(), out_.channelCount()};
  }

private:
  static std::size_t toSize(std::int64_t frames) { return static_cast<std::size_t>(frames); }

  LoadedEffect& effect_;
  FrameSource& source_;
  int blockSize_;
  host::ChannelBuffers in_;
  host::ChannelBuffers out_;
};

} // namespace

RenderResult runChunks(ChunkProcessor& processor, const ChunkPlan& plan, FrameSink& sink,
                       const std::vector<RenderObserver*>& observers) {
  RenderResult result;
  result.latency = std::max(0, plan.latency);
  const std::int64_t skip = plan.compensateLatency ? result.latency : 0;
  const std::int64_t total = plan.length + skip;
  std::vector<const float*> kept;
  for (std::int64_t first = 0; first < total; first += plan.chunkFrames) {
    throwIfInterrupted();
    const std::int64_t count = std::min(plan.chunkFrames, total - first);
    const ChunkView view = processor.process(first, count);
    for (RenderObserver* observer : observers)
      observer->chunkProcessed(view, first + count, total);

    // Output frames before `skip` are the effect's delay and are dropped.
    const std::int64_t keepFrom = std::clamp<std::int64_t>(skip - first, 0, count);
    processor.beforeWrite(view, keepFrom);
    if (keepFrom == count) continue;
    kept.assign(view.outputs, view.outputs + view.outputCount);
    for (const float*& channel : kept)
      channel += keepFrom;
    sink.write(kept.data(), view.outputCount, count - keepFrom);
    result.framesWritten += count - keepFrom;
  }
  throwIfInterrupted();
  return result;
}

RenderResult renderThrough(LoadedEffect& effect, FrameSource& source, FrameSink& sink,
                           const RenderSettings& settings, const std::vector<RenderObserver*>& observers) {
  ChunkPlan plan;
  plan.length = source.frameCount();
  plan.latency = effect.initialDelay();
  plan.compensateLatency = settings.compensateLatency;
  plan.chunkFrames = chunkFramesFor(settings.blockSize);
  EffectChunks chunks(effect, source, settings.blockSize, plan.chunkFrames);
  return runChunks(chunks, plan, sink, observers);
}

} // namespace tandrel::cli
