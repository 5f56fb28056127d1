// The checks of the audio a module produces: call sizes, independence from
// them, in-place buffers, finite and subnormal output, latency and
// determinism.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "checks.hpp"
#include "child_process.hpp"

namespace tandrel::check {

namespace {

constexpr std::size_t oneSecond = 48000;
// Renders that should agree may differ by rounding this small (full scale 1).
constexpr double roundingTolerance = 1e-6;

// The sample the guard regions behind each buffer hold: a NaN with a payload
// no arithmetic produces.
constexpr std::uint32_t guardBits = 0x7fa5a5a5u;
constexpr std::size_t guardSamples = 64;

struct GuardedChannels {
  Channels buffers;
  std::vector<float*> pointers;
  GuardedChannels(int channels, std::size_t frames, std::uint32_t seed) {
    buffers = noise(channels, frames + guardSamples, seed);
    for (auto& buffer : buffers) {
      std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(frames), buffer.end(),
                std::bit_cast<float>(guardBits));
      pointers.push_back(buffer.data());
    }
  }
  // The first channel whose guard was written, or -1.
  int overrunChannel() const {
    for (std::size_t c = 0; c < buffers.size(); ++c)
      for (std::size_t i = buffers[c].size() - guardSamples; i < buffers[c].size(); ++i)
        if (std::bit_cast<std::uint32_t>(buffers[c][i]) != guardBits) return static_cast<int>(c);
    return -1;
  }
};

std::string framesText(std::size_t frames) {
  return std::to_string(frames) + (frames == 1 ? " frame" : " frames");
}

} // namespace

static Outcome checkProcessSizes(const CheckContext& context) {
  CheckHost host(context.modulePath);
  auto instance = host.createRunning();
  const int inputs = instance->record().inputCount;
  const int outputs = instance->record().outputCount;
  const int repeats = context.quick ? 2 : 4;
  const std::vector<long> sizes = {0, 1, 7, 64, typicalCallSize, announcedBlockSize};
  for (const auto callSize : sizes) {
    const auto size = static_cast<std::size_t>(callSize);
    for (int repeat = 0; repeat < repeats; ++repeat) {
      GuardedChannels in(inputs, size, 11 + static_cast<std::uint32_t>(repeat));
      GuardedChannels out(outputs, size, 23);
      markStep("processing a call, frame count %ld", static_cast<long>(size));
      instance->processReplacing(in.pointers.data(), out.pointers.data(), static_cast<std::int32_t>(size));
      if (const int channel = out.overrunChannel(); channel >= 0)
        return failed("wrote past the end of output " + std::to_string(channel) + " in a call of " +
                      framesText(size));
      if (const int channel = in.overrunChannel(); channel >= 0)
        return failed("wrote past the end of input " + std::to_string(channel) + " in a call of " +
                      framesText(size));
    }
  }
  host.stopAndClose(instance);
  return passed("calls of " + listText(sizes) + " frames (the last the announced block size), " +
                std::to_string(repeats) + " each, stay within their buffers");
}

static Outcome checkBlockIndependence(const CheckContext& context) {
  CheckHost host(context.modulePath);
  auto fixed = host.createRunning();
  const Channels input = programme(fixed->record().inputCount, frames(context, 2 * oneSecond), 5);
  const Channels expected = render(*fixed, input, fixedCalls(typicalCallSize));
  host.stopAndClose(fixed);
  auto varied = host.createRunning();
  const Channels got = render(*varied, input, randomCalls(announcedBlockSize, 77));
  host.stopAndClose(varied);
  const Difference difference = compare(expected, got);
  const std::string calls = "calls of " + std::to_string(typicalCallSize) + " frames and of 1 to " +
                            std::to_string(announcedBlockSize) + " frames";
  if (difference.identical) return passed(calls + " give identical output");
  if (difference.largest <= roundingTolerance)
    return passed(calls + " give the same output within rounding (" + describe(difference) + ")");
  return failed(calls + " give other output: " + describe(difference));
}

static Outcome checkInPlace(const CheckContext& context) {
  CheckHost host(context.modulePath);
  auto separate = host.createRunning();
  const Channels input = programme(separate->record().inputCount, frames(context, oneSecond), 9);
  const Channels expected = render(*separate, input, fixedCalls(typicalCallSize));
  host.stopAndClose(separate);
  auto shared = host.createRunning();
  const Channels got = render(*shared, input, fixedCalls(typicalCallSize), true);
  host.stopAndClose(shared);
  const Difference difference = compare(expected, got);
  if (difference.identical) return passed("outputs in the inputs' buffers give identical output");
  return warned("outputs in the inputs' buffers give other output: " + describe(difference));
}

namespace {

struct TestSignal {
  const char* name;
  Channels samples;
};

std::vector<TestSignal> finiteInputs(int channels, std::size_t length) {
  return {{"silence", silence(channels, length)},
          {"full-scale noise", noise(channels, length, 3)},
          {"impulses", impulses(channels, length, 4801)}};
}

} // namespace

static Outcome checkFiniteOutput(const CheckContext& context) {
  CheckHost host(context.modulePath);
  std::size_t samples = 0;
  std::vector<TestSignal> signals;
  for (int s = 0; s < 3; ++s) {
    auto instance = host.createRunning();
    if (signals.empty()) signals = finiteInputs(instance->record().inputCount, frames(context, oneSecond));
    const Channels output =
        render(*instance, signals[static_cast<std::size_t>(s)].samples, fixedCalls(typicalCallSize));
    host.stopAndClose(instance);
    for (std::size_t c = 0; c < output.size(); ++c) {
      for (std::size_t i = 0; i < output[c].size(); ++i) {
        if (std::isfinite(output[c][i])) continue;
        return failed(std::string(std::isnan(output[c][i]) ? "NaN" : "infinity") + " at output " +
                      std::to_string(c) + " frame " + std::to_string(i) + " for " +
                      signals[static_cast<std::size_t>(s)].name);
      }
      samples += output[c].size();
    }
  }
  return passed(std::to_string(samples) +
                " output samples for silence, full-scale noise and impulses: all finite");
}

static Outcome checkSubnormalOutput(const CheckContext& context) {
  CheckHost host(context.modulePath);
  auto instance = host.createRunning();
  // Sound that stops: decaying tails are where subnormal numbers appear.
  const std::size_t length = frames(context, 2 * oneSecond);
  Channels input = programme(instance->record().inputCount, length, 13);
  for (auto& channel : input)
    std::fill(channel.begin() + static_cast<std::ptrdiff_t>(length / 4), channel.end(), 0.0f);
  const Channels output = render(*instance, input, fixedCalls(typicalCallSize));
  host.stopAndClose(instance);
  std::size_t subnormal = 0, total = 0;
  for (const auto& channel : output) {
    total += channel.size();
    subnormal += static_cast<std::size_t>(std::count_if(
        channel.begin(), channel.end(), [](float s) { return std::fpclassify(s) == FP_SUBNORMAL; }));
  }
  const std::string counted = std::to_string(subnormal) + " of " + std::to_string(total) +
                              " output samples subnormal after sound stops";
  // Many subnormal samples slow down whatever processes them next.
  if (subnormal * 1000 > total) return warned(counted);
  return passed(counted);
}

namespace {

constexpr std::size_t settleFrames = 8192;
constexpr std::size_t responseFrames = 32768;
constexpr std::size_t longestMeasuredDelay = 8192;
constexpr std::size_t correlationFrames = 16384;
constexpr int inputsTried = 8;

struct Measurement {
  bool measured = false;
  long delay = 0;
  int input = 0;
};

// Output sample with the largest magnitude after an impulse on one input.
Measurement impulseDelay(CheckHost& host, int input) {
  auto instance = host.createRunning();
  Channels signal = silence(instance->record().inputCount, settleFrames + responseFrames);
  signal[static_cast<std::size_t>(input)][settleFrames] = 1.0f;
  const Channels output = render(*instance, signal, fixedCalls(typicalCallSize));
  host.stopAndClose(instance);
  Measurement found{false, 0, input};
  float peak = 1e-4f; // below this, nothing came through
  for (const auto& channel : output)
    for (std::size_t i = settleFrames; i < channel.size(); ++i)
      if (std::fabs(channel[i]) > peak) {
        peak = std::fabs(channel[i]);
        found = {true, static_cast<long>(i - settleFrames), input};
      }
  return found;
}

// The lag at which the output follows noise on one input most closely.
Measurement correlationDelay(CheckHost& host, int input) {
  auto instance = host.createRunning();
  const std::size_t length = settleFrames + correlationFrames + longestMeasuredDelay;
  Channels signal = silence(instance->record().inputCount, length);
  signal[static_cast<std::size_t>(input)] = noise(1, length, 41, 0.5f)[0];
  const Channels output = render(*instance, signal, fixedCalls(typicalCallSize));
  host.stopAndClose(instance);
  const auto& x = signal[static_cast<std::size_t>(input)];
  Measurement found{false, 0, input};
  double best = 0.0;
  for (const auto& y : output) {
    double energy = 0.0, xEnergy = 0.0;
    for (std::size_t t = settleFrames; t < settleFrames + correlationFrames; ++t)
      xEnergy += static_cast<double>(x[t]) * x[t];
    for (std::size_t t = settleFrames; t < length; ++t)
      energy += static_cast<double>(y[t]) * y[t];
    if (energy <= 0.0) continue;
    for (std::size_t lag = 0; lag < longestMeasuredDelay; ++lag) {
      double sum = 0.0;
      for (std::size_t t = settleFrames; t < settleFrames + correlationFrames; ++t)
        sum += static_cast<double>(x[t]) * y[t + lag];
      const double strength = std::fabs(sum) / std::sqrt(xEnergy * energy);
      if (strength > best) {
        best = strength;
        found = {strength > 0.1, static_cast<long>(lag), input};
      }
    }
  }
  return found;
}

struct ReportedDelay {
  long frames;
  int inputs; // those tried
};

// The initial delay as the record shows it once processing has begun: a
// module may set it when it knows the sample rate and tell the host then.
ReportedDelay reportedDelay(CheckHost& host) {
  auto instance = host.createRunning();
  render(*instance, silence(instance->record().inputCount, settleFrames), fixedCalls(typicalCallSize));
  const ReportedDelay reported{instance->record().initialDelay,
                               std::min(instance->record().inputCount, inputsTried)};
  host.stopAndClose(instance);
  return reported;
}

} // namespace

static Outcome checkLatency(const CheckContext& context) {
  CheckHost host(context.modulePath);
  const ReportedDelay reported = reportedDelay(host);
  const int inputs = reported.inputs;
  const std::string claim = "the reported initial delay is " + std::to_string(reported.frames);
  Measurement impulse, correlation;
  for (int input = 0; input < inputs && !impulse.measured; ++input)
    impulse = impulseDelay(host, input);
  if (impulse.measured && impulse.delay == reported.frames)
    return passed("an impulse on input " + std::to_string(impulse.input) + " peaks " +
                  std::to_string(reported.frames) + " frames later: " + claim);
  for (int input = 0; input < inputs && !correlation.measured; ++input)
    correlation = correlationDelay(host, input);
  if (correlation.measured && correlation.delay == reported.frames)
    return passed("noise on input " + std::to_string(correlation.input) + " comes out " +
                  std::to_string(reported.frames) + " frames later: " + claim);
  if (!impulse.measured && !correlation.measured)
    return passed("not measured: neither an impulse nor noise on any input reaches an output; " + claim);
  std::string measured;
  if (impulse.measured)
    measured = "an impulse on input " + std::to_string(impulse.input) + " peaks " +
               std::to_string(impulse.delay) + " frames later";
  if (correlation.measured)
    measured += (measured.empty() ? "" : ", ") + std::string("noise on input ") +
                std::to_string(correlation.input) + " comes out " + std::to_string(correlation.delay) +
                " frames later";
  return failed(measured + ", but " + claim);
}

static Outcome checkDeterminism(const CheckContext& context) {
  CheckHost host(context.modulePath);
  Channels outputs[2];
  for (Channels& output : outputs) {
    auto instance = host.createRunning();
    output = render(*instance, programme(instance->record().inputCount, frames(context, oneSecond), 17),
                    fixedCalls(typicalCallSize));
    host.stopAndClose(instance);
  }
  const Difference difference = compare(outputs[0], outputs[1]);
  if (difference.identical) return passed("two fresh instances give identical output for the same input");
  return failed("two fresh instances give other output for the same input: " + describe(difference));
}

std::vector<CheckDefinition> audioChecks() {
  using std::chrono::seconds;
  return {
      {"process-sizes", "calls of 0 frames up to the announced block size, with guards behind every buffer",
       Loading::needed, checkProcessSizes, seconds(30)},
      {"block-independence", "the same audio in calls of one size and of random sizes gives the same output",
       Loading::needed, checkBlockIndependence, seconds(60)},
      {"in-place", "outputs in the inputs' buffers give the same output", Loading::needed, checkInPlace,
       seconds(60)},
      {"finite-output", "silence, full-scale noise and impulses give no NaN or infinity", Loading::needed,
       checkFiniteOutput, seconds(60)},
      {"subnormal-output", "counts subnormal output samples after the sound stops", Loading::needed,
       checkSubnormalOutput, seconds(60)},
      {"latency", "the delay measured after an impulse or by correlation against the reported initial delay",
       Loading::needed, checkLatency, seconds(90)},
      {"determinism", "two fresh instances give the same output for the same input", Loading::needed,
       checkDeterminism, seconds(60)},
  };
}

} // namespace tandrel::check
