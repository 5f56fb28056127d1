// The checks of the audio a module produces: call sizes, independence from
// them, in-place buffers, finite and subnormal output, latency and
// determinism.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "checks.hpp"
#include "child_process.hpp"
#include "host/channel_buffers.hpp"

namespace tandrel::check {

namespace {

using std::chrono::seconds;

constexpr std::size_t oneSecond = 48000;

// The sample the guard regions behind each buffer hold: a NaN with a payload
// no arithmetic produces.
constexpr std::uint32_t guardBits = 0x7fa5a5a5u;
constexpr std::size_t guardSamples = 64;

// Noise in every channel, each followed by guardSamples guard samples.
struct GuardedChannels {
  host::ChannelBuffers buffers;
  std::size_t frames;
  GuardedChannels(int channels, std::size_t frameCount, std::uint32_t seed)
      : buffers(std::max(channels, 0), frameCount + guardSamples), frames(frameCount) {
    const Channels samples = noise(buffers.channelCount(), frames, seed);
    for (int c = 0; c < buffers.channelCount(); ++c) {
      std::copy(samples[static_cast<std::size_t>(c)].begin(), samples[static_cast<std::size_t>(c)].end(),
                buffers.channel(c));
      std::fill_n(buffers.channel(c) + frames, guardSamples, std::bit_cast<float>(guardBits));
    }
  }
  float** pointers() { return buffers.pointers(); }
  // The first channel whose guard was written, or -1.
  int overrunChannel() const {
    for (int c = 0; c < buffers.channelCount(); ++c)
      for (std::size_t i = frames; i < frames + guardSamples; ++i)
        if (std::bit_cast<std::uint32_t>(buffers.channel(c)[i]) != guardBits) return c;
    return -1;
  }
};

std::string framesText(std::size_t frames) {
  return std::to_string(frames) + (frames == 1 ? " frame" : " frames");
}

Outcome checkProcessSizes(const CheckContext& context) {
  ModuleUnderCheck host(context);
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
      instance->processReplacing(in.pointers(), out.pointers(), static_cast<std::int32_t>(size));
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

// Output of calls of other sizes may differ by rounding, which scales with the
// signal. A sample differs when its gap exceeds relativeTolerance (about
// -100 dB) of the expected output's level around it (the peak of its block
// of levelBlock frames and the two beside it, with a floor at levelFloor of
// the channel's peak, so that quiet tails do not magnify rounding); those
// samples give the span reported. The verdict weighs the whole difference:
// rounding, even amplified by a steep gain curve or a resonant filter, stays
// more than roundingNoiseDecibels below the output (RMS over the render,
// about 3e-5), where a gain off by 1e-4 is 80 dB below and a misplaced
// sample far less.
constexpr double relativeTolerance = 1e-5;
constexpr std::size_t levelBlock = 256;
constexpr double levelFloor = 1e-2;
constexpr double roundingNoiseDecibels = 90.0;
// Differences that end within the first half second are start-up: a module
// that settles (a fade-in, a filter's first state, a delay line filling) by
// the size of its first calls.
constexpr std::size_t startUpFrames = oneSecond / 2;
// A difference that fades (a reverb carrying what its first calls did) is
// followed over a longer render: start-up too when it has gone, within
// rounding, for the last second of it.
constexpr std::size_t settlingFrames = 10 * oneSecond;
constexpr double fadingDecibels = 20.0; // last quarter against the first
// Rounding that a module's filters amplify (a low crossover, a resonance)
// starts as rounding: the first roundingOriginFrames frames from the first
// differing sample differ by at most relativeTolerance of the level. It
// passes while it stays amplifiedRoundingDecibels below the output.
constexpr std::size_t roundingOriginFrames = 64;
constexpr double amplifiedRoundingDecibels = 60.0;

// How two renders differ beyond rounding, relative to the expected level.
struct Divergence {
  bool any = false;
  bool nanAgainstNumber = false;
  std::size_t channel = 0, first = 0, last = 0; // frames of the first and last difference
  double largestGap = 0.0, largestRelative = 0.0;
  double differenceEnergy = 0.0, signalEnergy = 0.0; // over every channel and frame
  // The difference's level against the output's, in dB (RMS over the render).
  double decibelsBelow() const {
    return differenceEnergy > 0.0 ? 10.0 * std::log10(signalEnergy / differenceEnergy) : 999.0;
  }
};

std::vector<double> localLevels(const std::vector<float>& channel) {
  const std::size_t blocks = (channel.size() + levelBlock - 1) / levelBlock;
  std::vector<double> peaks(blocks, 0.0);
  double channelPeak = 0.0;
  for (std::size_t i = 0; i < channel.size(); ++i)
    if (std::isfinite(channel[i])) {
      peaks[i / levelBlock] = std::max(peaks[i / levelBlock], static_cast<double>(std::fabs(channel[i])));
      channelPeak = std::max(channelPeak, static_cast<double>(std::fabs(channel[i])));
    }
  std::vector<double> levels(blocks);
  for (std::size_t b = 0; b < blocks; ++b) {
    const double near = std::max({peaks[b], b > 0 ? peaks[b - 1] : 0.0, b + 1 < blocks ? peaks[b + 1] : 0.0});
    levels[b] = std::max({near, levelFloor * channelPeak, std::numeric_limits<double>::min()});
  }
  return levels;
}

Divergence diverge(const Channels& expected, const Channels& got) {
  Divergence found;
  for (std::size_t c = 0; c < std::min(expected.size(), got.size()); ++c) {
    const std::vector<double> levels = localLevels(expected[c]);
    for (std::size_t i = 0; i < std::min(expected[c].size(), got[c].size()); ++i) {
      const float x = expected[c][i], y = got[c][i];
      if (std::isfinite(x)) found.signalEnergy += static_cast<double>(x) * x;
      if (x == y || (std::isnan(x) && std::isnan(y))) continue;
      const double gap = std::fabs(static_cast<double>(x) - static_cast<double>(y));
      if (std::isfinite(gap)) found.differenceEnergy += gap * gap;
      const bool nan = std::isnan(gap) || std::isinf(gap);
      const double relative = nan ? std::numeric_limits<double>::infinity() : gap / levels[i / levelBlock];
      if (relative <= relativeTolerance) continue;
      if (!found.any || i < found.first) {
        found.channel = c;
        found.first = i;
      }
      found.any = true;
      found.nanAgainstNumber = found.nanAgainstNumber || nan;
      found.last = std::max(found.last, i);
      if (!nan) found.largestGap = std::max(found.largestGap, gap);
      found.largestRelative = std::max(found.largestRelative, relative);
    }
  }
  return found;
}

// Whether the renders' first differences are rounding: every channel, in
// the roundingOriginFrames frames from the earliest differing sample of any
// channel, differs by at most relativeTolerance of its level there.
bool startsAsRounding(const Channels& expected, const Channels& got) {
  std::size_t first = std::numeric_limits<std::size_t>::max();
  for (std::size_t c = 0; c < std::min(expected.size(), got.size()); ++c)
    for (std::size_t i = 0; i < std::min({expected[c].size(), got[c].size(), first}); ++i)
      if (expected[c][i] != got[c][i]) {
        first = i;
        break;
      }
  for (std::size_t c = 0; c < std::min(expected.size(), got.size()); ++c) {
    const std::vector<double> levels = localLevels(expected[c]);
    for (std::size_t i = first;
         i < std::min({expected[c].size(), got[c].size(), first + roundingOriginFrames}); ++i) {
      const double gap = std::fabs(static_cast<double>(expected[c][i]) - static_cast<double>(got[c][i]));
      if (!(gap <= relativeTolerance * levels[i / levelBlock])) return false;
    }
  }
  return true;
}

// How far the difference energy of the last quarter of the renders lies
// below that of the first quarter, in dB (0 when the first is silent).
double fadingBy(const Channels& expected, const Channels& got) {
  double firstQuarter = 0.0, lastQuarter = 0.0;
  for (std::size_t c = 0; c < std::min(expected.size(), got.size()); ++c) {
    const std::size_t length = std::min(expected[c].size(), got[c].size());
    for (std::size_t i = 0; i < length; ++i) {
      const double gap = static_cast<double>(expected[c][i]) - static_cast<double>(got[c][i]);
      if (!std::isfinite(gap)) return 0.0;
      if (i < length / 4) firstQuarter += gap * gap;
      if (i >= length - length / 4) lastQuarter += gap * gap;
    }
  }
  if (firstQuarter <= 0.0) return 0.0;
  return lastQuarter <= 0.0 ? 999.0 : 10.0 * std::log10(firstQuarter / lastQuarter);
}

std::string millisecondsText(std::size_t frames) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", 1000.0 * static_cast<double>(frames) / checkSampleRate);
  return text;
}

std::string describe(const Divergence& d) {
  char text[320];
  std::snprintf(
      text, sizeof text,
      "output %zu differs from frame %zu to %zu (%s to %s), by up to %.3g (%.3g of the level there; "
      "the difference %.0f dB below the output)",
      d.channel, d.first, d.last, millisecondsText(d.first).c_str(), millisecondsText(d.last).c_str(),
      d.largestGap, d.largestRelative, d.decibelsBelow());
  return d.nanAgainstNumber ? std::string(text) + ", NaN or infinity against a number" : std::string(text);
}

// What a render was played besides its input, for a check's detail.
const char* withNotes(const ModuleUnderCheck& host) { return host.takesNotes() ? ", with notes" : ""; }

// A module without inputs that gives no sound, even with the note phrase
// when it takes notes: comparing its outputs would pass on silence alone.
std::string soundlessWithoutInputs(const ModuleUnderCheck& host) {
  return host.takesNotes() ? "not applicable: no inputs and no sound, even with notes"
                           : "not applicable: no inputs, takes no notes and gives no sound";
}

bool soundless(const Channels& output) {
  return std::all_of(output.begin(), output.end(), [](const std::vector<float>& channel) {
    return std::all_of(channel.begin(), channel.end(), [](float sample) { return sample == 0.0f; });
  });
}

// The output of a fresh instance for `frames` frames of the programme, in
// calls of typicalCallSize frames or of random sizes.
Channels renderProgramme(ModuleUnderCheck& host, std::size_t frames, bool randomSizes) {
  auto instance = host.createRunning();
  const Channels input = programme(instance->record().inputCount, frames, 5);
  const Channels output =
      render(*instance, input,
             randomSizes ? randomCalls(announcedBlockSize, 77) : fixedCalls(typicalCallSize), false, frames);
  host.stopAndClose(instance);
  return output;
}

// A difference beyond rounding that fades within the first seconds: the
// renders again over settlingFrames, the difference judged in them.
Outcome judgeFading(ModuleUnderCheck& host, const std::string& calls) {
  const Channels expected = renderProgramme(host, settlingFrames, false);
  const Channels got = renderProgramme(host, settlingFrames, true);
  const Divergence divergence = diverge(expected, got);
  if (!divergence.any) return passed(calls + " give the same output within rounding over 10 s");
  if (!divergence.nanAgainstNumber && divergence.last + oneSecond < settlingFrames)
    return warned(calls + " differ at the start only (a difference that fades): " + describe(divergence));
  return failed(calls + " give other output: " + describe(divergence));
}

// Judged only where the module is deterministic: when two fresh instances
// given the same calls already differ (a generator random by design, dither),
// calls of other sizes cannot be told apart from that, and determinism
// reports it.
Outcome checkBlockIndependence(const CheckContext& context) {
  ModuleUnderCheck host(context);
  const Channels expected = renderProgramme(host, 2 * oneSecond, false);
  if (soundless(expected) && host.create()->record().inputCount <= 0)
    return skipped(soundlessWithoutInputs(host));
  const std::string calls = "calls of " + std::to_string(typicalCallSize) + " frames and of 1 to " +
                            std::to_string(announcedBlockSize) + " frames" +
                            (host.takesNotes() ? " (with notes at the same frames)" : "");
  if (!compare(expected, renderProgramme(host, 2 * oneSecond, false)).identical)
    return skipped(
        "not applicable: two fresh instances given the same calls already differ (see determinism)");
  const Channels got = renderProgramme(host, 2 * oneSecond, true);
  const Difference exact = compare(expected, got);
  if (exact.identical) return passed(calls + " give identical output");
  const Divergence divergence = diverge(expected, got);
  if (!divergence.any)
    return passed(calls + " give the same output within rounding (" + describe(exact) +
                  ", within 1e-5 of the level)");
  if (divergence.nanAgainstNumber) return failed(calls + " give other output: " + describe(divergence));
  if (divergence.decibelsBelow() >= roundingNoiseDecibels)
    return passed(calls + " give the same output within rounding noise: " + describe(divergence));
  if (divergence.last < startUpFrames)
    return warned(calls + " differ at the start only: " + describe(divergence));
  if (divergence.decibelsBelow() >= amplifiedRoundingDecibels && startsAsRounding(expected, got))
    return passed(calls + " differ by rounding that the module amplifies (the first " +
                  std::to_string(roundingOriginFrames) + " frames from the first difference within 1e-5 of " +
                  "the level): " + describe(divergence));
  if (fadingBy(expected, got) >= fadingDecibels) return judgeFading(host, calls);
  return failed(calls + " give other output: " + describe(divergence));
}

Outcome checkInPlace(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto separate = host.createRunning();
  if (separate->record().inputCount <= 0 || separate->record().outputCount <= 0) {
    host.stopAndClose(separate);
    return skipped("not applicable: no inputs or no outputs to share a buffer");
  }
  const std::size_t length = frames(context, oneSecond);
  const Channels input = programme(separate->record().inputCount, length, 9);
  const Channels expected = render(*separate, input, fixedCalls(typicalCallSize), false, length);
  host.stopAndClose(separate);
  auto shared = host.createRunning();
  const Channels got = render(*shared, input, fixedCalls(typicalCallSize), true, length);
  host.stopAndClose(shared);
  const Difference difference = compare(expected, got);
  if (difference.identical) return passed("outputs in the inputs' buffers give identical output");
  // Other output may come from the module's own randomness: then nothing is
  // learnt about the buffers.
  auto again = host.createRunning();
  const bool deterministic =
      compare(expected, render(*again, input, fixedCalls(typicalCallSize), false, length)).identical;
  host.stopAndClose(again);
  if (!deterministic)
    return skipped(
        "not applicable: two fresh instances with separate buffers already differ (see determinism)");
  return warned("outputs in the inputs' buffers give other output: " + describe(difference));
}

struct TestSignal {
  const char* name;
  Channels samples;
};

std::vector<TestSignal> finiteInputs(int channels, std::size_t length) {
  return {{"silence", silence(channels, length)},
          {"full-scale noise", noise(channels, length, 3)},
          {"impulses", impulses(channels, length, 4801)}};
}

Outcome checkFiniteOutput(const CheckContext& context) {
  ModuleUnderCheck host(context);
  std::size_t samples = 0;
  const std::size_t length = frames(context, oneSecond);
  std::vector<TestSignal> signals;
  for (int s = 0; s < 3; ++s) {
    auto instance = host.createRunning();
    if (signals.empty()) signals = finiteInputs(instance->record().inputCount, length);
    const Channels output = render(*instance, signals[static_cast<std::size_t>(s)].samples,
                                   fixedCalls(typicalCallSize), false, length);
    host.stopAndClose(instance);
    for (std::size_t c = 0; c < output.size(); ++c) {
      for (std::size_t i = 0; i < output[c].size(); ++i) {
        if (std::isfinite(output[c][i])) continue;
        return failed(std::string(std::isnan(output[c][i]) ? "NaN" : "infinity") + " at output " +
                      std::to_string(c) + " frame " + std::to_string(i) + " for " +
                      signals[static_cast<std::size_t>(s)].name + withNotes(host));
      }
      samples += output[c].size();
    }
  }
  return passed(std::to_string(samples) + " output samples for silence, full-scale noise and impulses" +
                withNotes(host) + ": all finite");
}

Outcome checkSubnormalOutput(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  // Sound that stops: decaying tails are where subnormal numbers appear.
  const std::size_t length = frames(context, 2 * oneSecond);
  Channels input = programme(instance->record().inputCount, length, 13);
  for (auto& channel : input)
    std::fill(channel.begin() + static_cast<std::ptrdiff_t>(length / 4), channel.end(), 0.0f);
  const Channels output = render(*instance, input, fixedCalls(typicalCallSize), false, length);
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

constexpr std::size_t settleFrames = 8192;
constexpr std::size_t responseFrames = 32768;
constexpr std::size_t longestMeasuredDelay = 8192;
constexpr std::size_t correlationFrames = 16384;
constexpr int inputsTried = 8;
constexpr std::size_t correlatedOutputs = 4;

// Below this, nothing came through.
constexpr float audibleLevel = 1e-4f;
// The response starts at the first sample above this share of its peak (and
// above the output's level before the impulse).
constexpr double onsetShare = 0.05;
// Output that follows noise this closely is a delayed copy of the input.
constexpr double copyStrength = 0.9;

struct ImpulseResponse {
  bool measured = false;
  int input = 0;
  long onset = 0; // frames after the impulse
  long peak = 0;
};

// The response of every output to an impulse on one input: where it starts
// and where it peaks.
ImpulseResponse impulseResponse(ModuleUnderCheck& host, int input) {
  auto instance = host.createRunning();
  Channels signal = silence(instance->record().inputCount, settleFrames + responseFrames);
  signal[static_cast<std::size_t>(input)][settleFrames] = 1.0f;
  const Channels output = render(*instance, signal, fixedCalls(typicalCallSize));
  host.stopAndClose(instance);
  ImpulseResponse found{false, input, 0, 0};
  float peak = audibleLevel, before = 0.0f;
  for (const auto& channel : output) {
    for (std::size_t i = settleFrames / 2; i < settleFrames; ++i)
      before = std::max(before, std::fabs(channel[i]));
    for (std::size_t i = settleFrames; i < channel.size(); ++i)
      if (std::fabs(channel[i]) > peak) {
        peak = std::fabs(channel[i]);
        found = {true, input, 0, static_cast<long>(i - settleFrames)};
      }
  }
  if (!found.measured) return found;
  const float threshold = std::max(static_cast<float>(onsetShare) * peak, 2.0f * before);
  found.onset = found.peak;
  for (const auto& channel : output)
    for (std::size_t i = settleFrames; i < settleFrames + static_cast<std::size_t>(found.onset); ++i)
      if (std::fabs(channel[i]) > threshold) {
        found.onset = static_cast<long>(i - settleFrames);
        break;
      }
  return found;
}

struct Measurement {
  bool measured = false;
  long delay = 0;
  int input = 0;
  double strength = 0.0; // normalised correlation at that lag, 0 to 1
};

// The outputs that carry sound from frame `from` on, loudest first, at most
// correlatedOutputs of them: the correlation costs a few hundred million
// multiplications an output, and a module with 64 outputs (most of them
// silent, or copies) must not spend its time limit there.
std::vector<std::size_t> loudestOutputs(const Channels& output, std::size_t from) {
  std::vector<std::pair<double, std::size_t>> energies;
  for (std::size_t o = 0; o < output.size(); ++o) {
    double energy = 0.0;
    for (std::size_t t = from; t < output[o].size(); ++t)
      energy += static_cast<double>(output[o][t]) * output[o][t];
    const double audible = static_cast<double>(audibleLevel) * audibleLevel;
    if (std::isfinite(energy) && energy > audible) energies.emplace_back(energy, o);
  }
  std::sort(energies.begin(), energies.end(), std::greater<>());
  std::vector<std::size_t> loudest;
  for (std::size_t i = 0; i < std::min(energies.size(), correlatedOutputs); ++i)
    loudest.push_back(energies[i].second);
  return loudest;
}

// The lag at which the output follows noise on one input most closely, and
// how closely.
Measurement correlationDelay(ModuleUnderCheck& host, int input) {
  auto instance = host.createRunning();
  const std::size_t length = settleFrames + correlationFrames + longestMeasuredDelay;
  Channels signal = silence(instance->record().inputCount, length);
  signal[static_cast<std::size_t>(input)] = noise(1, length, 41, 0.5f)[0];
  const Channels output = render(*instance, signal, fixedCalls(typicalCallSize));
  host.stopAndClose(instance);
  const auto& x = signal[static_cast<std::size_t>(input)];
  Measurement found{false, 0, input, 0.0};
  double xEnergy = 0.0;
  for (std::size_t t = settleFrames; t < settleFrames + correlationFrames; ++t)
    xEnergy += static_cast<double>(x[t]) * x[t];
  for (const std::size_t o : loudestOutputs(output, settleFrames)) {
    const auto& y = output[o];
    for (std::size_t lag = 0; lag < longestMeasuredDelay; ++lag) {
      double sum = 0.0, energy = 0.0;
      for (std::size_t t = settleFrames; t < settleFrames + correlationFrames; ++t) {
        sum += static_cast<double>(x[t]) * y[t + lag];
        energy += static_cast<double>(y[t + lag]) * y[t + lag];
      }
      if (energy <= 0.0 || !std::isfinite(energy)) continue;
      const double strength = std::fabs(sum) / std::sqrt(xEnergy * energy);
      if (strength > found.strength) found = {strength > 0.1, static_cast<long>(lag), input, strength};
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
ReportedDelay reportedDelay(ModuleUnderCheck& host) {
  auto instance = host.createRunning();
  render(*instance, silence(instance->record().inputCount, settleFrames), fixedCalls(typicalCallSize));
  const ReportedDelay reported{instance->record().initialDelay,
                               std::min(instance->record().inputCount, inputsTried)};
  host.stopAndClose(instance);
  return reported;
}

std::string responseText(const ImpulseResponse& response) {
  const std::string input = "an impulse on input " + std::to_string(response.input);
  if (response.onset == response.peak)
    return input + " peaks " + std::to_string(response.peak) + " frames later";
  return input + " starts " + std::to_string(response.onset) + " frames later and peaks at " +
         std::to_string(response.peak);
}

std::string correlationText(const Measurement& correlation) {
  char strength[16];
  std::snprintf(strength, sizeof strength, "%.2f", correlation.strength);
  return "noise on input " + std::to_string(correlation.input) + " comes out " +
         std::to_string(correlation.delay) + " frames later (correlation " + strength + ")";
}

// The reported delay is right when the impulse response starts or peaks
// there (an all-pass filter starts at its delay and peaks a frame later), or
// when noise comes out there. Otherwise it is wrong when the output is a
// delayed copy of the input (correlation of at least 0.9: a delay the host
// must know to align tracks), or when the response starts before the
// reported delay. A response that starts later and is no copy of the input
// (a wet-only reverb, a room's propagation time, a head-related filter) is
// reported and passes: there is nothing a host would compensate.
Outcome checkLatency(const CheckContext& context) {
  ModuleUnderCheck host(context);
  const ReportedDelay reported = reportedDelay(host);
  const int inputs = reported.inputs;
  const std::string claim = "the reported initial delay is " + std::to_string(reported.frames);
  if (inputs <= 0) return skipped("not applicable: no inputs; " + claim);
  ImpulseResponse impulse;
  Measurement correlation;
  for (int input = 0; input < inputs && !impulse.measured; ++input)
    impulse = impulseResponse(host, input);
  if (impulse.measured && (impulse.onset == reported.frames || impulse.peak == reported.frames))
    return passed(responseText(impulse) + ": " + claim);
  for (int input = 0; input < inputs && !correlation.measured; ++input)
    correlation = correlationDelay(host, input);
  if (correlation.measured && correlation.delay == reported.frames)
    return passed(correlationText(correlation) + ": " + claim);
  if (!impulse.measured && !correlation.measured)
    return passed("not measured: neither an impulse nor noise on any input reaches an output; " + claim);
  std::string measured = impulse.measured ? responseText(impulse) : std::string();
  if (correlation.measured) measured += (measured.empty() ? "" : ", ") + correlationText(correlation);
  const bool copy = correlation.measured && correlation.strength >= copyStrength;
  const bool early = impulse.measured && impulse.onset < reported.frames;
  if (copy || early || !impulse.measured) return failed(measured + ", but " + claim);
  return passed(measured + ": later than the reported delay of " + std::to_string(reported.frames) +
                " and no delayed copy of the input (a wet or travelling response), nothing to compensate");
}

Outcome checkDeterminism(const CheckContext& context) {
  ModuleUnderCheck host(context);
  Channels outputs[2];
  for (Channels& output : outputs) {
    auto instance = host.createRunning();
    const std::size_t length = frames(context, oneSecond);
    output = render(*instance, programme(instance->record().inputCount, length, 17),
                    fixedCalls(typicalCallSize), false, length);
    host.stopAndClose(instance);
  }
  const Difference difference = compare(outputs[0], outputs[1]);
  if (difference.identical && soundless(outputs[0]) && host.create()->record().inputCount <= 0)
    return skipped(soundlessWithoutInputs(host));
  if (difference.identical)
    return passed(std::string("two fresh instances give identical output for the same input") +
                  withNotes(host));
  return failed(std::string("two fresh instances give other output for the same input") + withNotes(host) +
                ": " + describe(difference));
}

// The rows of this file's checks, in the order they run.
constexpr CheckDefinition rows[] = {
    {"process-sizes", "calls of 0 frames up to the announced block size, with guards behind every buffer",
     checkProcessSizes, seconds(30)},
    {"determinism", "two fresh instances give the same output for the same input", checkDeterminism},
    {"block-independence",
     "calls of one size and of random sizes give the same output (judged when deterministic)",
     checkBlockIndependence},
    {"in-place", "outputs in the inputs' buffers give the same output", checkInPlace},
    {"finite-output", "silence, full-scale noise and impulses give no NaN or infinity", checkFiniteOutput},
    {"subnormal-output", "counts subnormal output samples after the sound stops", checkSubnormalOutput},
    {"latency", "the delay measured after an impulse or by correlation against the reported initial delay",
     checkLatency, seconds(90)},
};

} // namespace

constinit const CheckRows audioChecks = rows;

} // namespace tandrel::check
