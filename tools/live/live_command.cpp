#include "live_command.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/interrupt.hpp"
#include "common/loaded_effect.hpp"
#include "common/module_locator.hpp"
#include "effect/tandrel_vocabulary.hpp"
#include "jack_session.hpp"
#include "live_options.hpp"
#include "live_terminal.hpp"
#include "module_engine.hpp"

namespace tandrel::cli {

namespace {

// How often the main loop looks at signals, keys and the server.
constexpr int loopMilliseconds = 50;
// How often the status line is rewritten.
constexpr auto statusInterval = std::chrono::milliseconds(250);
// One key press moves the depth by this much.
constexpr float depthStepDb = 1.0f;

constexpr const char* keyHelp = "keys: t talk (manual duck) on/off, + / - depth up/down 1 dB, q quit";

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

bool isTandrel(const std::string& modulePath) {
  const auto effect = LoadedEffect::load(modulePath);
  return effect->uniqueIdentifier() == product::uniqueIdentifier;
}

// The processor first, the session second: the session, destroyed first,
// stops the callbacks before the processor goes.
struct LiveRun {
  std::unique_ptr<LiveProcessor> processor;
  std::unique_ptr<JackSession> session;
  DuckingEngine* ducking = nullptr; // the processor, when it ducks
};

std::string statusText(const LiveRun& run) {
  const std::string load = format("DSP %4.1f %%  xruns %.0f", run.session->cpuLoad(), run.session->xruns());
  if (run.ducking == nullptr) return load;
  const LiveControls& controls = run.ducking->controls();
  const double voice = std::max(-99.9f, controls.voiceDbfs.load());
  return format("voice %5.1f dBFS  presence %4.2f  ", voice, controls.presence.load()) +
         format("music %5.1f dB  depth %4.1f dB  ", controls.musicGainDb.load(), controls.depthDb.load()) +
         (controls.talk.load() ? "TALK  " : "talk off  ") + load;
}

// Returns true when the key asks to quit.
bool handleKey(int key, LiveRun& run) {
  if (key == 'q' || key == 'Q') return true;
  if (run.ducking == nullptr) return false;
  LiveControls& controls = run.ducking->controls();
  if (key == 't' || key == 'T' || key == ' ') controls.talk.store(!controls.talk.load());
  float depth = controls.depthDb.load();
  if (key == '+' || key == '=') depth += depthStepDb;
  if (key == '-' || key == '_') depth -= depthStepDb;
  controls.depthDb.store(std::clamp(depth, 0.0f, static_cast<float>(largestLiveDepthDb)));
  return false;
}

LiveRun startRun(const LiveOptions& options, const std::string& modulePath) {
  LiveRun run;
  auto session = std::make_unique<JackSession>(options.clientName, options.serverName);
  const double rate = session->sampleRate();
  const int period = session->periodFrames();
  if (isTandrel(modulePath)) {
    if (!options.parameters.empty())
      throw UsageError("--param is for modules other than Tandrel; live sets Tandrel's parameters itself "
                       "(use --depth)");
    auto engine = std::make_unique<DuckingEngine>(modulePath, options.shape, rate, period);
    run.ducking = engine.get();
    run.processor = std::move(engine);
  } else {
    std::vector<std::pair<std::string, float>> settings;
    for (const std::string& setting : options.parameters)
      settings.push_back(parseParameterSetting(setting));
    run.processor = std::make_unique<ModuleEngine>(modulePath, std::move(settings), rate, period);
  }
  session->attach(*run.processor);
  session->activate();
  run.session = std::move(session);
  return run;
}

void printStart(const LiveRun& run, const LiveOptions& options, const std::string& modulePath) {
  const double rate = run.session->sampleRate();
  const int latency = run.processor->latency();
  std::printf("tandrel live: JACK client '%s' at %.0f Hz, %d frames per period\n",
              run.session->clientName().c_str(), rate, run.session->periodFrames());
  if (run.ducking != nullptr)
    std::printf(
        "ducking %d music channel%s under the voice: depth %g dB, threshold %g dBFS, look-ahead %g ms%s\n",
        options.shape.channels, options.shape.channels == 1 ? "" : "s", options.shape.depthDb,
        options.shape.presence.thresholdDbfs, options.shape.lookaheadMs,
        options.shape.mix ? ", voice mixed in" : "");
  else
    std::printf("hosting %s live\n", modulePath.c_str());
  std::printf("latency %d frames (%.1f ms), reported to JACK\n", latency, 1000.0 * latency / rate);
  std::fflush(stdout);
}

} // namespace

} // namespace tandrel::cli

namespace tandrel::cli::live {

void add(CLI::App& app) {
  auto shared = std::make_shared<LiveOptions>();
  LiveOptions& options = *shared;
  CLI::App* live = app.add_subcommand(
      "live", "Duck music under a microphone in real time as a JACK client (one Tandrel instance per music "
              "channel); with --module naming another effect, host that effect live");
  live->footer(
      std::string("Ports: music_1 .. music_N and voice in, out_1 .. out_N out (another module: in_1 .. "
                  "and out_1 ..). In a terminal, ") +
      keyHelp + ". Ends on Ctrl-C, SIGTERM or SIGHUP (status 0) or when the JACK server stops (status 1).");
  LiveShape& shape = options.shape;
  addOption(*live, live_options::channels, shape)->capture_default_str();
  addOption(*live, live_options::depth, shape)->capture_default_str();
  addOption(*live, live_options::threshold, shape.presence)->capture_default_str();
  addOption(*live, live_options::attack, shape.presence)->capture_default_str();
  addOption(*live, live_options::hold, shape.presence)->capture_default_str();
  addOption(*live, live_options::release, shape.presence)->capture_default_str();
  addOption(*live, live_options::lookahead, shape)->capture_default_str();
  live->add_flag("--mix", shape.mix, "Add the voice to every output, in time with the ducked music");
  addOption(*live, live_options::voiceGain, shape)->capture_default_str();
  addOption(*live, live_options::musicGain, shape)->capture_default_str();
  live->add_option(
          "--connect", options.connections,
          "ROLE=PATTERN: connect this client's ports named ROLE... (music, voice, out; in for another "
          "module) to the other clients' port of that full name, or else to the ports matching the JACK "
          "pattern (a regular expression), e.g. voice=system:capture_1 or out=system:playback_; repeat for "
          "more")
      ->allow_extra_args(false);
  live->add_option("-n,--name", options.clientName, "JACK client name")->capture_default_str();
  live->add_option("--server", options.serverName,
                   "JACK server name (default: $JACK_DEFAULT_SERVER or the default)");
  live->add_option(
      "--module", options.modulePath,
      "Effect module (.so); default: the tandrel.so beside the tool. Another effect is hosted live "
      "with its inputs and outputs as ports");
  live->add_option(
          "-p,--param", options.parameters,
          "NAME=VALUE: set a parameter of another module (by name or index) to a normalised value from 0 "
          "to 1")
      ->allow_extra_args(false);
  live->add_flag("-q,--quiet", options.quiet, "No start lines, status line or keys");
  // The tool stops on its own signals: live ends cleanly on them.
  live->callback([shared] { runCommand([&] { return runLive(*shared); }, Interruptible::no); });
}

} // namespace tandrel::cli::live

namespace tandrel::cli {

int runLive(const LiveOptions& options) {
  checkLiveShape(options.shape);
  std::vector<ConnectRequest> requests;
  for (const std::string& text : options.connections)
    requests.push_back(parseConnectRequest(text));
  const std::string modulePath = options.modulePath.empty() ? defaultModulePath() : options.modulePath;

  // SIGINT, SIGTERM and SIGHUP only set the flag that the loop below reads;
  // live then closes as on the q key.
  const InterruptGuard signals;
  LiveRun run = startRun(options, modulePath);
  const std::vector<std::string> warnings = run.session->connect(requests);
  if (!options.quiet) printStart(run, options, modulePath);
  for (const std::string& warning : warnings)
    std::fprintf(stderr, "tandrel: %s\n", warning.c_str());

  StatusLine status;
  const bool interactive = !options.quiet && status.active();
  KeyReader keys(interactive);
  if (keys.active()) std::fprintf(stderr, "%s\n", keyHelp);
  auto nextStatus = std::chrono::steady_clock::now();
  while (!interruptRequested()) {
    const int key = keys.next(loopMilliseconds);
    if (run.session->serverGone()) {
      status.clear();
      throw CliError("the JACK server stopped (" + run.session->shutdownReason() + "); live ended");
    }
    if (run.session->periodFailed()) {
      status.clear();
      throw CliError("could not follow JACK's new period size: " + run.session->periodError());
    }
    if (key != 0 && handleKey(key, run)) break;
    if (interactive && std::chrono::steady_clock::now() >= nextStatus) {
      status.show(statusText(run));
      nextStatus += statusInterval;
    }
  }
  status.clear();
  run.session->deactivate();
  if (!options.quiet) std::printf("stopped; %u xruns reported by JACK while running\n", run.session->xruns());
  return exitSuccess;
}

} // namespace tandrel::cli
