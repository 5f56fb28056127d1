// Sources that `tandrel duck` puts between the files and the job: samples
// that are not finite replaced by silence and counted, one channel of a
// voice picked out, and a short voice held in memory so that it can be
// read twice.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/signal_stream.hpp"

namespace tandrel::cli {

// The source as it is, with every NaN or infinity replaced by 0.
class FiniteSource : public FrameSource {
public:
  explicit FiniteSource(FrameSource& source) : source_(source) {}
  int channelCount() const override { return source_.channelCount(); }
  std::int64_t frameCount() const override { return source_.frameCount(); }
  double sampleRate() const override { return source_.sampleRate(); }
  void read(float* const* channels, std::int64_t count) override;

  // How many samples were replaced, and where the first was (frame from
  // the start, 0-based channel); firstFrame is -1 when none was.
  std::int64_t replaced() const { return replaced_; }
  std::int64_t firstFrame() const { return firstFrame_; }
  int firstChannel() const { return firstChannel_; }

private:
  FrameSource& source_;
  std::int64_t position_ = 0;
  std::int64_t replaced_ = 0;
  std::int64_t firstFrame_ = -1;
  int firstChannel_ = 0;
};

// One channel of a source, as a mono source.
class ChannelSource : public FrameSource {
public:
  // `channel` is 0-based and must be below the source's channel count.
  ChannelSource(FrameSource& source, int channel);
  int channelCount() const override { return 1; }
  std::int64_t frameCount() const override { return source_.frameCount(); }
  double sampleRate() const override { return source_.sampleRate(); }
  void read(float* const* channels, std::int64_t count) override;

private:
  FrameSource& source_;
  int channel_;
  std::vector<std::vector<float>> others_;
  std::vector<float*> pointers_;
};

// Channels held in memory, shared by the sources that read them.
class HeldSignal {
public:
  // Reads the whole source.
  explicit HeldSignal(FrameSource& source);
  // A new source over the held channels, from their start.
  std::unique_ptr<FrameSource> open() const;

private:
  std::shared_ptr<const std::vector<std::vector<float>>> channels_;
  double sampleRate_;
};

} // namespace tandrel::cli
