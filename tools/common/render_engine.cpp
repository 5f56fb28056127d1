#include "render_engine.hpp"

#include <algorithm>

#include "cli_error.hpp"
#include "interrupt.hpp"

namespace tandrel::cli {

namespace {

// Frames read and written per chunk: file I/O in large pieces, whatever the
// block size the effect sees. Always a whole number of blocks, so that the
// effect receives blocks of exactly the block size until the last.
std::int64_t chunkFrames(int blockSize) {
  constexpr std::int64_t wanted = 65536;
  const std::int64_t blocks = std::max<std::int64_t>(1, wanted / blockSize);
  return blocks * blockSize;
}

// Channel buffers of one chunk, one array per channel, and the pointer
// table that the effect's entry takes.
struct ChannelBuffers {
  ChannelBuffers(int channels, std::int64_t frames)
      : samples(static_cast<std::size_t>(std::max(channels, 1)) * static_cast<std::size_t>(frames), 0.0f),
        pointers(static_cast<std::size_t>(std::max(channels, 1))), stride(frames) {
    for (std::size_t c = 0; c < pointers.size(); ++c)
      pointers[c] = samples.data() + c * stride;
  }
  // The table shifted to frame `offset` of every channel.
  float** at(std::int64_t offset) {
    for (std::size_t c = 0; c < pointers.size(); ++c)
      shifted[c] = samples.data() + c * stride + offset;
    return shifted.data();
  }
  std::vector<float> samples;
  std::vector<float*> pointers;
  std::vector<float*> shifted = std::vector<float*>(pointers.size());
  std::int64_t stride;
};

} // namespace

RenderResult renderThrough(EffectHost& effect, FrameSource& source, FrameSink& sink,
                           const RenderSettings& settings, const std::vector<RenderObserver*>& observers) {
  const int inputs = effect.inputCount();
  const int outputs = effect.outputCount();
  const int sourceChannels = source.channelCount();
  const std::int64_t length = source.frameCount();
  RenderResult result;
  result.latency = std::max(0, effect.initialDelay());
  const std::int64_t skip = settings.compensateLatency ? result.latency : 0;
  const std::int64_t total = length + skip;
  const std::int64_t chunk = chunkFrames(settings.blockSize);
  ChannelBuffers in(inputs, chunk);
  ChannelBuffers out(outputs, chunk);

  for (std::int64_t first = 0; first < total; first += chunk) {
    throwIfInterrupted();
    const std::int64_t count = std::min(chunk, total - first);
    // Past the end of the source it gives silence, which flushes the delay.
    source.read(in.pointers.data(), count);
    // Inputs that no file channel feeds stay silent, whatever the effect
    // did with its input buffers during the last chunk.
    for (int c = sourceChannels; c < inputs; ++c)
      std::fill(in.pointers[c], in.pointers[c] + count, 0.0f);

    for (std::int64_t offset = 0; offset < count; offset += settings.blockSize) {
      const auto frames = static_cast<int>(std::min<std::int64_t>(settings.blockSize, count - offset));
      effect.process(in.at(offset), out.at(offset), frames);
    }

    const ChunkView view{first, count, in.pointers.data(), inputs, out.pointers.data(), outputs};
    for (RenderObserver* observer : observers)
      observer->chunkProcessed(view, first + count, total);

    // Output frames before `skip` are the effect's delay and are dropped.
    const std::int64_t keepFrom = std::clamp<std::int64_t>(skip - first, 0, count);
    if (keepFrom < count) {
      sink.write(out.at(keepFrom), outputs, count - keepFrom);
      result.framesWritten += count - keepFrom;
    }
  }
  throwIfInterrupted();
  return result;
}

} // namespace tandrel::cli
