// The host side of a check, inside its child process: the module loaded as a
// host loads it, instances made and switched on the way hosts do, audio
// rendered through them in calls of chosen sizes, test signals and
// comparisons of outputs.
//
// Thread: [main] of the child, except where a check says otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "check_result.hpp"
#include "host/module_host.hpp"

namespace tandrel::check {

// What every check is told.
struct CheckContext {
  std::string modulePath;
  bool quick = false;
  std::chrono::milliseconds timeLimit{0};
  std::chrono::steady_clock::time_point deadline; // when its child is killed
  std::uint32_t seed = 1;                         // of the checks' random choices (--seed)
};

// The host's settings for every instance.
constexpr double checkSampleRate = 48000.0;
constexpr int announcedBlockSize = 4096; // the largest call any check makes
constexpr int typicalCallSize = 512;

// A check that cannot go on (the module does not load, the entry point
// answers null); the message becomes the failure's detail.
class CheckStopped : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

using Channels = std::vector<std::vector<float>>;
// The check code calls a host instance by its short name.
using Instance = host::EffectInstance;

// The size of each processing call, given the frames done so far.
using CallSizes = std::function<int(std::size_t done)>;
CallSizes fixedCalls(int size);
// Sizes from 1 to `largest`, from a fixed seed, so runs repeat.
CallSizes randomCalls(int largest, std::uint32_t seed);

// The module a check loads in its child process, and the instances it
// makes of it.
class ModuleUnderCheck {
public:
  // Loads the context's module. Throws CheckStopped with the loader's
  // reason.
  explicit ModuleUnderCheck(const CheckContext& context);

  const host::ModuleLibrary& module() const { return *module_; }

  // A new instance through the entry point; callback calls are recorded
  // until `recordCalls` is false. An instance of a module that takes notes
  // is played the check's note phrase (note_phrase.hpp) before its
  // processing calls. Throws CheckStopped when the entry point answers
  // null.
  std::unique_ptr<Instance> create(bool recordCalls = false);
  // Whether the module takes notes: its record's instrument flag, or its
  // answer 1 to the capability "receiveVstMidiEvent" (asked once, of the
  // first instance). Known once an instance was made.
  bool takesNotes() const { return takesNotes_; }
  // A new instance told the sample rate and block size, as a host does
  // before it opens one: every later request meets a configured instance.
  std::unique_ptr<Instance> createConfigured();
  // A new instance, told the sample rate and block size, opened and
  // switched on, as a host does before processing.
  std::unique_ptr<Instance> createRunning();

  // Opcode 72 then 12 with value 0, then close.
  static void stopAndClose(std::unique_ptr<Instance>& instance);

private:
  std::unique_ptr<host::ModuleLibrary> module_;
  std::uint32_t seed_;
  bool notesAsked_ = false;
  bool takesNotes_ = false;
};

// Sample rate and block size (opcodes 10 and 11), without opening: a step
// host::EffectInstance::prepare() does not take alone.
void tellRateAndBlockSize(Instance& instance, int blockSize = announcedBlockSize);
// Sample rate, block size, open, switch on, processing starts.
void switchOn(Instance& instance, int blockSize = announcedBlockSize);

// How far an instance is brought before a series of requests.
enum class Preparation { created, configured, running };

// Runs `input` (one vector per input) through the instance in calls of the
// given sizes and returns one vector per output. In place: output i shares
// the buffer of input i where both exist.
// `frames` frames in all, or as many as the inputs hold when it is 0 (a
// module without inputs is rendered by its outputs: give `frames`).
Channels render(Instance& instance, const Channels& input, const CallSizes& sizes, bool inPlace = false,
                std::size_t frames = 0);

// Test signals, one vector per channel.
Channels silence(int channels, std::size_t frames);
Channels noise(int channels, std::size_t frames, std::uint32_t seed, float amplitude = 1.0f);
Channels impulses(int channels, std::size_t frames, std::size_t spacing);
// Noise in bursts of changing level with silent gaps and impulses: a mix
// that moves an effect through its states.
Channels programme(int channels, std::size_t frames, std::uint32_t seed);

// Where two renders first differ, and by how much at most.
struct Difference {
  bool identical = true;
  std::size_t channel = 0;
  std::size_t frame = 0;
  double largest = 0.0; // NaN when a NaN stands against a number
};
Difference compare(const Channels& a, const Channels& b);
// "identical", or "differs from output 0 frame 123 on, by up to 0.01".
std::string describe(const Difference& difference);

// A series of requests to one instance, numbered from 0, sent in a child of
// the check's process. When request k crashes the module, the series goes
// on from k + 1 in a new child and a fresh instance, so that one crash does
// not hide the next; a hang ends the series.
using SeriesRequest = std::function<void(Instance& instance, std::size_t position)>;
struct SeriesResult {
  std::size_t answered = 0;
  std::vector<Outcome> crashes; // each with the crash verdict of its step
  std::vector<std::string> crashSteps = {};
};
SeriesResult sendSeries(const CheckContext& context, std::size_t count, Preparation preparation,
                        const SeriesRequest& send);
// The first crash in full, the steps of the others, and how many requests
// were answered, with the worst verdict.
Outcome summarise(const SeriesResult& result);

// Whether an editor could open on a display here (X11 or Wayland).
bool displayPresent();

// Frames to render for a check: the full count, or a quarter with --quick.
std::size_t frames(const CheckContext& context, std::size_t full);

} // namespace tandrel::check
