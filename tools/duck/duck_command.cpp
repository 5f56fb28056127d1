#include "duck_command.hpp"

#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/module_locator.hpp"

namespace tandrel::cli {

namespace {

// Every number option of `duck`, declared once: registration, range check
// and the message of a value out of range all come from this table.
struct NumberOption {
  const char* flag;
  double& (*field)(DuckOptions&);
  double low;
  double high;
  const char* unit;
  const char* help;
};

const NumberOption numberOptions[] = {
    {"--depth", [](DuckOptions& o) -> double& { return o.shape.depthDb; }, 0.0, largestDepthDb, "dB",
     "How far the music goes down under the voice (dB)"},
    {"--threshold", [](DuckOptions& o) -> double& { return o.thresholdDbfs; }, lowestThresholdDbfs, 0.0,
     "dBFS",
     "Voice level (10 ms RMS in the voice band, dBFS) that counts as the voice being present; default: "
     "24 dB below the voice's own speech level"},
    {"--attack", [](DuckOptions& o) -> double& { return o.shape.presence.attackMs; }, 0.0, longestAttackMs,
     "ms", "Fade down, ending where the voice starts (ms)"},
    {"--max-pause", [](DuckOptions& o) -> double& { return o.shape.presence.maxPauseMs; }, 0.0,
     longestPauseOrReleaseMs, "ms",
     "Longest pause in the voice that keeps the music down; a longer one brings it fully up (ms)"},
    {"--release", [](DuckOptions& o) -> double& { return o.shape.presence.releaseMs; }, 0.0,
     longestPauseOrReleaseMs, "ms", "Fade back up after the voice (ms); shortened to fit a pause"},
    {"--music-gain", [](DuckOptions& o) -> double& { return o.shape.musicGainDb; }, -largestGainDb,
     largestGainDb, "dB", "Gain of the music (dB)"},
};

std::string number(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

void checkRange(double value, double low, double high, const std::string& flag, const std::string& unit) {
  if (!(value >= low && value <= high))
    throw UsageError(flag + " " + number(value) + " is outside " + number(low) + " to " + number(high) + " " +
                     unit + "; give a value in that range (see tandrel duck --help)");
}

// One, or one per voice: the value for voice v.
template <typename T> T perVoice(const std::vector<T>& values, std::size_t v, T otherwise) {
  if (values.empty()) return otherwise;
  return values.size() == 1 ? values.front() : values[v];
}

void checkPerVoice(std::size_t given, std::size_t voices, const char* flag) {
  if (given > 1 && given != voices)
    throw UsageError(std::string(flag) + " is given " + std::to_string(given) + " times for " +
                     std::to_string(voices) +
                     " voices; give it once for all of them or once per --voice, "
                     "in the same order");
}

void checkOptions(const DuckOptions& options, bool thresholdGiven) {
  if (options.holdMs)
    throw UsageError("--hold is replaced by --max-pause: pauses up to it keep the music down, longer ones "
                     "bring it fully up; give --max-pause MS (default 1000)");
  DuckOptions values = options;
  for (const NumberOption& option : numberOptions)
    if (thresholdGiven || std::string(option.flag) != "--threshold")
      checkRange(option.field(values), option.low, option.high, option.flag, option.unit);
  for (double gain : options.voiceGainsDb)
    checkRange(gain, -largestGainDb, largestGainDb, "--voice-gain", "dB");
  for (int channel : options.voiceChannels)
    checkRange(channel, 0, 64, "--voice-channel", "(1 = the first channel, 0 = their average)");
  checkPerVoice(options.voiceGainsDb.size(), options.voicePaths.size(), "--voice-gain");
  checkPerVoice(options.voiceChannels.size(), options.voicePaths.size(), "--voice-channel");
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

PlotLabels duckLabels(const DuckOptions& options) {
  PlotLabels labels;
  std::string voices;
  for (const std::string& voice : options.voicePaths)
    voices += (voices.empty() ? "" : " and ") + fileName(voice);
  labels.title = "Tandrel duck:  " + fileName(options.musicPath) + " under " + voices + "  →  " +
                 fileName(options.output);
  labels.subtitle = describeShape(options.shape);
  labels.audioLegend = "music";
  labels.outputLegend = "ducked music";
  labels.controlLegend = options.voicePaths.size() == 1 ? "voice" : "voices";
  return labels;
}

bool isRegularFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The voices as the job reads them: each file opened afresh for each pass.
std::vector<VoiceInput> voiceInputs(const DuckOptions& options) {
  std::vector<VoiceInput> voices;
  for (std::size_t v = 0; v < options.voicePaths.size(); ++v) {
    const std::string path = options.voicePaths[v];
    VoiceInput voice;
    voice.name = "'" + path + "'";
    voice.reopenable = isRegularFile(path);
    auto opened = std::make_shared<std::unique_ptr<FrameSource>>(
        std::make_unique<InputFiles>(std::vector<std::string>{path}));
    // The first open hands over the file opened here, which checked it
    // before any work; later ones open it again.
    voice.open = [opened, path]() -> std::unique_ptr<FrameSource> {
      if (*opened) return std::move(*opened);
      return std::make_unique<InputFiles>(std::vector<std::string>{path});
    };
    voice.gainDb = perVoice(options.voiceGainsDb, v, 0.0);
    voice.channel = perVoice(options.voiceChannels, v, 0);
    voices.push_back(std::move(voice));
  }
  return voices;
}

} // namespace

int runDuck(const DuckOptions& options) {
  checkOutputName(options.output);
  std::vector<std::string> inputs{options.musicPath};
  inputs.insert(inputs.end(), options.voicePaths.begin(), options.voicePaths.end());
  checkNotAnInput(options.output, inputs);
  if (!options.plotPath.empty()) checkNotAnInput(options.plotPath, inputs, "picture");

  InputFiles music({options.musicPath});
  std::vector<VoiceInput> voices = voiceInputs(options);
  DuckJob job;
  job.modulePath = options.modulePath.empty() ? defaultModulePath() : options.modulePath;
  job.outputPath = options.output;
  job.plotPath = options.plotPath;
  job.shape = options.shape;
  job.showProgress = !options.quiet;
  job.measure = !options.quiet;
  job.labels = duckLabels(options);
  job.musicName = "'" + options.musicPath + "'";
  const DuckReport report = runDuckJob(music, voices, job);
  warnAboutJob(report, job);
  if (!options.quiet) printDuckSummary(report, job);
  return 0;
}

} // namespace tandrel::cli

namespace tandrel::cli::duck {

void add(CLI::App& app) {
  auto options = std::make_shared<DuckOptions>();
  CLI::App* duck =
      app.add_subcommand("duck", "Duck music under one or more voices with Tandrel, one instance "
                                 "per music channel, and optionally mix the voices in");
  duck->add_option("-m,--music", options->musicPath, "Music file: any channel count and rate")->required();
  duck->add_option("-v,--voice", options->voicePaths,
                   "Voice file: any channel count and rate (resampled); give it again for more voices, the "
                   "music ducks while any of them speaks")
      ->required();
  duck->add_option("-o,--output", options->output,
                   "Output file: .wav (32-bit float), .flac, .aiff/.aif, .ogg; the music's channels and rate")
      ->required();
  CLI::Option* threshold = nullptr;
  for (const NumberOption& option : numberOptions) {
    CLI::Option* added = duck->add_option(option.flag, option.field(*options), option.help);
    if (std::string(option.flag) == "--threshold")
      threshold = added;
    else
      added->capture_default_str();
  }
  duck->add_option("--voice-channel", options->voiceChannels,
                   "Channel of a multi-channel voice file to use (1 = the first) instead of their average; "
                   "once for all voices or once per --voice");
  duck->add_option("--hold", options->holdMs, "Retired: use --max-pause")->group("");
  duck->add_flag("--mix", options->shape.mix,
                 "Add the voices to every output channel, in time with the ducked "
                 "music");
  duck->add_option("--voice-gain", options->voiceGainsDb,
                   "Gain of the voice in the mix (dB); once for all voices or once per --voice");
  duck->add_option("--plot", options->plotPath,
                   "Also draw the music before and after, the voice and the gain over time into this PNG");
  duck->add_option("--module", options->modulePath,
                   "Tandrel module (.so); default: the tandrel.so beside the tool");
  duck->add_flag("-q,--quiet", options->quiet, "No progress bar and no summary");
  duck->callback([options, threshold] {
    runCommand(
        [&] {
          const bool thresholdGiven = threshold->count() > 0;
          checkOptions(*options, thresholdGiven);
          DuckOptions checked = *options;
          if (thresholdGiven) checked.shape.thresholdDbfs = options->thresholdDbfs;
          return runDuck(checked);
        },
        Interruptible::yes);
  });
}

} // namespace tandrel::cli::duck
