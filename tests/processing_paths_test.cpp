// Every processing kernel that this processor runs, against the per-frame
// reference, over hostile signals; the guarantees that hold whatever the
// values; broken hosts; and processing that obtains no memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "allocation_control.hpp"
#include "effect/tandrel_effect.hpp"
#include "reference_ducker.hpp"
#include "signal_values.hpp"

namespace {

using namespace tandrel::test;
using tandrel::TandrelEffect;
using tandrel::test::nan;
namespace ducking = tandrel::ducking;

// Control and audio samples that exercise every comparison and rounding rule:
// ordinary values, quiet passages, signed zeros, subnormals, huge values,
// infinities and NaN, and passages of negative samples only.
Signal hostileSignal(std::size_t frames, std::mt19937& generator, bool withSpecials) {
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_int_distribution<int> pick(0, 99);
  const float specials[] = {0.0f,
                            -0.0f,
                            1e-40f,
                            -1e-40f,
                            std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::min(),
                            3e38f,
                            -3e38f,
                            inf,
                            -inf,
                            nan};
  Signal signal(frames);
  float scale = 1.0f;
  bool negativeOnly = false;
  for (std::size_t i = 0; i < frames; ++i) {
    if (i % 500 == 0) {
      scale = std::pow(10.0f, -static_cast<float>(pick(generator) % 40));
      negativeOnly = pick(generator) < 20;
    }
    float sample = unit(generator) * scale;
    if (negativeOnly) sample = -std::fabs(sample);
    if (withSpecials && pick(generator) == 0)
      sample = specials[static_cast<std::size_t>(pick(generator)) % std::size(specials)];
    signal[i] = sample;
  }
  return signal;
}

// Parameter values a host may send, the hostile ones included.
float hostileParameter(std::mt19937& generator) {
  std::uniform_int_distribution<int> pick(0, 19);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float specials[] = {0.0f, -0.0f, 1.0f, 0.5f, -0.25f, 1.5f, 1e30f, -1e30f, inf, -inf, nan, 1e-40f};
  const int choice = pick(generator);
  return choice < 8 ? unit(generator) : specials[static_cast<std::size_t>(choice) % std::size(specials)];
}

::testing::AssertionResult sameBits(const Signal& actual, const Signal& expected, std::size_t offset = 0) {
  for (std::size_t i = 0; i < actual.size(); ++i)
    if (std::bit_cast<std::uint32_t>(actual[i]) != std::bit_cast<std::uint32_t>(expected[i]))
      return ::testing::AssertionFailure()
             << "frame " << offset + i << ": " << actual[i] << " instead of " << expected[i];
  return ::testing::AssertionSuccess();
}

std::vector<int> kernelsThatRunHere() {
  std::vector<int> indices;
  for (int i = 0; i < ducking::kernelCount(); ++i)
    if (ducking::kernelRunsHere(i)) indices.push_back(i);
  return indices;
}

class KernelTest : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override { effect.useKernel(ducking::kernelAt(GetParam())); }
  TandrelEffect effect{nullptr};
};

struct Scenario {
  bool hostile; // specials in signals and parameters
  bool inPlace;
  // Calls mostly of 0 to 20 frames (a host splitting its cycle at
  // automation points), between calls of up to 300: every narrow path of a
  // kernel, ending blocks and following its wide vectors.
  bool shortCalls = false;
};

// Picks each call's kernel at random among those that run here.
constexpr int everyKernelInTurn = -1;

// A fresh effect with the kernel under test against a fresh reference.
void runAgainstReference(int kernel, std::uint32_t seed, Scenario scenario) {
  TandrelEffect effect{nullptr};
  const std::vector<int> runnable = kernelsThatRunHere();
  if (kernel != everyKernelInTurn) effect.useKernel(ducking::kernelAt(kernel));
  std::mt19937 generator(seed);
  const std::size_t frames = 300000;
  const Signal input0 = hostileSignal(frames, generator, scenario.hostile);
  const Signal input1 = hostileSignal(frames, generator, scenario.hostile);
  tandrel::test::ReferenceDucker reference;
  Signal expected(frames), work0 = input0, work1 = input1, out0(frames), out1(frames);
  std::uniform_int_distribution<int> callSize(0, 20000), small(0, 300), tiny(0, 20), coin(0, 9);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);

  for (std::size_t done = 0; done < frames;) {
    const int size = scenario.shortCalls   ? (coin(generator) < 8 ? tiny(generator) : small(generator))
                     : coin(generator) < 5 ? small(generator)
                                           : callSize(generator);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), frames - done);
    if (coin(generator) < 3) {
      const float ratio = scenario.hostile ? hostileParameter(generator) : unit(generator);
      const float source = scenario.hostile ? hostileParameter(generator) : unit(generator);
      effect.setParameter(1, ratio);
      effect.setParameter(0, source);
      reference.ratio = ratio;
      reference.source = source;
    }
    reference.process(input0.data() + done, input1.data() + done, expected.data() + done,
                      static_cast<std::int32_t>(n));
    float* inputs[2] = {work0.data() + done, work1.data() + done};
    float* separate[2] = {out0.data() + done, out1.data() + done};
    if (kernel == everyKernelInTurn)
      effect.useKernel(
          ducking::kernelAt(runnable[static_cast<std::size_t>(coin(generator)) % runnable.size()]));
    effect.processAudio(inputs, scenario.inPlace ? inputs : separate, static_cast<std::int32_t>(n));
    done += n;
  }
  if (scenario.inPlace) {
    out0 = work0;
    out1 = work1;
  }
  EXPECT_TRUE(sameBits(out0, expected));
  EXPECT_TRUE(sameBits(out1, expected));
}

TEST_P(KernelTest, MatchesTheReferenceWithinTheContract) {
  runAgainstReference(GetParam(), 11, {false, false});
  runAgainstReference(GetParam(), 12, {false, true});
}

TEST_P(KernelTest, MatchesTheReferenceWithHostileValues) {
  runAgainstReference(GetParam(), 21, {true, false});
  runAgainstReference(GetParam(), 22, {true, true});
}

TEST_P(KernelTest, MatchesTheReferenceInShortCalls) {
  runAgainstReference(GetParam(), 31, {true, false, true});
  runAgainstReference(GetParam(), 32, {true, true, true});
}

// Whatever the parameters and the control, finite audio comes out finite,
// never louder than it went in (256 frames earlier), and the same on both
// outputs.
TEST_P(KernelTest, GainStaysWithinZeroAndOneWhateverTheValues) {
  std::mt19937 generator(31);
  const std::size_t frames = 100000;
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (int round = 0; round < 8; ++round) {
    TandrelEffect fresh{nullptr};
    fresh.useKernel(ducking::kernelAt(GetParam()));
    Signal audio(frames);
    for (float& sample : audio)
      sample = unit(generator) * 1e30f * std::pow(10.0f, -float(round * 9));
    Signal control = hostileSignal(frames, generator, true);
    Signal out0(frames), out1(frames);
    for (std::size_t done = 0; done < frames; done += 1000) {
      fresh.setParameter(1, hostileParameter(generator));
      fresh.setParameter(0, 0.75f); // audio on input 0
      float* inputs[2] = {audio.data() + done, control.data() + done};
      float* outputs[2] = {out0.data() + done, out1.data() + done};
      fresh.processAudio(inputs, outputs, 1000);
    }
    for (std::size_t i = 0; i < frames; ++i) {
      const float delayedInput = i >= 256 ? audio[i - 256] : 0.0f;
      ASSERT_TRUE(std::isfinite(out0[i])) << "frame " << i;
      ASSERT_LE(std::fabs(out0[i]), std::fabs(delayedInput)) << "frame " << i;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(out0[i]), std::bit_cast<std::uint32_t>(out1[i]))
          << "frame " << i;
    }
  }
}

TEST_P(KernelTest, RatioZeroWithAnInfiniteControlKeepsUnityGain) {
  effect.setParameter(1, 0.0f);
  Signal audio(1024, 0.5f), control(1024, inf), out0(1024), out1(1024);
  float* inputs[2] = {audio.data(), control.data()};
  float* outputs[2] = {out0.data(), out1.data()};
  effect.processAudio(inputs, outputs, 1024);
  for (std::size_t i = 256; i < 1024; ++i)
    ASSERT_EQ(out0[i], 0.5f) << "frame " << i;
}

// Processes audio on input 0 and control on input 1 in calls whose sizes
// cycle through `sizes`; output 0 comes back (output 1 must equal it).
Signal processInCalls(TandrelEffect& effect, const Signal& audio, const Signal& control,
                      const std::vector<std::size_t>& sizes, bool inPlace = false) {
  Signal in0 = audio, in1 = control, out0(audio.size(), nan), out1(audio.size(), nan);
  for (std::size_t done = 0, call = 0; done < audio.size(); ++call) {
    const std::size_t n = std::min(sizes[call % sizes.size()], audio.size() - done);
    float* inputs[2] = {in0.data() + done, in1.data() + done};
    float* outputs[2] = {out0.data() + done, out1.data() + done};
    effect.processAudio(inputs, inPlace ? inputs : outputs, static_cast<std::int32_t>(n));
    done += n;
  }
  if (inPlace) {
    out0 = in0;
    out1 = in1;
  }
  EXPECT_TRUE(sameBits(out1, out0));
  return out0;
}

// The target gain that a block with peak `peak` sets:
// 1 - Ratio x peak x 4 in double precision, stored as a float, floored at 0;
// no reduction where that is not a gain (Ratio not a number or negative,
// 0 x infinity).
float blockTarget(float ratio, float peak) {
  if (std::isnan(ratio) || ratio < 0.0f || (ratio == 0.0f && std::isinf(peak)) ||
      (std::isinf(ratio) && peak == 0.0f))
    return 1.0f;
  const float target = static_cast<float>(1.0 - static_cast<double>(ratio) * static_cast<double>(peak) * 4.0);
  return target < 0.0f ? 0.0f : target;
}

// A Ratio above 1 ducks harder, unclamped: with audio 1.0 the output is the
// gain itself, so every frame is checked against the ramp between the
// blocks' targets, bit for bit.
TEST_P(KernelTest, RatioAboveOneFollowsTheUnclampedRuleBitForBit) {
  const float peaks[] = {0.0f,  1e-40f, 1e-6f, 0.01f, 0.1f,  0.124f, 0.125f, 0.2f,
                         0.25f, 0.3f,   1.0f,  7.5f,  3e38f, inf,    0.05f,  0.0f};
  const float ratios[] = {1.0f,  std::nextafter(1.0f, 2.0f),
                          1.25f, 1.5f,
                          2.0f,  2.5f,
                          8.0f,  1e6f,
                          1e30f, 3.4e38f,
                          inf,   nan,
                          -2.0f, -inf,
                          -0.0f};
  constexpr std::size_t blocks = 2 * std::size(peaks) + 2;
  for (const float ratio : ratios) {
    SCOPED_TRACE(::testing::Message() << "Ratio " << ratio);
    TandrelEffect fresh{nullptr};
    fresh.useKernel(ducking::kernelAt(GetParam()));
    fresh.setParameter(1, ratio);
    // Block b peaks at peaks[b % n], reached once, positive or negative.
    const Signal audio(blocks * 128, 1.0f);
    Signal control(blocks * 128, 0.0f);
    std::vector<float> targets{0.0f, 0.0f}; // targets[b + 2] is set at the end of block b
    for (std::size_t b = 0; b < blocks; ++b) {
      const float peak = peaks[b % std::size(peaks)];
      control[b * 128 + (b * 37) % 128] = b % 2 ? -peak : peak;
      targets.push_back(blockTarget(ratio, peak));
    }
    Signal expected(audio.size(), 0.0f);
    for (std::size_t t = 256; t < expected.size(); ++t) {
      const double start = targets[t / 128], target = targets[t / 128 + 1];
      expected[t] = static_cast<float>(start + (target - start) * static_cast<double>(t % 128) / 128.0);
    }
    EXPECT_TRUE(sameBits(processInCalls(fresh, audio, control, {1, 7, 100, 129, 1000, 3}), expected));
  }
  // Ratio 2 and a peak of 0.1 give 0.2, not the 0.6 of a Ratio clamped to 1.
  EXPECT_NEAR(blockTarget(2.0f, 0.1f), 0.2f, 1e-6f);
}

// With a silent control the gain is 1 and the output is the audio delayed
// by 256 frames, exactly: subnormal samples of either sign pass unchanged.
TEST_P(KernelTest, SubnormalAudioPassesUnchangedAtUnityGain) {
  const std::size_t frames = 20000;
  std::mt19937 generator(61);
  std::uniform_int_distribution<std::uint32_t> mantissa(1, 0x007FFFFFu), sign(0, 1);
  const float fixed[] = {
      std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(), 1e-40f, -1e-40f,
      std::bit_cast<float>(0x007FFFFFu),        std::bit_cast<float>(0x807FFFFFu)};
  Signal audio(frames), control(frames, 0.0f);
  for (std::size_t i = 0; i < frames; ++i)
    audio[i] =
        i < std::size(fixed) ? fixed[i] : std::bit_cast<float>(mantissa(generator) | sign(generator) << 31);
  Signal expected(frames, 0.0f);
  for (std::size_t i = 256; i < frames; ++i)
    expected[i] = audio[i - 256];
  for (const bool inPlace : {false, true}) {
    TandrelEffect fresh{nullptr};
    fresh.useKernel(ducking::kernelAt(GetParam()));
    EXPECT_TRUE(sameBits(processInCalls(fresh, audio, control, {4096, 1, 31, 128, 333}, inPlace), expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Processing, KernelTest, ::testing::ValuesIn(kernelsThatRunHere()),
                         [](const auto& info) { return std::string(ducking::kernelAt(info.param).name); });

TEST(KernelChoice, TheBestKernelRunsHereAndIsTheWidest) {
  const ducking::Kernel& best = ducking::bestKernel();
  int bestIndex = -1;
  for (int i = 0; i < ducking::kernelCount(); ++i)
    if (&ducking::kernelAt(i) == &best) bestIndex = i;
  ASSERT_GE(bestIndex, 0);
  EXPECT_TRUE(ducking::kernelRunsHere(bestIndex));
  for (int i = bestIndex + 1; i < ducking::kernelCount(); ++i)
    EXPECT_FALSE(ducking::kernelRunsHere(i));
  EXPECT_EQ(&TandrelEffect(nullptr).kernel(), &best);
}

// A broken host's null arrays or channel pointers with a positive frame count.
// Kernels of different widths and the frame-by-frame path share the block's
// running extremes lane by lane; switching between them from call to call,
// in the middle of blocks, changes no bit.
TEST(KernelChoice, SwitchingKernelsBetweenCallsChangesNoBit) {
  runAgainstReference(everyKernelInTurn, 21, {true, false});
  runAgainstReference(everyKernelInTurn, 22, {true, true, true});
}

TEST(BrokenHost, NullChannelsGiveSilenceWhereAnOutputExists) {
  TandrelEffect effect{nullptr};
  Signal audio(64, 0.5f), out0(64, 9.0f), out1(64, 9.0f);
  float* goodInputs[2] = {audio.data(), audio.data()};
  float* oneNullInput[2] = {audio.data(), nullptr};
  float* outputs[2] = {out0.data(), out1.data()};
  float* oneNullOutput[2] = {nullptr, out1.data()};

  effect.processAudio(nullptr, nullptr, 64);
  effect.processAudio(goodInputs, nullptr, 64);
  effect.processAudio(nullptr, outputs, 64);
  EXPECT_EQ(out0, Signal(64, 0.0f));
  EXPECT_EQ(out1, Signal(64, 0.0f));
  out0.assign(64, 9.0f);
  effect.processAudio(oneNullInput, outputs, 64);
  EXPECT_EQ(out0, Signal(64, 0.0f));
  out1.assign(64, 9.0f);
  effect.processAudio(goodInputs, oneNullOutput, 64);
  EXPECT_EQ(out1, Signal(64, 0.0f));
}

TEST(RealTime, ProcessingAndParameterCallsObtainNoMemory) {
  TandrelEffect effect{nullptr};
  std::mt19937 generator(41);
  Signal audio = hostileSignal(40000, generator, true), control = hostileSignal(40000, generator, true);
  Signal out0(40000), out1(40000);
  const std::size_t before = tandrel::test::allocationCount();
  for (std::size_t done = 0; done < 40000; done += 1000) {
    effect.setParameter(1, 0.3f);
    effect.setParameter(0, effect.getParameter(0));
    float* inputs[2] = {audio.data() + done, control.data() + done};
    float* outputs[2] = {out0.data() + done, out1.data() + done};
    effect.processAudio(inputs, outputs, 1000);
    effect.processAudio(inputs, inputs, 0);
  }
  EXPECT_EQ(tandrel::test::allocationCount(), before);
}

// The host's user-interface thread sets both parameters while its audio
// thread processes; run under the thread sanitizer this proves the shared
// fields are race-free.
TEST(Threads, ParametersSetWhileAnotherThreadProcesses) {
  TandrelEffect effect{nullptr};
  std::atomic<bool> done{false};
  std::thread interface([&] {
    std::mt19937 generator(51);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    while (!done.load()) {
      effect.setParameter(0, unit(generator));
      effect.setParameter(1, unit(generator));
      (void)effect.getParameter(1);
    }
  });
  Signal audio(256, 0.5f), control(256, 0.25f), out0(256), out1(256);
  float* inputs[2] = {audio.data(), control.data()};
  float* outputs[2] = {out0.data(), out1.data()};
  for (int call = 0; call < 2000; ++call) {
    effect.processAudio(inputs, outputs, 256);
    for (float sample : out0)
      ASSERT_TRUE(sample >= 0.0f && sample <= 0.5f);
  }
  done.store(true);
  interface.join();
}

} // namespace
