// One `tandrel duck` job from two sources to finished files: each music
// channel through its own Tandrel instance (audio = that channel, control =
// the voice's presence envelope), the voice resampled to the music's rate
// and, when asked, mixed in; the output and its picture appear only when
// the whole job succeeded. Used by `tandrel duck` and `tandrel demo`.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/level_trace.hpp"
#include "common/plot.hpp"
#include "common/signal_stream.hpp"
#include "presence_envelope.hpp"

namespace tandrel::cli {

// How the music is ducked and mixed.
struct DuckShape {
  double depthDb = 12.0;     // how far the music goes down under the voice
  PresenceSettings presence; // what counts as the voice being present
  double musicGainDb = 0.0;
  double voiceGainDb = 0.0; // for the mix only; detection sees the voice as it is
  bool mix = false;         // add the voice to every output channel
};

// The accepted ranges of the shape's values.
constexpr double largestDepthDb = 100.0;
constexpr double lowestThresholdDbfs = -120.0;
constexpr double longestAttackMs = 5000.0;
constexpr double longestHoldOrReleaseMs = 60000.0;
constexpr double largestGainDb = 40.0;

// Throws CliError naming the option whose value is outside its range.
void checkDuckShape(const DuckShape& shape);

struct DuckJob {
  std::string modulePath; // a Tandrel module
  std::string outputPath;
  std::string plotPath; // empty: no picture
  DuckShape shape;
  bool showProgress = true;
  // Measure the levels and the gain over time (for the summary); a picture
  // measures them anyway.
  bool measure = true;
  PlotLabels labels;
};

struct DuckReport {
  double sampleRate = 0.0;
  int channels = 0;
  std::int64_t musicFrames = 0;
  std::int64_t voiceFrames = 0; // at the music's rate
  std::int64_t outputFrames = 0;
  int voiceChannels = 0;
  double voiceSampleRate = 0.0;
  std::int64_t voiceActiveFrames = 0; // in windows at or above the threshold
  std::int64_t fullyDuckedFrames = 0; // where the presence is 1
  int latency = 0;                    // the module's, compensated
  double ratio = 0.0;                 // the Ratio parameter's value
  float outputPeak = 0.0f;
  // Music before and after ducking, voice, gain: with a picture or measure.
  std::optional<LevelTrace> envelopes;
};

// Runs the job. The music's channels and rate make the output's; the
// output is as long as the longer source. Throws CliError or Interrupted
// and leaves no file behind when it does.
DuckReport runDuckJob(FrameSource& music, FrameSource& voice, const DuckJob& job);

// The closing summary: durations, how much of the time the voice was
// present, the depth applied, the output and its peak.
void printDuckSummary(const DuckReport& report, const DuckJob& job);

// When the output's peak exceeds full scale in a format that clips (all
// but 32-bit float WAV), says so on standard error with the peak and the
// gain that avoids it, even when the job is quiet.
void warnAboutOverload(const DuckReport& report, const DuckJob& job);

// The picture's subtitle: the shape's settings.
std::string describeShape(const DuckShape& shape);

} // namespace tandrel::cli
