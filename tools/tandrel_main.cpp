// The command-line host: `tandrel info`, `tandrel render`, `tandrel duck`,
// `tandrel demo` and `tandrel check`.
// Every failure ends in one line on standard error and a non-zero status.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include "check/check_command.hpp"
#include "cli_error.hpp"
#include "demo.hpp"
#include "duck_command.hpp"
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
      ->check(CLI::Range(1, largestBlockSize))
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
    // Help and version requests end with status 0; usage errors with 2.
    return app.exit(error) == 0 ? 0 : exitUsage;
  }
  render.compensateLatency = !keepDelay;

  try {
    return runCommand(app, info, render, duck, demo, check);
  } catch (const Interrupted& stop) {
    std::fprintf(stderr, "tandrel: %s\n", stop.what());
    return exitInterrupted;
  } catch (const CliError& error) {
    // A blocking call cut short by the signal fails in its own way; the
    // interrupt is what happened.
    if (interruptRequested()) {
      std::fprintf(stderr, "tandrel: %s\n", Interrupted().what());
      return exitInterrupted;
    }
    std::fprintf(stderr, "tandrel: %s\n", error.what());
    return exitFailure;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tandrel: unexpected failure: %s\n", error.what());
    return exitFailure;
  }
}
