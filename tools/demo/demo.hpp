// `tandrel demo`: the built-in default job, `tandrel duck` on embedded
// material. A short stereo music bed and a speech-like voice at 22,050 Hz
// are synthesised; the music is ducked under the voice through tandrel.so,
// one instance per channel, the voice is resampled and mixed in, and the
// result is written with its picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/signal_stream.hpp"

namespace tandrel::cli {

struct DemoOptions {
  std::string output = "tandrel-demo.wav";
  std::string plotPath = "tandrel-demo.png";
  std::string musicCopy; // empty: the synthesised music is not saved
  std::string voiceCopy; // empty: the synthesised voice is not saved
  bool quiet = false;
};

// The demo's signals at `sampleRate`, `seconds` long and fully determined
// by these two numbers: four sustained chords spread over two channels
// (bass in the middle, the chord tones to either side), and bursts of
// voiced syllables in three phrases with pauses between them.
std::vector<std::vector<float>> synthesiseMusicBed(double sampleRate, double seconds);
std::vector<float> synthesiseSpeechControl(double sampleRate, double seconds);

// Channels held in memory, read from the start.
class MemorySource : public FrameSource {
public:
  MemorySource(std::vector<std::vector<float>> channels, double sampleRate);
  int channelCount() const override { return static_cast<int>(channels_.size()); }
  std::int64_t frameCount() const override { return frames_; }
  double sampleRate() const override { return sampleRate_; }
  void read(float* const* channels, std::int64_t count) override;

private:
  std::vector<std::vector<float>> channels_;
  std::int64_t frames_ = 0;
  std::int64_t position_ = 0;
  double sampleRate_;
};

// Throws CliError or Interrupted. [main]
int runDemo(const DemoOptions& options);

} // namespace tandrel::cli
