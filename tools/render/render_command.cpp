#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/loaded_effect.hpp"
#include "common/module_argument.hpp"
#include "common/option_declaration.hpp"
#include "render_job.hpp"

namespace tandrel::cli::render {

namespace {

// The largest number of frames per processing call (--block).
constexpr int largestBlockSize = 1 << 20;

struct RenderOptions : ModuleChoice {
  std::vector<std::string> inputs;
  std::string output;
  int blockSize = 512;
  std::vector<std::string> parameters; // NAME=VALUE, in order
  bool compensateLatency = true;
  std::string plotPath;
  bool quiet = false;
};

constexpr int smallParameterCount = 4;

// "input 1", "inputs 1 and 2", "inputs 1 to 3".
std::string inputRange(int first, int last) {
  if (first == last) return "input " + std::to_string(first);
  return "inputs " + std::to_string(first) + (last == first + 1 ? " and " : " to ") + std::to_string(last);
}

// The render goes on, but what it feeds the module is not all the user's
// audio: silence for module inputs without a channel, and silence after the
// end of the shorter files.
void warnAboutPadding(const InputFiles& inputs, int moduleInputs) {
  if (inputs.channelCount() < moduleInputs)
    std::fprintf(stderr,
                 "tandrel: warning: module %s get%s no channel from the input files and receive%s silence\n",
                 inputRange(inputs.channelCount(), moduleInputs - 1).c_str(),
                 moduleInputs - inputs.channelCount() == 1 ? "s" : "",
                 moduleInputs - inputs.channelCount() == 1 ? "s" : "");
  const std::string lengths = inputs.lengthDifferences();
  if (!lengths.empty())
    std::fprintf(stderr,
                 "tandrel: warning: the input files have different lengths (%s); the shorter ones are padded "
                 "with silence\n",
                 lengths.c_str());
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The picture's title names the effect and the files; its subtitle shows
// the parameters: all of a small effect's, else those the command set.
PlotLabels plotLabels(LoadedEffect& effect, const RenderOptions& options,
                      const std::vector<std::pair<std::string, float>>& settings) {
  std::string name = effect.effectName();
  if (name.empty()) name = fileName(effect.modulePath());
  std::string inputs;
  for (const std::string& input : options.inputs)
    inputs += (inputs.empty() ? "" : " + ") + fileName(input);
  PlotLabels labels;
  labels.title = name + ":  " + inputs + "  →  " + fileName(options.output);
  std::vector<int> shown;
  if (effect.parameterCount() <= smallParameterCount) {
    for (int index = 0; index < effect.parameterCount(); ++index)
      shown.push_back(index);
  } else {
    for (const auto& setting : settings)
      shown.push_back(effect.findParameter(setting.first));
  }
  for (const int index : shown) {
    const std::string parameter(trimBlanks(effect.parameterName(index)));
    const std::string display(trimBlanks(effect.parameterDisplay(index)));
    labels.subtitle += (labels.subtitle.empty() ? "" : ",  ") +
                       (parameter.empty() ? "parameter " + std::to_string(index) : parameter) + " " + display;
  }
  labels.subtitle +=
      (labels.subtitle.empty() ? "" : "   ·   ") + std::string("block ") + std::to_string(options.blockSize);
  return labels;
}

// Checks the arguments, loads the module, renders and reports. Throws
// CliError or Interrupted; leaves no output file behind when it does,
// except an AfterAudioError (the picture failed), thrown after the summary
// of the audio written.
int runRender(const RenderOptions& options) {
  if (options.inputs.empty()) throw CliError("no input file; give one or more with --input FILE");
  std::vector<std::pair<std::string, float>> settings;
  for (const std::string& setting : options.parameters)
    settings.push_back(parseParameterSetting(setting));
  checkOutputName(options.output);
  checkNotAnInput(options.output, options.inputs);
  if (!options.plotPath.empty()) {
    checkPlotPath(options.plotPath);
    checkNotAnInput(options.plotPath, options.inputs, "picture");
  }

  InputFiles inputs(options.inputs);
  const auto effect = LoadedEffect::load(options.chosenModulePath());
  if (inputs.channelCount() > effect->inputCount())
    throw CliError("the input files have " + std::to_string(inputs.channelCount()) + " channels (" +
                   inputs.describe() + ") but the module has " + std::to_string(effect->inputCount()) +
                   " inputs; give fewer channels");
  warnAboutPadding(inputs, effect->inputCount());
  effect->prepare(inputs.sampleRate(), options.blockSize);
  applyParameters(*effect, settings);

  RenderJob job;
  job.outputPath = options.output;
  job.plotPath = options.plotPath;
  job.settings.blockSize = options.blockSize;
  job.settings.compensateLatency = options.compensateLatency;
  job.showProgress = !options.quiet;
  if (!options.plotPath.empty()) job.labels = plotLabels(*effect, options, settings);
  const RenderReport report = runRenderJob(*effect, inputs, job);

  if (!options.quiet) {
    std::printf("wrote %s: %d channels, %.0f Hz, %lld frames (%.3f s); latency %d frames%s\n",
                options.output.c_str(), report.outputChannels, report.sampleRate,
                static_cast<long long>(report.result.framesWritten),
                static_cast<double>(report.result.framesWritten) / report.sampleRate, report.result.latency,
                options.compensateLatency ? " (compensated)" : " (not compensated)");
    if (!options.plotPath.empty() && !report.afterAudioError)
      std::printf("wrote %s\n", options.plotPath.c_str());
  }
  if (report.afterAudioError) throw *report.afterAudioError;
  return 0;
}

// Each of render's options, declared once (the module argument in
// common/module_argument.hpp).
constexpr PlainOption<RenderOptions, std::vector<std::string>> inputOption{
    "-i,--input", &RenderOptions::inputs,
    "Input audio file; repeat for more. Channels feed the inputs in order"};
constexpr PlainOption<RenderOptions, std::string> outputOption{
    "-o,--output", &RenderOptions::output, "Output file: .wav (32-bit float), .flac, .aiff/.aif, .ogg"};
constexpr RangedOption<RenderOptions, int> blockOption{
    "-b,--block", &RenderOptions::blockSize, 1, largestBlockSize, "frames", "Frames per processing call"};
constexpr PlainOption<RenderOptions, std::vector<std::string>> parameterOption{
    "-p,--param", &RenderOptions::parameters,
    "NAME=VALUE: set a parameter (by name or index) to a normalised value from 0 to 1"};
constexpr PlainOption<RenderOptions, bool> noCompensationFlag{
    "--no-latency-compensation{false}", &RenderOptions::compensateLatency,
    "Keep the effect's delay in the output instead of dropping it"};
constexpr PlainOption<RenderOptions, std::string> plotOption{
    "--plot", &RenderOptions::plotPath, "Also draw the levels and the gain over time into this PNG"};
constexpr PlainOption<RenderOptions, bool> quietFlag{"-q,--quiet", &RenderOptions::quiet,
                                                     "No progress bar and no summary"};

// A --param argument that is not NAME=VALUE with a value from 0 to 1 is
// refused while the command line is parsed; the name is checked once the
// module is loaded (findParameter).
CLI::Validator parameterSettingCheck() {
  return CLI::Validator(
      [](std::string& text) {
        try {
          parseParameterSetting(text);
          return std::string();
        } catch (const CliError& error) {
          return std::string(error.what());
        }
      },
      "NAME=VALUE");
}

} // namespace

void add(CLI::App& app) {
  auto options = std::make_shared<RenderOptions>();
  CLI::App* render = app.add_subcommand("render", "Process audio files through an effect module");
  addOption(*render, moduleArgument, *options);
  addOption(*render, inputOption, *options)->required()->allow_extra_args(false);
  addOption(*render, outputOption, *options)->required();
  addOption(*render, blockOption, *options)->capture_default_str();
  addOption(*render, parameterOption, *options)->check(parameterSettingCheck())->allow_extra_args(false);
  addFlag(*render, noCompensationFlag, *options);
  addOption(*render, plotOption, *options);
  addFlag(*render, quietFlag, *options);
  render->callback([options] { runCommand([&] { return runRender(*options); }, Interruptible::yes); });
}

} // namespace tandrel::cli::render
