#include "check_session.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "check_protocol.hpp"
#include "child_process.hpp"
#include "frame/capabilities.hpp"
#include "host/channel_buffers.hpp"
#include "note_phrase.hpp"

namespace tandrel::check {

namespace {

// A host at 48 kHz with blocks of at most announcedBlockSize frames; every
// other question gets 0, the answer for "not supported".
std::intptr_t checkHostAnswer(const host::HostCall& call) {
  switch (call.opcode) {
  case hostOpcode::version:
    return interfaceVersion;
  case hostOpcode::sampleRate:
    return static_cast<std::intptr_t>(checkSampleRate);
  case hostOpcode::blockSize:
    return announcedBlockSize;
  default:
    return 0;
  }
}

// The first entry of the record a host calls that is null, or null.
const char* missingEntry(const EffectRecord& record) {
  if (record.dispatcherEntry == nullptr) return "dispatcher";
  if (record.replacingProcessEntry == nullptr) return "replacing process";
  if (record.setParameterEntry == nullptr) return "set-parameter";
  if (record.getParameterEntry == nullptr) return "get-parameter";
  return nullptr;
}

} // namespace

CallSizes fixedCalls(int size) {
  return [size](std::size_t) { return size; };
}

CallSizes randomCalls(int largest, std::uint32_t seed) {
  auto generator = std::make_shared<std::mt19937>(seed);
  return [generator, largest](std::size_t) {
    // Mostly small calls, with some large ones.
    std::uniform_int_distribution<int> scale(0, 3);
    const int top = scale(*generator) == 0 ? largest : std::max(1, largest / 16);
    return std::uniform_int_distribution<int>(1, top)(*generator);
  };
}

ModuleUnderCheck::ModuleUnderCheck(const CheckContext& context) : seed_(context.seed) {
  markStep("loading the module");
  std::string error;
  module_ = host::ModuleLibrary::load(context.modulePath, error);
  if (module_ == nullptr) throw CheckStopped(error);
}

std::unique_ptr<Instance> ModuleUnderCheck::create(bool recordCalls) {
  markStep("creating an instance through the entry point");
  std::string error;
  auto instance = Instance::create(*module_, error, checkHostAnswer);
  if (instance == nullptr) throw CheckStopped(error);
  if (const char* missing = missingEntry(instance->record())) {
    // Closing goes through the dispatcher entry: without one the instance
    // can only be left behind (the child ends soon after).
    if (instance->record().dispatcherEntry == nullptr) static_cast<void>(instance.release());
    throw CheckStopped(std::string("the record has no ") + missing + " entry, which hosts call");
  }
  // Recording allocates; it must not show in the counts of a processing call.
  instance->setRecording(recordCalls);
  if (!notesAsked_) {
    notesAsked_ = true;
    markStep("asking whether the module takes MIDI events (opcode 51)");
    std::string capability = receiveMidiEventCapability; // the module gets a buffer of the host's
    takesNotes_ = (instance->record().flags & flag::instrument) != 0 ||
                  instance->dispatch(opcode::canDo, 0, 0, capability.data()) == 1;
  }
  if (takesNotes_) instance->setEventFeed(std::make_unique<NoteFeed>(seed_));
  return instance;
}

std::unique_ptr<Instance> ModuleUnderCheck::createConfigured() {
  auto instance = create();
  tellRateAndBlockSize(*instance);
  return instance;
}

std::unique_ptr<Instance> ModuleUnderCheck::createRunning() {
  auto instance = create();
  switchOn(*instance);
  return instance;
}

void ModuleUnderCheck::stopAndClose(std::unique_ptr<Instance>& instance) {
  markStep("switching processing off");
  instance->stop();
  markStep("closing the instance");
  instance->close();
  instance.reset();
}

void tellRateAndBlockSize(Instance& instance, int blockSize) {
  markStep("telling the sample rate and block size");
  instance.dispatch(opcode::setSampleRate, 0, 0, nullptr, static_cast<float>(checkSampleRate));
  instance.dispatch(opcode::setBlockSize, 0, blockSize);
}

void switchOn(Instance& instance, int blockSize) {
  markStep("telling the sample rate and block size, opening");
  instance.prepare(checkSampleRate, blockSize);
  markStep("switching processing on");
  instance.start();
}

Channels render(Instance& instance, const Channels& input, const CallSizes& sizes, bool inPlace,
                std::size_t frames) {
  const int inputCount = std::max(instance.record().inputCount, 0);
  const int outputCount = std::max(instance.record().outputCount, 0);
  const std::size_t total = frames > 0 ? frames : input.empty() ? 0 : input[0].size();
  host::ChannelBuffers inBuffers(inputCount, announcedBlockSize);
  host::ChannelBuffers outBuffers(outputCount, announcedBlockSize);
  // In place, output o is written into input o's buffer where both exist.
  std::vector<float*> outPointers(outBuffers.pointers(), outBuffers.pointers() + std::max(outputCount, 1));
  for (int o = 0; inPlace && o < std::min(inputCount, outputCount); ++o)
    outPointers[static_cast<std::size_t>(o)] = inBuffers.channel(o);

  Channels output(static_cast<std::size_t>(outputCount), std::vector<float>(total));
  for (std::size_t done = 0; done < total;) {
    const auto count = static_cast<std::size_t>(
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(sizes(done), 1)), 1,
                                std::min<std::size_t>(announcedBlockSize, total - done)));
    for (int i = 0; i < inputCount; ++i)
      std::copy_n(input[static_cast<std::size_t>(i)].begin() + static_cast<std::ptrdiff_t>(done), count,
                  inBuffers.channel(i));
    markStep("processing a call, frame count %ld", static_cast<long>(count));
    instance.processReplacing(inBuffers.pointers(), outPointers.data(), static_cast<std::int32_t>(count));
    for (std::size_t o = 0; o < output.size(); ++o)
      std::copy_n(outPointers[o], count, output[o].begin() + static_cast<std::ptrdiff_t>(done));
    done += count;
  }
  return output;
}

Channels silence(int channels, std::size_t frames) {
  return Channels(static_cast<std::size_t>(std::max(channels, 0)), std::vector<float>(frames));
}

Channels noise(int channels, std::size_t frames, std::uint32_t seed, float amplitude) {
  Channels signal = silence(channels, frames);
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> sample(-amplitude, amplitude);
  for (auto& channel : signal)
    for (float& s : channel)
      s = sample(generator);
  return signal;
}

Channels impulses(int channels, std::size_t frames, std::size_t spacing) {
  Channels signal = silence(channels, frames);
  for (auto& channel : signal)
    for (std::size_t i = spacing / 2; i < frames; i += spacing)
      channel[i] = 1.0f;
  return signal;
}

Channels programme(int channels, std::size_t frames, std::uint32_t seed) {
  Channels signal = noise(channels, frames, seed);
  std::mt19937 generator(seed + 1);
  std::uniform_int_distribution<int> decibels(-60, 0);
  std::uniform_int_distribution<int> passage(500, 4000);
  for (auto& channel : signal) {
    for (std::size_t start = 0; start < frames;) {
      const std::size_t length = static_cast<std::size_t>(passage(generator));
      const int level = decibels(generator);
      // A passage in five is silent but for one impulse.
      const bool quiet = level < -48;
      const float gain = quiet ? 0.0f : static_cast<float>(std::pow(10.0, level / 20.0));
      for (std::size_t i = start; i < std::min(frames, start + length); ++i)
        channel[i] *= gain;
      if (quiet && start + length / 2 < frames) channel[start + length / 2] = 0.9f;
      start += length;
    }
  }
  return signal;
}

Difference compare(const Channels& a, const Channels& b) {
  Difference difference;
  for (std::size_t c = 0; c < std::min(a.size(), b.size()); ++c) {
    for (std::size_t i = 0; i < std::min(a[c].size(), b[c].size()); ++i) {
      const float x = a[c][i], y = b[c][i];
      const bool same = x == y || (std::isnan(x) && std::isnan(y));
      if (same) continue;
      if (difference.identical) {
        difference.identical = false;
        difference.channel = c;
        difference.frame = i;
      }
      const double gap = std::fabs(static_cast<double>(x) - static_cast<double>(y));
      if (std::isnan(gap) || std::isnan(difference.largest)) {
        difference.largest = std::nan("");
      } else {
        difference.largest = std::max(difference.largest, gap);
      }
    }
  }
  return difference;
}

std::string describe(const Difference& difference) {
  if (difference.identical) return "identical";
  char text[160];
  std::snprintf(text, sizeof text, "output %zu differs from frame %zu on, by up to %.3g", difference.channel,
                difference.frame, difference.largest);
  return text;
}

namespace {
// Time kept back from a series' child for the series itself to report.
constexpr std::chrono::milliseconds seriesMargin{1000};
} // namespace

namespace {
std::unique_ptr<Instance> prepared(ModuleUnderCheck& host, Preparation preparation) {
  switch (preparation) {
  case Preparation::created:
    return host.create();
  case Preparation::configured:
    return host.createConfigured();
  case Preparation::running:
    return host.createRunning();
  }
  return host.create();
}
} // namespace

SeriesResult sendSeries(const CheckContext& context, std::size_t count, Preparation preparation,
                        const SeriesRequest& send) {
  SeriesResult result;
  for (std::size_t first = 0; first < count;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(context.deadline -
                                                                            std::chrono::steady_clock::now());
    const ChildEnding ending = runChildProcess(
        [&] {
          ModuleUnderCheck host(context);
          auto instance = prepared(host, preparation);
          for (std::size_t position = first; position < count; ++position) {
            markProgress(static_cast<long>(position));
            send(*instance, position);
          }
          markProgress(static_cast<long>(count));
          host.stopAndClose(instance);
          return passed("");
        },
        std::max(left - seriesMargin, std::chrono::milliseconds(100)), context.timeLimit);
    // What the request's child printed joins what this check prints.
    if (!ending.outcome.output.empty()) {
      std::fwrite(ending.outcome.output.data(), 1, ending.outcome.output.size(), stdout);
      std::fflush(stdout);
    }
    if (ending.returned && ending.outcome.verdict == Verdict::pass) {
      result.answered += count - first;
      break;
    }
    result.crashes.push_back(ending.outcome);
    result.crashSteps.push_back(ending.step);
    // Ended before its first request or after its last, by a time-out or
    // with a failure of its own: nothing more to learn from going on.
    const long reached = ending.progress;
    if (ending.returned || ending.timedOut || reached < static_cast<long>(first) ||
        reached >= static_cast<long>(count))
      break;
    result.answered += static_cast<std::size_t>(reached) - first;
    first = static_cast<std::size_t>(reached) + 1;
  }
  return result;
}

Outcome summarise(const SeriesResult& result) {
  Outcome summary;
  for (std::size_t i = 0; i < result.crashes.size(); ++i) {
    summary.verdict = std::max(summary.verdict, result.crashes[i].verdict);
    if (i == 0) {
      summary.detail = result.crashes[i].detail;
    } else {
      summary.detail += (i == 1 ? "; crashed also while " : ", ") + result.crashSteps[i];
    }
  }
  summary.detail += "; " + std::to_string(result.answered) + " other requests answered";
  return summary;
}

bool displayPresent() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* value = std::getenv(variable); value != nullptr && value[0] != '\0') return true;
  return false;
}

std::size_t frames(const CheckContext& context, std::size_t full) { return context.quick ? full / 4 : full; }

} // namespace tandrel::check
