#include "duck_command.hpp"

#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/delivery_writer.hpp"
#include "common/module_locator.hpp"
#include "common/option_declaration.hpp"

namespace tandrel::cli {

namespace {

// Every number option of `duck`, declared once (common/option_declaration.hpp):
// registration, the range refused while parsing and its message.
constexpr RangedOption<DuckShape, double> depthOption{
    "--depth", &DuckShape::depthDb,
    0.0,       largestDepthDb,
    "dB",      "How far the music goes down under the voice (dB)"};
constexpr RangedOption<DuckOptions, double> thresholdOption{
    "--threshold",
    &DuckOptions::thresholdDbfs,
    lowestThresholdDbfs,
    0.0,
    "dBFS",
    "Voice level (10 ms RMS in the voice band, dBFS) that counts as the voice being present; default: 24 dB "
    "below the voice's own speech level"};
constexpr RangedOption<PresenceSettings, double> attackOption{
    "--attack", &PresenceSettings::attackMs,
    0.0,        longestAttackMs,
    "ms",       "Fade down, ending where the voice starts (ms)"};
constexpr RangedOption<PresenceSettings, double> maxPauseOption{
    "--max-pause",
    &PresenceSettings::maxPauseMs,
    0.0,
    longestPauseOrReleaseMs,
    "ms",
    "Longest pause in the voice that keeps the music down; a longer one brings it fully up (ms)"};
constexpr RangedOption<PresenceSettings, double> releaseOption{
    "--release", &PresenceSettings::releaseMs,
    0.0,         longestPauseOrReleaseMs,
    "ms",        "Fade back up after the voice (ms); shortened to fit a pause"};
constexpr RangedOption<DuckShape, double> musicGainOption{
    "--music-gain", &DuckShape::musicGainDb, -largestGainDb, largestGainDb, "dB", "Gain of the music (dB)"};
// The per-voice lists: each value has the range of these.
constexpr RangedOption<VoiceInput, double> voiceGainOption{
    "--voice-gain", &VoiceInput::gainDb,
    -largestGainDb, largestGainDb,
    "dB",           "Gain of the voice in the mix (dB); once for all voices or once per --voice, in order"};
constexpr RangedOption<VoiceInput, int> voiceChannelOption{
    "--voice-channel",
    &VoiceInput::channel,
    0,
    64,
    "",
    "Channel of a multi-channel voice file to use (1 = the first) instead of their average (0); once for all "
    "voices or once per --voice"};

constexpr RangedOption<DuckOptions, double> loudnessOption{
    "--loudness",
    &DuckOptions::loudnessLufs,
    lowestLoudnessLufs,
    highestLoudnessLufs,
    "LUFS",
    "Integrated loudness of the output (ITU-R BS.1770), reached with one gain for the whole output; e.g. -16 "
    "for podcasts in stereo, -23 for broadcast"};
constexpr RangedOption<DuckOptions, double> truePeakOption{
    "--true-peak",
    &DuckOptions::truePeakDbtp,
    lowestTruePeakDbtp,
    highestTruePeakDbtp,
    "dBTP",
    "Ceiling for the output's true peak (default -1 with --loudness); the loudness stops short of its target "
    "rather than pass it, and without --loudness the output is lowered just enough to stay under it"};
constexpr RangedOption<DuckOptions, int> bitsOption{
    "--bits",
    &DuckOptions::bits,
    16,
    32,
    "",
    "Bits per sample of a .wav, .flac or .aiff output: 16 or 24 (with TPDF dither) or 32 (float; not for "
    ".flac); default: float for .wav, 24 for .flac and .aiff"};

// One, or one per voice: the value for voice v.
template <typename T> T perVoice(const std::vector<T>& values, std::size_t v, T otherwise) {
  if (values.empty()) return otherwise;
  return values.size() == 1 ? values.front() : values[v];
}

void checkPerVoice(std::size_t given, std::size_t voices, const char* flag) {
  if (given > 1 && given != voices)
    throw UsageError(std::string(flag) + " is given " + std::to_string(given) + " times for " +
                     std::to_string(voices) +
                     " voices; give it once for all of them or once per --voice, in the same order");
}

void checkOptions(const DuckOptions& options) {
  if (options.holdMs)
    throw UsageError("--hold is replaced by --max-pause: pauses up to it keep the music down, longer ones "
                     "bring it fully up; give --max-pause MS (default 1000)");
  checkPerVoice(options.voiceGainsDb.size(), options.voicePaths.size(), "--voice-gain");
  checkPerVoice(options.voiceChannels.size(), options.voicePaths.size(), "--voice-channel");
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The files the job writes, each refused when it is an input or another
// of them.
void checkWrittenFiles(const DuckOptions& options) {
  std::vector<std::string> inputs{options.musicPath};
  inputs.insert(inputs.end(), options.voicePaths.begin(), options.voicePaths.end());
  const std::pair<const std::string*, const char*> written[] = {{&options.output, "output"},
                                                                {&options.plotPath, "picture"},
                                                                {&options.envelopePath, "envelope"},
                                                                {&options.labelsPath, "label track"}};
  std::vector<std::string> earlier;
  for (const auto& [path, what] : written) {
    if (path->empty()) continue;
    checkNotAnInput(*path, inputs, what);
    const auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(*path));
    for (const std::string& other : earlier)
      if (absolute == other)
        throw UsageError("the " + std::string(what) + " '" + *path +
                         "' is also written as another of the job's files; give each its own name");
    earlier.push_back(absolute.string());
  }
}

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
    voice.label = fileName(path);
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
    if (voice.channel > 0) voice.label += " channel " + std::to_string(voice.channel);
    voices.push_back(std::move(voice));
  }
  return voices;
}

} // namespace

int runDuck(const DuckOptions& options) {
  checkDelivery(options.output, options.bits);
  checkWrittenFiles(options);

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
  job.bits = options.bits;
  job.loudnessLufs = options.loudness;
  job.truePeakDbtp = options.truePeak;
  job.envelopePath = options.envelopePath;
  job.labelsPath = options.labelsPath;
  const DuckReport report = runDuckJob(music, voices, job);
  warnAboutJob(report, job);
  if (!options.quiet) printDuckSummary(report, job);
  if (report.afterAudioError) throw *report.afterAudioError;
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
  duck->add_option(
          "-o,--output", options->output,
          "Output file: .wav (32-bit float unless --bits), .flac, .aiff/.aif (24-bit unless --bits), "
          ".ogg; the music's channels and rate")
      ->required();
  addOption(*duck, depthOption, options->shape)->capture_default_str();
  CLI::Option* threshold = addOption(*duck, thresholdOption, *options);
  addOption(*duck, attackOption, options->shape.presence)->capture_default_str();
  addOption(*duck, maxPauseOption, options->shape.presence)->capture_default_str();
  addOption(*duck, releaseOption, options->shape.presence)->capture_default_str();
  addOption(*duck, musicGainOption, options->shape)->capture_default_str();
  duck->add_option(voiceGainOption.names, options->voiceGainsDb, voiceGainOption.help)
      ->check(rangeValidator(voiceGainOption));
  duck->add_option(voiceChannelOption.names, options->voiceChannels, voiceChannelOption.help)
      ->check(rangeValidator(voiceChannelOption));
  duck->add_option("--hold", options->holdMs, "Retired: use --max-pause")->group("");
  duck->add_flag("--mix", options->shape.mix,
                 "Add the voices to every output channel, in time with the ducked "
                 "music");
  duck->add_option("--plot", options->plotPath,
                   "Also draw the music before and after, the voice and the gain over time into this PNG");
  CLI::Option* loudness = addOption(*duck, loudnessOption, *options);
  CLI::Option* truePeak = addOption(*duck, truePeakOption, *options);
  addOption(*duck, bitsOption, *options);
  duck->add_option("--envelope", options->envelopePath,
                   "Also write the ducking gain over time into this CSV file: seconds and dB, a row per "
                   "128-frame block");
  duck->add_option("--labels", options->labelsPath,
                   "Also write where each voice is present as a label track (start, end and the voice's "
                   "name, tab-separated, in seconds) that audio editors import");
  duck->add_option("--module", options->modulePath,
                   "Tandrel module (.so); default: the tandrel.so beside the tool");
  duck->add_flag("-q,--quiet", options->quiet, "No progress bar and no summary");
  duck->callback([options, threshold, loudness, truePeak] {
    runCommand(
        [&] {
          const bool thresholdGiven = threshold->count() > 0;
          checkOptions(*options);
          DuckOptions checked = *options;
          if (thresholdGiven) checked.shape.thresholdDbfs = options->thresholdDbfs;
          if (loudness->count() > 0) checked.loudness = options->loudnessLufs;
          if (truePeak->count() > 0) checked.truePeak = options->truePeakDbtp;
          return runDuck(checked);
        },
        Interruptible::yes);
  });
}

} // namespace tandrel::cli::duck
