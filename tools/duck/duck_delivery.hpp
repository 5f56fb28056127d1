// The last step of a `tandrel duck` job that sets the loudness or holds a
// true-peak ceiling: the ducked mix is first written as it is into a hidden
// file beside the output and measured; one gain is then chosen for the
// whole mix, and a second pass reads the mix back, applies the gain and
// writes the output in its format, measuring what is written.
//
// When the ceiling keeps the target loudness out of reach, the gain stops
// short of it: the loudness is then lower than asked and the report says by
// how much. Nothing limits or compresses the peaks.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/audio_files.hpp"
#include "common/delivery_writer.hpp"
#include "common/loudness_meter.hpp"
#include "common/signal_stream.hpp"

namespace tandrel::cli {

// The ceiling when --loudness is given without --true-peak, in dBTP.
constexpr double defaultTruePeakDbtp = -1.0;
// The accepted ranges.
constexpr double lowestLoudnessLufs = -70.0;
constexpr double highestLoudnessLufs = 0.0;
constexpr double lowestTruePeakDbtp = -30.0;
constexpr double highestTruePeakDbtp = 0.0;

// What the loudness step did.
struct LoudnessReport {
  std::optional<double> targetLufs; // empty: only a ceiling
  double ceilingDbtp = defaultTruePeakDbtp;
  double gainDb = 0.0;
  // How far the loudness stays under the target because of the ceiling.
  double shortOfTargetDb = 0.0;
  bool silent = false;     // the mix could not be measured: no gain
  LoudnessFigures mix;     // the ducked mix before the gain
  LoudnessFigures written; // the file written
};

// The one gain for the whole mix: up or down to the target, but never so
// far that the true peak passes the ceiling (with room for the dither of
// a whole-number format of `bits`; 0 or 32 for float); with no target, down
// only as far as the ceiling asks.
LoudnessReport chooseLoudnessGain(const LoudnessFigures& mix, std::optional<double> targetLufs,
                                  double ceilingDbtp, int bits);

// The ducked mix on disk between the passes: raw interleaved float samples
// in a hidden file beside the output, removed when destroyed.
class SpillFile : public FrameSink, public FrameSource {
public:
  // Throws CliError when the file cannot be created.
  SpillFile(const std::string& outputPath, int channels, double sampleRate);
  ~SpillFile() override;
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  void write(const float* const* channels, int channelCount, std::int64_t count) override;
  // Ends the writing; reading starts from the first frame.
  void rewind();
  int channelCount() const override { return channels_; }
  std::int64_t frameCount() const override { return frames_; }
  double sampleRate() const override { return sampleRate_; }
  void read(float* const* channels, std::int64_t count) override;

private:
  [[noreturn]] void failed(const char* doing) const;

  std::string outputPath_;
  PendingFile file_; // never committed
  std::FILE* stream_ = nullptr;
  int channels_;
  double sampleRate_;
  std::int64_t frames_ = 0;
  std::vector<float> interleaved_;
};

// The second pass: the whole spill through the gain into the writer, in
// chunks, checking for an interrupt between them. Throws CliError or
// Interrupted.
void deliverWithGain(SpillFile& mix, double gainDb, DeliveryWriter& writer, bool showProgress);

} // namespace tandrel::cli
