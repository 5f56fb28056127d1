// One `tandrel duck` job from its sources to finished files: each music
// channel through its own Tandrel instance (audio = that channel, control =
// the voices' presence envelope), each voice resampled to the music's rate
// and, when asked, mixed in. Nothing appears unless the audio is complete;
// the files then go in place through JobOutputs: the audio first, so a
// picture that fails leaves the audio written and says so. Used by
// `tandrel duck` and `tandrel demo`.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/cli_error.hpp"
#include "common/level_trace.hpp"
#include "common/loudness_meter.hpp"
#include "common/plot.hpp"
#include "common/signal_stream.hpp"
#include "duck_delivery.hpp"
#include "effect/depth_law.hpp"
#include "presence_envelope.hpp"

namespace tandrel::cli {

// How the music is ducked and mixed.
struct DuckShape {
  double depthDb = 12.0;     // how far the music goes down under the voice
  PresenceSettings presence; // what counts as a voice being present
  // Empty: each voice's threshold is taken from its own speech level.
  std::optional<double> thresholdDbfs;
  double musicGainDb = 0.0;
  bool mix = false; // add the voices to every output channel
};

// The accepted ranges of the shape's values.
constexpr double largestDepthDb = product::largestDepthDb;
constexpr double lowestThresholdDbfs = -120.0;
constexpr double longestAttackMs = 5000.0;
constexpr double longestPauseOrReleaseMs = 60000.0;
constexpr double largestGainDb = 40.0;

// The default threshold, below a voice's speech level (the level its
// loudest tenth of 10 ms windows reaches, in the voice band).
constexpr double thresholdBelowSpeechDb = 24.0;
// The threshold stays at least this far above the voice's noise floor
// while that leaves it this far below the speech level.
constexpr double thresholdAboveFloorDb = 6.0;
// And never below this.
constexpr double lowestDefaultThresholdDbfs = -70.0;

// One voice of the job.
struct VoiceInput {
  std::string name;  // for messages and the summary
  std::string label; // for the label track: the file's name
  // Opens the voice from its start; called once for the level pass and
  // once for the job. For a stream that cannot be read twice, leave
  // `reopenable` false: the job then reads it once, and needs a threshold.
  std::function<std::unique_ptr<FrameSource>()> open;
  bool reopenable = true;
  double gainDb = 0.0; // in the mix only; detection sees the voice as it is
  int channel = 0;     // 1-based; 0: the channels averaged
};

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
  std::string musicName = "music";
  // Delivery: the bit depth (16, 24, 32 for float; 0 the format's own),
  // the integrated loudness to reach and the true-peak ceiling (with a
  // target and no ceiling, defaultTruePeakDbtp).
  int bits = 0;
  std::optional<double> loudnessLufs;
  std::optional<double> truePeakDbtp;
  // Beside the audio: the gain over time (CSV) and the voices' label
  // track; empty for none.
  std::string envelopePath;
  std::string labelsPath;
};

// What the job found in one voice.
struct VoiceReport {
  std::string name;
  int channels = 0;
  double sampleRate = 0.0;
  int channel = 0;
  double gainDb = 0.0;
  std::int64_t frames = 0; // at the music's rate
  double thresholdDbfs = 0.0;
  bool thresholdMeasured = false; // taken from the voice's own speech level
  std::optional<double> speechLevelDbfs;
  std::optional<double> noiseFloorDbfs;
  std::int64_t activeFrames = 0; // in windows at or above the threshold
};

// Non-finite samples found in an input, replaced by silence.
struct BadSamples {
  std::string name;
  std::int64_t count = 0;
  std::int64_t firstFrame = -1;
  int firstChannel = 0;
  double sampleRate = 0.0;
};

struct DuckReport {
  double sampleRate = 0.0;
  int channels = 0;
  std::int64_t musicFrames = 0;
  std::int64_t outputFrames = 0;
  std::vector<VoiceReport> voices;
  std::vector<BadSamples> badSamples;     // inputs with non-finite samples
  std::int64_t anyVoiceActiveFrames = 0;  // in windows where any voice is active
  std::int64_t fullyDuckedFrames = 0;     // where the presence is 1
  int latency = 0;                        // the module's, compensated
  double ratio = 0.0;                     // the Ratio parameter's value
  float mixPeak = 0.0f;                   // the largest magnitude before writing
  float outputPeak = 0.0f;                // of the file written
  bool clips = false;                     // the format clips at full scale
  std::string delivery;                   // "24-bit", "32-bit float", "Ogg Vorbis"
  std::optional<LoudnessReport> loudness; // with a loudness target or a ceiling
  // Music before and after ducking, voice, gain: with a picture or measure.
  std::optional<LevelTrace> levels;
  // Set when a file failed once the audio was in place (the picture, a file
  // beside the audio): the audio is written and described here all the
  // same, and this is reported after the warnings and the summary.
  std::optional<AfterAudioError> afterAudioError;
};

// Whether the job put `path` in place: every file it was asked for, unless
// one failed after the audio.
bool isWritten(const DuckReport& report, const std::string& path);

// Runs the job. The music's channels and rate make the output's; the
// output is as long as the longest source. Throws CliError or Interrupted
// and leaves no file behind when it does. A file that fails once the audio
// is in place (the picture, a file beside the audio) throws nothing: the
// report's afterAudioError holds the failure, for the caller to throw once
// it has printed the warnings and the summary about the written audio.
DuckReport runDuckJob(FrameSource& music, std::vector<VoiceInput>& voices, const DuckJob& job);

// The same with one voice source that is read once into memory (for short
// voices, as the demo's) and mixed at `voiceGainDb`.
DuckReport runDuckJob(FrameSource& music, FrameSource& voice, const DuckJob& job, double voiceGainDb = 0.0);

// The closing summary: durations, how much of the time a voice was present
// and the music fully ducked, the depth applied, the output and its peak,
// and the other files written.
void printDuckSummary(const DuckReport& report, const DuckJob& job);

// Warnings about the inputs and the result, on standard error even when the
// job is quiet: non-finite samples replaced, a voice never present or
// present almost all the time, a noise floor above the threshold, lengths
// that differ a lot, and an output whose peak exceeds full scale (with the
// gain that avoids it).
void warnAboutJob(const DuckReport& report, const DuckJob& job);
// The last of those alone (kept for callers that only mix).
void warnAboutOverload(const DuckReport& report, const DuckJob& job);

// The picture's subtitle: the shape's settings.
std::string describeShape(const DuckShape& shape);

// A time as h:mm:ss.s (m:ss.s under an hour).
std::string clockTime(double seconds);

} // namespace tandrel::cli
