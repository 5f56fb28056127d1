// The checks of how a module copes with what hosts do to it besides plain
// processing: other sample rates and block sizes with processing switched
// off and on between them, parameters moving between small calls, random
// parameter values, its state saved and restored, and the process's locale.

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

#include "checks.hpp"
#include "child_process.hpp"
#include "host/guarded_buffer.hpp"

namespace tandrel::check {

namespace {

using std::chrono::seconds;

constexpr int largestParametersTouched = 512;

std::string numberText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The first sample that is not a finite number, as "NaN at output 1 frame 20".
struct NonFinite {
  bool found = false;
  std::string where;
};

NonFinite firstNonFinite(const Channels& output, std::size_t frameOffset = 0) {
  for (std::size_t c = 0; c < output.size(); ++c)
    for (std::size_t i = 0; i < output[c].size(); ++i)
      if (!std::isfinite(output[c][i]))
        return {true, std::string(std::isnan(output[c][i]) ? "NaN" : "infinity") + " at output " +
                          std::to_string(c) + " frame " + std::to_string(frameOffset + i)};
  return {};
}

// A host whose sample rate and block size may change: it answers the
// module's questions with the settings it last gave.
struct HostSettings {
  double sampleRate = checkSampleRate;
  int blockSize = typicalCallSize;
};

host::Answerer answererFor(const std::shared_ptr<HostSettings>& settings) {
  return [settings](const host::HostCall& call) -> std::intptr_t {
    switch (call.opcode) {
    case hostOpcode::version:
      return interfaceVersion;
    case hostOpcode::sampleRate:
      return static_cast<std::intptr_t>(settings->sampleRate);
    case hostOpcode::blockSize:
      return settings->blockSize;
    default:
      return 0;
    }
  };
}

void switchOff(Instance& instance) {
  markStep("switching processing off");
  instance.dispatch(opcode::processingStops);
  instance.dispatch(opcode::processingSwitch, 0, 0);
}

void switchOnAt(Instance& instance, const HostSettings& settings) {
  markStep("telling a new sample rate and block size and switching processing on");
  instance.dispatch(opcode::setSampleRate, 0, 0, nullptr, static_cast<float>(settings.sampleRate));
  instance.dispatch(opcode::setBlockSize, 0, settings.blockSize);
  instance.dispatch(opcode::processingSwitch, 0, 1);
  instance.dispatch(opcode::processingStarts);
}

std::string settingText(const HostSettings& settings) {
  return numberText(settings.sampleRate / 1000.0) + " kHz in calls of " + std::to_string(settings.blockSize) +
         " frames";
}

// The record's fields that must not change with the sample rate.
struct FixedFields {
  std::int32_t inputs, outputs, parameters, programs, flags, identifier;
  bool operator==(const FixedFields&) const = default;
};

FixedFields fixedFields(Instance& instance) {
  const EffectRecord& r = instance.record();
  return {r.inputCount, r.outputCount, r.parameterCount, r.programCount, r.flags, r.uniqueIdentifier};
}

bool toldHostOfChange(const Instance& instance) {
  const auto& calls = instance.calls();
  return std::any_of(calls.begin(), calls.end(),
                     [](const host::HostCall& call) { return call.opcode == hostOpcode::ioChanged; });
}

Outcome checkSampleRates(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto settings = std::make_shared<HostSettings>();
  auto instance = host.create(true);
  instance->setAnswerer(answererFor(settings));
  switchOn(*instance, settings->blockSize);
  const FixedFields fields = fixedFields(*instance);
  std::int32_t delay = instance->record().initialDelay;
  std::string delayNote;
  // Each rate once with a small block and once with a large one; 48 kHz in
  // 512-frame calls last, to compare with a fresh instance.
  const HostSettings sequence[] = {{44100.0, 512}, {96000.0, 64},   {48000.0, 4096},
                                   {44100.0, 32},  {96000.0, 1024}, {48000.0, 512}};
  Channels last;
  std::string previous = settingText(*settings);
  for (const HostSettings& next : sequence) {
    switchOff(*instance);
    *settings = next;
    instance->clearCalls();
    switchOnAt(*instance, next);
    const Channels input = programme(instance->record().inputCount,
                                     frames(context, static_cast<std::size_t>(next.sampleRate)), 43);
    last = render(*instance, input, fixedCalls(next.blockSize));
    const std::string where = settingText(next) + ", after " + previous;
    if (const NonFinite bad = firstNonFinite(last); bad.found) return failed(bad.where + " at " + where);
    if (!(fixedFields(*instance) == fields))
      return failed("the record's counts, flags or identifier changed at " + where);
    const std::int32_t nowDelay = instance->record().initialDelay;
    if (nowDelay < 0) return failed("negative initial delay " + std::to_string(nowDelay) + " at " + where);
    if (nowDelay != delay && !toldHostOfChange(*instance) && delayNote.empty())
      delayNote = "the initial delay changed from " + std::to_string(delay) + " to " +
                  std::to_string(nowDelay) + " at " + settingText(next) +
                  " without telling the host (host opcode 13)";
    delay = nowDelay;
    previous = settingText(next);
  }
  instance->setRecording(false);
  host.stopAndClose(instance);

  auto fresh = host.createRunning();
  const Channels expected =
      render(*fresh, programme(fresh->record().inputCount, frames(context, 48000), 43), fixedCalls(512));
  host.stopAndClose(fresh);
  const std::string tried = "44.1, 48 and 96 kHz in calls of 32 to 4096 frames, switched off and on between";
  if (!delayNote.empty()) return warned(delayNote);
  // A module may keep its state across switching off and on, so a
  // difference from a fresh instance is information, not a fault.
  return passed(tried +
                ": finite output and the record unchanged; back at 48 kHz, against a fresh instance: " +
                describe(compare(expected, last)));
}

// A check on a running instance's parameters (at most
// largestParametersTouched of them), which closes the instance when done.
using ParameterCheck = Outcome (*)(const CheckContext& context, ModuleUnderCheck& host,
                                   std::unique_ptr<Instance>& instance, int parameters);

// Runs `check` on a fresh running instance; a module without parameters
// passes with `withoutText`.
Outcome onParameters(const CheckContext& context, const char* withoutText, ParameterCheck check) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  const int parameters = std::min(instance->record().parameterCount, largestParametersTouched);
  if (parameters <= 0) {
    host.stopAndClose(instance);
    return passed(withoutText);
  }
  return check(context, host, instance, parameters);
}

Outcome automate(const CheckContext& context, ModuleUnderCheck& host, std::unique_ptr<Instance>& instance,
                 int parameters) {
  constexpr int callSize = 32;
  const Channels input = programme(instance->record().inputCount, frames(context, 48000), 47);
  const std::size_t total = input.empty() ? frames(context, 48000) : input[0].size();
  std::mt19937 generator(context.seed);
  std::uniform_int_distribution<int> which(0, parameters - 1);
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  std::uniform_int_distribution<int> extreme(0, 7);
  long changes = 0;
  // A module that rebuilds itself on every change may be slow here: the
  // calls stop at half the time limit, and what was done is judged.
  const auto budgetEnds = std::chrono::steady_clock::now() + context.timeLimit / 2;
  bool stoppedEarly = false;
  for (std::size_t done = 0; done + callSize <= total; done += callSize) {
    if (std::chrono::steady_clock::now() > budgetEnds) {
      stoppedEarly = true;
      break;
    }
    // A call that never returns is reported with its number (the seed
    // repeats the changes before it).
    markProgress(static_cast<long>(done / callSize));
    std::string lastChange;
    for (int k = 0; k < std::min(parameters, 4); ++k) {
      const int p = which(generator);
      const int roll = extreme(generator);
      const float v = roll == 0 ? 0.0f : roll == 1 ? 1.0f : value(generator);
      markStep("setting parameter %ld between 32-frame calls", p);
      instance->setParameter(p, v);
      lastChange = "parameter " + std::to_string(p) + " set to " + numberText(v);
      ++changes;
    }
    Channels slice(input.size());
    for (std::size_t c = 0; c < input.size(); ++c)
      slice[c].assign(input[c].begin() + static_cast<std::ptrdiff_t>(done),
                      input[c].begin() + static_cast<std::ptrdiff_t>(done + callSize));
    if (input.empty()) slice = silence(0, callSize);
    const Channels output = render(*instance, slice, fixedCalls(callSize));
    if (const NonFinite bad = firstNonFinite(output, done); bad.found)
      return failed(bad.where + " in a 32-frame call right after " + lastChange + " (seed " +
                    std::to_string(context.seed) + ")");
  }
  host.stopAndClose(instance);
  return passed(std::to_string(changes) + " parameter changes between 32-frame calls: all output finite" +
                (stoppedEarly ? " (stopped at half the time limit)" : ""));
}

Outcome checkParameterAutomation(const CheckContext& context) {
  return onParameters(context, "no parameters to move", automate);
}

// A display text read into a host-sized buffer of known bytes with guards.
struct DisplayReading {
  bool terminated = true;
  bool overran = false; // past the largest documented text
  bool longerThanDocumented = false;
  bool controlCharacters = false;
};

DisplayReading readDisplayGuarded(Instance& instance, std::int32_t parameter) {
  constexpr std::size_t bytes = 256;
  constexpr unsigned char untouched = 0xA7;
  host::GuardedBuffer buffer(bytes, untouched);
  markStep("reading the display of parameter %ld at a random value", parameter);
  instance.dispatch(opcode::parameterDisplay, parameter, 0, buffer.data(), 0.0f);
  DisplayReading reading;
  const auto* text = reinterpret_cast<const char*>(buffer.data());
  const void* end = std::memchr(text, 0, bytes);
  std::size_t written = bytes;
  while (written > 0 && buffer.data()[written - 1] == untouched)
    --written;
  reading.terminated = end != nullptr;
  reading.overran = !buffer.intact() || written > textCapacity::identityText + 1;
  reading.longerThanDocumented = written > textCapacity::parameterText + 1;
  if (end != nullptr)
    for (const char* c = text; c != end; ++c)
      if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) reading.controlCharacters = true;
  return reading;
}

Outcome fuzz(const CheckContext& context, ModuleUnderCheck& host, std::unique_ptr<Instance>& instance,
             int parameters) {
  const int rounds = context.quick ? 20 : 100;
  std::mt19937 generator(context.seed);
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  const Channels input = noise(instance->record().inputCount, typicalCallSize, 53, 0.5f);
  std::string warning;
  for (int round = 0; round < rounds; ++round) {
    for (int p = 0; p < parameters; ++p) {
      const float v = value(generator);
      markStep("setting parameter %ld to a random value", p);
      instance->setParameter(p, v);
      const float back = instance->getParameter(p);
      const std::string which = "parameter " + std::to_string(p) + " set to " + numberText(v) + " (round " +
                                std::to_string(round) + ")";
      if (!std::isfinite(back) || back < 0.0f || back > 1.0f)
        return failed(which + " reads " + numberText(back) + ", outside 0 to 1");
      const DisplayReading display = readDisplayGuarded(*instance, p);
      if (display.overran) return failed(which + " displays a text that overruns 65 bytes");
      if (!display.terminated) return failed(which + " displays a text without terminator");
      if (warning.empty() && display.longerThanDocumented)
        warning = which + " displays a text longer than 8 characters";
      if (warning.empty() && display.controlCharacters) warning = which + " displays control characters";
    }
    markStep("processing after parameters were set to random values");
    const Channels output = render(*instance, input, fixedCalls(typicalCallSize));
    if (const NonFinite bad = firstNonFinite(output); bad.found)
      return failed(bad.where + " after every parameter was set to a random value (round " +
                    std::to_string(round) + ", seed " + std::to_string(context.seed) + ")");
  }
  host.stopAndClose(instance);
  const std::string done = std::to_string(rounds) + " rounds of random values on " +
                           std::to_string(parameters) +
                           " parameters, each read back with its display, then a call processed";
  if (!warning.empty()) return warned(warning);
  return passed(done + ": values within 0 to 1, displays terminated, output finite");
}

Outcome checkParameterFuzz(const CheckContext& context) {
  return onParameters(context, "no parameters to set", fuzz);
}

constexpr float restoreTolerance = 1e-3f;

// A parameter as a host sees it: its value and its display.
struct ParameterState {
  float value;
  std::string display;
};

std::vector<ParameterState> readParameters(Instance& instance, int count) {
  std::vector<ParameterState> state(static_cast<std::size_t>(count));
  for (int p = 0; p < count; ++p) {
    markStep("reading parameter %ld and its display", p);
    state[static_cast<std::size_t>(p)] = {instance.getParameter(p),
                                          instance.text(opcode::parameterDisplay, p)};
  }
  return state;
}

void setRandomParameters(Instance& instance, int count, std::mt19937& generator) {
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  for (int p = 0; p < count; ++p) {
    markStep("setting parameter %ld", p);
    instance.setParameter(p, value(generator));
  }
}

// The first parameter whose value and display both differ from the ones
// expected, as "parameter 3 is 0.2 ("-12 dB") instead of 0.7 ("-3 dB")"; empty
// when all agree. A stepped parameter may read back the value it was set to
// while its state holds the step, so a value alone may differ.
std::string firstLost(const std::vector<ParameterState>& saved, const std::vector<ParameterState>& restored) {
  for (std::size_t p = 0; p < saved.size() && p < restored.size(); ++p)
    if (!(std::fabs(saved[p].value - restored[p].value) <= restoreTolerance) &&
        saved[p].display != restored[p].display)
      return "parameter " + std::to_string(p) + " is " + numberText(restored[p].value) + " (\"" +
             restored[p].display + "\") instead of " + numberText(saved[p].value) + " (\"" +
             saved[p].display + "\")";
  return {};
}

// A chunk as the module gave it, copied into the host's own memory.
std::vector<unsigned char> saveChunk(Instance& instance, bool programOnly) {
  void* data = nullptr;
  markStep(programOnly ? "saving the program chunk (opcode 23, index 1)"
                       : "saving the bank chunk (opcode 23)");
  const std::intptr_t size = instance.dispatch(opcode::getChunk, programOnly ? 1 : 0, 0, &data);
  if (size <= 0 || data == nullptr) return {};
  const auto* bytes = static_cast<const unsigned char*>(data);
  return std::vector<unsigned char>(bytes, bytes + size);
}

void restoreChunk(Instance& instance, std::vector<unsigned char> chunk, bool programOnly) {
  markStep(programOnly ? "restoring the program chunk (opcode 24, index 1)"
                       : "restoring the bank chunk (opcode 24)");
  instance.dispatch(opcode::setChunk, programOnly ? 1 : 0, static_cast<std::intptr_t>(chunk.size()),
                    chunk.data());
}

// Saves a chunk of random settings and restores it into a fresh instance,
// whose own chunk then holds a state the module itself arrived at (random
// values of linked parameters, such as angles and the quaternion they make,
// need not agree; a restored state does). That chunk, restored into the
// first instance after other settings and into another fresh one, must give
// the parameters the second instance had; answers the first loss.
std::string chunkRoundTrip(ModuleUnderCheck& host, int parameters, bool programOnly, std::uint32_t seed) {
  const std::string kind = programOnly ? "the program chunk" : "the bank chunk";
  auto instance = host.createRunning();
  std::mt19937 generator(seed);
  setRandomParameters(*instance, parameters, generator);
  const std::vector<unsigned char> randomChunk = saveChunk(*instance, programOnly);
  if (randomChunk.empty()) {
    host.stopAndClose(instance);
    return programOnly ? std::string()
                       : "the module offers its state as chunks (flag 0x20) but gives no bank chunk";
  }
  auto settled = host.createRunning();
  restoreChunk(*settled, randomChunk, programOnly);
  const std::vector<ParameterState> carried = readParameters(*settled, parameters);
  const std::vector<unsigned char> chunk = saveChunk(*settled, programOnly);
  host.stopAndClose(settled);
  setRandomParameters(*instance, parameters, generator);
  restoreChunk(*instance, chunk, programOnly);
  std::string lost = firstLost(carried, readParameters(*instance, parameters));
  host.stopAndClose(instance);
  if (!lost.empty()) return "after restoring " + kind + " into the same instance, " + lost;
  auto fresh = host.createRunning();
  restoreChunk(*fresh, chunk, programOnly);
  lost = firstLost(carried, readParameters(*fresh, parameters));
  host.stopAndClose(fresh);
  if (!lost.empty()) return "after restoring " + kind + " into another fresh instance, " + lost;
  return {};
}

// Programs keep their own values and names: program 1 is set and named,
// program 0 selected and changed, program 1 selected again.
std::string programRoundTrip(ModuleUnderCheck& host, int parameters, std::uint32_t seed) {
  auto instance = host.createRunning();
  std::mt19937 generator(seed);
  markStep("selecting program 1");
  instance->dispatch(opcode::selectProgram, 0, 1);
  setRandomParameters(*instance, parameters, generator);
  char name[] = "Checked";
  instance->dispatch(opcode::renameProgram, 0, 0, name);
  const std::vector<ParameterState> saved = readParameters(*instance, parameters);
  markStep("selecting program 0");
  instance->dispatch(opcode::selectProgram, 0, 0);
  setRandomParameters(*instance, parameters, generator);
  markStep("selecting program 1 again");
  instance->dispatch(opcode::selectProgram, 0, 1);
  const std::string lost = firstLost(saved, readParameters(*instance, parameters));
  const std::string readName = instance->text(opcode::programName, 0, 256);
  host.stopAndClose(instance);
  if (!lost.empty()) return "after selecting program 0 and program 1 again, " + lost;
  if (readName != name) return "program 1 renamed \"Checked\" reads \"" + readName + "\"";
  return {};
}

Outcome checkStateRoundTrip(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto probe = host.create();
  const int parameters = std::min(probe->record().parameterCount, largestParametersTouched);
  const bool chunks = (probe->record().flags & flag::programsAsChunks) != 0;
  const int programs = probe->record().programCount;
  host.stopAndClose(probe);
  std::vector<std::string> done;
  if (chunks) {
    for (const bool programOnly : {false, true}) {
      const std::string lost = chunkRoundTrip(host, parameters, programOnly, context.seed);
      if (!lost.empty()) return failed(lost);
    }
    done.push_back("the bank and program chunks (opcodes 23 and 24) restore all " +
                   std::to_string(parameters) + " parameters, in the same instance and in a fresh one");
  }
  if (programs > 1) {
    // Programs that are factory presets may load their values again when
    // selected: a warning, not a failure.
    const std::string lost = programRoundTrip(host, parameters, context.seed + 1);
    if (!lost.empty()) return warned(lost);
    done.push_back("program 1 keeps its values and name while program 0 changes");
  }
  if (done.empty()) return passed("no chunks (flag 0x20) and one program: nothing to save but parameters");
  std::string text = done[0];
  if (done.size() > 1) text += "; " + done[1];
  return passed(text);
}

// What the process's locale is: the categories as setlocale names them, and
// whether the calling thread has a locale of its own.
std::string localeState() {
  const char* all = std::setlocale(LC_ALL, nullptr);
  const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
  std::string state = std::string("LC_ALL \"") + (all != nullptr ? all : "?") + "\", LC_NUMERIC \"" +
                      (numeric != nullptr ? numeric : "?") + "\"";
  if (uselocale(nullptr) != LC_GLOBAL_LOCALE) state += ", a thread locale of its own";
  return state;
}

Outcome checkLocale(const CheckContext& context) {
  const std::string before = localeState();
  std::string after;
  const auto changedBy = [&](const char* what) {
    after = localeState();
    return after != before ? failed(std::string(what) + " changed the locale from " + before + " to " + after)
                           : Outcome{};
  };
  ModuleUnderCheck host(context);
  if (Outcome o = changedBy("loading the module"); o.verdict == Verdict::fail) return o;
  auto instance = host.create();
  if (Outcome o = changedBy("creating an instance"); o.verdict == Verdict::fail) return o;
  switchOn(*instance);
  if (Outcome o = changedBy("opening and switching on"); o.verdict == Verdict::fail) return o;
  render(*instance, silence(instance->record().inputCount, typicalCallSize), fixedCalls(typicalCallSize));
  if (Outcome o = changedBy("processing"); o.verdict == Verdict::fail) return o;
  host.stopAndClose(instance);
  if (Outcome o = changedBy("closing"); o.verdict == Verdict::fail) return o;
  return passed("loading, opening, processing and closing leave the locale as it was: " + before);
}

// The rows of this file's checks, in the order they run.
constexpr CheckDefinition rows[] = {
    {"sample-rates", "44.1, 48 and 96 kHz in calls of 32 to 4096 frames, switched off and on between",
     checkSampleRates},
    {"automation", "random parameter changes between 32-frame calls: output stays finite",
     checkParameterAutomation},
    {"parameter-fuzz", "random values on every parameter, read back with their displays, then processing",
     checkParameterFuzz},
    {"state", "bank and program chunks (opcodes 23, 24) and programs restore every parameter",
     checkStateRoundTrip},
    {"locale", "loading, opening, processing and closing leave the process's locale as it was", checkLocale,
     seconds(30)},
};

} // namespace

constinit const CheckRows hostConditionChecks = rows;

} // namespace tandrel::check
