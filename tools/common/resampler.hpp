// A voice as `tandrel duck` uses it: any source, its channels mixed to mono
// and resampled to the music's rate with libsoxr, streamed.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "signal_stream.hpp"

namespace tandrel::cli {

// The source's channels averaged into one, at `sampleRate`. When the rates
// differ, the signal goes through libsoxr's high-quality resampler; its
// delay is taken out, so frame i of this source is the source's time
// i / sampleRate. frameCount() is the source's duration at the new rate,
// rounded to the nearest frame; past it the source gives zeros.
class MonoResampledSource : public FrameSource {
public:
  // Throws CliError when the resampler cannot be created.
  MonoResampledSource(FrameSource& source, double sampleRate);
  ~MonoResampledSource() override;
  MonoResampledSource(const MonoResampledSource&) = delete;
  MonoResampledSource& operator=(const MonoResampledSource&) = delete;

  int channelCount() const override { return 1; }
  std::int64_t frameCount() const override { return frameCount_; }
  double sampleRate() const override { return sampleRate_; }
  void read(float* const* channels, std::int64_t count) override;

  bool resamples() const { return resampler_ != nullptr; }

private:
  // Reads the next `count` source frames, averaged, into `mono`.
  void readMono(float* mono, std::int64_t count);
  // Gives up to `count` resampled frames; fewer only once the end is
  // drained.
  std::int64_t readResampled(float* out, std::int64_t count);

  struct Resampler;
  FrameSource& source_;
  double sampleRate_;
  std::int64_t frameCount_;
  std::int64_t delivered_ = 0;
  std::int64_t sourceRead_ = 0;
  std::unique_ptr<Resampler> resampler_;
  std::vector<std::vector<float>> sourceChannels_;
  std::vector<float*> sourcePointers_;
  std::vector<float> pendingInput_; // mono source frames not yet resampled
  std::size_t pendingFirst_ = 0;
  std::size_t pendingCount_ = 0;
  bool inputEnded_ = false;
  bool drained_ = false;
};

} // namespace tandrel::cli
