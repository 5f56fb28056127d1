#include "render_command.hpp"

#include <cstdio>
#include <filesystem>

#include "audio_files.hpp"
#include "cli_error.hpp"
#include "module_locator.hpp"
#include "render_job.hpp"

namespace tandrel::cli {

namespace {

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
PlotLabels plotLabels(EffectHost& effect, const RenderOptions& options,
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

} // namespace

int runRender(const RenderOptions& options) {
  if (options.inputs.empty()) throw CliError("no input file; give one or more with --input FILE");
  if (options.blockSize < 1) throw CliError("--block must be at least 1");
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
  const std::string modulePath = options.modulePath.empty() ? defaultModulePath() : options.modulePath;
  const auto effect = EffectHost::load(modulePath);
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
    if (!options.plotPath.empty()) std::printf("wrote %s\n", options.plotPath.c_str());
  }
  return 0;
}

} // namespace tandrel::cli
