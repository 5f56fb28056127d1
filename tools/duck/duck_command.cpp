#include "duck_command.hpp"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>

#include "common/audio_files.hpp"
#include "common/command.hpp"
#include "common/module_locator.hpp"

namespace tandrel::cli {

namespace {

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

PlotLabels duckLabels(const DuckOptions& options) {
  PlotLabels labels;
  labels.title = "Tandrel duck:  " + fileName(options.musicPath) + " under " + fileName(options.voicePath) +
                 "  →  " + fileName(options.output);
  labels.subtitle = describeShape(options.shape);
  labels.audioLegend = "music";
  labels.outputLegend = "ducked music";
  labels.controlLegend = "voice";
  return labels;
}

} // namespace

int runDuck(const DuckOptions& options) {
  checkDuckShape(options.shape);
  checkOutputName(options.output);
  const std::vector<std::string> inputs{options.musicPath, options.voicePath};
  checkNotAnInput(options.output, inputs);
  if (!options.plotPath.empty()) checkNotAnInput(options.plotPath, inputs, "picture");

  InputFiles music({options.musicPath});
  InputFiles voice({options.voicePath});
  DuckJob job;
  job.modulePath = options.modulePath.empty() ? defaultModulePath() : options.modulePath;
  job.outputPath = options.output;
  job.plotPath = options.plotPath;
  job.shape = options.shape;
  job.showProgress = !options.quiet;
  job.measure = !options.quiet;
  job.labels = duckLabels(options);
  const DuckReport report = runDuckJob(music, voice, job);
  warnAboutOverload(report, job);
  if (!options.quiet) printDuckSummary(report, job);
  return 0;
}

} // namespace tandrel::cli

namespace tandrel::cli::duck {

void add(CLI::App& app) {
  auto options = std::make_shared<DuckOptions>();
  CLI::App* duck = app.add_subcommand("duck", "Duck music under a voice with Tandrel, one instance per music "
                                              "channel, and optionally mix the voice in");
  duck->add_option("-m,--music", options->musicPath, "Music file: any channel count and rate")->required();
  duck->add_option("-v,--voice", options->voicePath, "Voice file: any channel count and rate (resampled)")
      ->required();
  duck->add_option("-o,--output", options->output,
                   "Output file: .wav (32-bit float), .flac, .aiff/.aif, .ogg; the music's channels and rate")
      ->required();
  DuckShape& shape = options->shape;
  duck->add_option("--depth", shape.depthDb, "How far the music goes down under the voice (dB)")
      ->capture_default_str();
  duck->add_option("--threshold", shape.presence.thresholdDbfs,
                   "Voice level (10 ms RMS, dBFS) that counts as the voice being present")
      ->capture_default_str();
  duck->add_option("--attack", shape.presence.attackMs, "Fade down, ending where the voice starts (ms)")
      ->capture_default_str();
  duck->add_option("--hold", shape.presence.holdMs,
                   "Longest pause in the voice that keeps the music down (ms)")
      ->capture_default_str();
  duck->add_option("--release", shape.presence.releaseMs, "Fade back up after the voice and the hold (ms)")
      ->capture_default_str();
  duck->add_flag("--mix", shape.mix, "Add the voice to every output channel, in time with the ducked music");
  duck->add_option("--voice-gain", shape.voiceGainDb, "Gain of the voice in the mix (dB)")
      ->capture_default_str();
  duck->add_option("--music-gain", shape.musicGainDb, "Gain of the music (dB)")->capture_default_str();
  duck->add_option("--plot", options->plotPath,
                   "Also draw the music before and after, the voice and the gain over time into this PNG");
  duck->add_option("--module", options->modulePath,
                   "Tandrel module (.so); default: the tandrel.so beside the tool");
  duck->add_flag("-q,--quiet", options->quiet, "No progress bar and no summary");
  duck->callback([options] { runCommand([&] { return runDuck(*options); }, Interruptible::yes); });
}

} // namespace tandrel::cli::duck
