// The command-line host: `tandrel info`, `tandrel render`, `tandrel duck`,
// `tandrel demo` and `tandrel check`.
// Every failure ends in one line on standard error and a non-zero status
// (exit_status.hpp lists them).

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "check/check_command.hpp"
#include "cli_error.hpp"
#include "demo.hpp"
#include "duck_command.hpp"
#include "exit_status.hpp"
#include "info_command.hpp"
#include "interrupt.hpp"
#include "render_command.hpp"

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig, which cairo uses to find fonts for the pictures, keeps the
// configuration it parsed until the process ends; the leak checker of
// sanitizer builds is told that this is not the tool's leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace {

using namespace tandrel::cli;

constexpr int largestBlockSize = 1 << 20;

// A whole number of frames from 1 to largestBlockSize, said in the tool's words.
CLI::Validator blockSizeCheck() {
  const std::string range = "a whole number of frames from 1 to " + std::to_string(largestBlockSize);
  return CLI::Validator(
      [range](std::string& text) {
        int value = 0;
        if (!CLI::detail::lexical_cast(text, value) || value < 1 || value > largestBlockSize)
          return "'" + text + "' is not " + range;
        return std::string();
      },
      "1 to " + std::to_string(largestBlockSize));
}

void addInfo(CLI::App& app, InfoOptions& options) {
  CLI::App* info = app.add_subcommand("info", "Show what a host learns about an effect module");
  info->add_option("module", options.modulePath,
                   "Effect module (.so); default: the tandrel.so beside the tool");
  info->add_flag("--json", options.json, "Print JSON instead of text");
}

void addRender(CLI::App& app, RenderOptions& options, bool& keepDelay) {
  CLI::App* render = app.add_subcommand("render", "Process audio files through an effect module");
  render->add_option("module", options.modulePath,
                     "Effect module (.so); default: the tandrel.so beside the tool");
  render
      ->add_option("-i,--input", options.inputs,
                   "Input audio file; repeat for more. Channels feed the inputs in order")
      ->required()
      ->allow_extra_args(false);
  render
      ->add_option("-o,--output", options.output, "Output file: .wav (32-bit float), .flac, .aiff/.aif, .ogg")
      ->required();
  render->add_option("-b,--block", options.blockSize, "Frames per processing call")
      ->check(blockSizeCheck())
      ->capture_default_str();
  render
      ->add_option("-p,--param", options.parameters,
                   "NAME=VALUE: set a parameter (by name or index) to a normalised value from 0 to 1")
      ->allow_extra_args(false);
  render->add_flag("--no-latency-compensation", keepDelay,
                   "Keep the effect's delay in the output instead of dropping it");
  render->add_option("--plot", options.plotPath, "Also draw the levels and the gain over time into this PNG");
  render->add_flag("-q,--quiet", options.quiet, "No progress bar and no summary");
}

void addDemo(CLI::App& app, DemoOptions& options) {
  CLI::App* demo = app.add_subcommand(
      "demo",
      "Duck a built-in stereo music bed under a speech-like voice and mix them, as `duck --mix` does");
  demo->add_option("-o,--output", options.output, "Ducked mix")->capture_default_str();
  demo->add_option("--plot", options.plotPath, "Picture of the job (PNG)")->capture_default_str();
  demo->add_option("--save-music", options.musicCopy, "Also write the synthesised music to this file");
  demo->add_option("--save-voice", options.voiceCopy, "Also write the synthesised voice to this file");
  demo->add_flag("-q,--quiet", options.quiet, "No progress bar and no summary");
}

void addCheck(CLI::App& app, tandrel::check::CheckOptions& options) {
  CLI::App* check =
      app.add_subcommand("check", "Run a battery of checks on an effect module, each in a child process");
  check->add_option("module", options.modulePath,
                    "Effect module (.so); default: the tandrel.so beside the tool");
  check->add_flag("--json", options.json, "Print JSON instead of text");
  check->add_flag("--quick", options.quick, "Fewer repeats: a run of a few seconds");
  check
      ->add_option("--time-limit", options.timeLimitSeconds, "Seconds each check may take (default: its own)")
      ->check(CLI::PositiveNumber);
}

int runCommand(const CLI::App& app, const InfoOptions& info, const RenderOptions& render,
               const DuckOptions& duck, const DemoOptions& demo, const tandrel::check::CheckOptions& check) {
  if (app.got_subcommand("info")) return runInfo(info);
  if (app.got_subcommand("check")) return tandrel::check::runCheck(check);
  const InterruptGuard guard;
  if (app.got_subcommand("render")) return runRender(render);
  if (app.got_subcommand("duck")) return runDuck(duck);
  return runDemo(demo);
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{"Tandrel command-line host: loads VST 2 effect modules as an audio host does", "tandrel"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "tandrel " TANDREL_VERSION);
  app.footer(exitStatusText);
  InfoOptions info;
  RenderOptions render;
  DemoOptions demo;
  addInfo(app, info);
  bool keepDelay = false;
  addRender(app, render, keepDelay);
  DuckOptions duck;
  addDuckCommand(app, duck);
  addDemo(app, demo);
  tandrel::check::CheckOptions check;
  addCheck(app, check);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error); // --help and --version
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
      commands.push_back(command->get_name());
    std::fprintf(stderr, "tandrel: %s\n", usageMessage(error, app, arguments, commands).c_str());
    return exitUsage;
  }
  render.compensateLatency = !keepDelay;
  return runReportingFailures([&] { return runCommand(app, info, render, duck, demo, check); });
}
