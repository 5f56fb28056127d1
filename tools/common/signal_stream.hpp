// The two ends of a render: where the input frames come from and where the
// output frames go. Channels are passed as separate (non-interleaved)
// arrays of 32-bit float samples.
//
// Thread: [main]; a render reads and writes on one thread.
#pragma once

#include <cstdint>

namespace tandrel::cli {

class FrameSource {
public:
  virtual ~FrameSource() = default;
  virtual int channelCount() const = 0;
  // The number of frames the source holds.
  virtual std::int64_t frameCount() const = 0;
  virtual double sampleRate() const = 0;
  // Fills channels[0 .. channelCount) with the next `count` frames; frames
  // past the end of the source (or of a shorter file in it) are zeros.
  // Throws CliError on a read error.
  virtual void read(float* const* channels, std::int64_t count) = 0;
};

class FrameSink {
public:
  virtual ~FrameSink() = default;
  // Appends `count` frames of `channelCount` channels. Throws CliError on a
  // write error.
  virtual void write(const float* const* channels, int channelCount, std::int64_t count) = 0;
};

} // namespace tandrel::cli
