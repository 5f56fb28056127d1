// The ducker driven with plain arrays, without a host: its edge cases. Every
// kernel against the per-frame reference is in processing_paths_test.cpp.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "effect/tandrel_effect.hpp"
#include "signal_values.hpp"

namespace {

using tandrel::TandrelEffect;
using tandrel::test::noise;
using tandrel::test::Signal;

std::uint32_t bits(float value) { return std::bit_cast<std::uint32_t>(value); }

// Compares two signals bit for bit and names the first differing frame.
::testing::AssertionResult sameBits(const Signal& actual, const Signal& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (bits(actual[i]) != bits(expected[i]))
      return ::testing::AssertionFailure()
             << "frame " << i << ": " << actual[i] << " (0x" << std::hex << bits(actual[i]) << ") instead of "
             << expected[i] << " (0x" << bits(expected[i]) << ")";
  }
  return ::testing::AssertionSuccess();
}

Signal constant(std::size_t frames, float value) { return Signal(frames, value); }

// Audio delayed by the effect's latency, with silence before it.
Signal delayed(const Signal& audio) {
  Signal result(audio.size(), 0.0f);
  for (std::size_t i = tandrel::ducking::latencyFrames; i < audio.size(); ++i)
    result[i] = audio[i - tandrel::ducking::latencyFrames];
  return result;
}

class DuckingTest : public ::testing::Test {
protected:
  TandrelEffect effect{nullptr};
  Signal out0, out1;

  // Processes inputs 0 and 1 in one call; both outputs are kept.
  void process(const Signal& input0, const Signal& input1) {
    ASSERT_EQ(input0.size(), input1.size());
    Signal in0 = input0, in1 = input1;
    out0.assign(in0.size(), std::numeric_limits<float>::quiet_NaN());
    out1.assign(in0.size(), std::numeric_limits<float>::quiet_NaN());
    float* inputs[2] = {in0.data(), in1.data()};
    float* outputs[2] = {out0.data(), out1.data()};
    effect.processAudio(inputs, outputs, static_cast<std::int32_t>(in0.size()));
  }

  // Output 0 from `first` onwards.
  Signal tail(std::size_t first) const {
    return Signal(out0.begin() + static_cast<std::ptrdiff_t>(first), out0.end());
  }
};

// Calls whose output is exactly the audio delayed by the latency: the audio
// on the input Source takes it from, and a control that cannot lower the
// gain (silent, or any level at Ratio 0).
struct DelayedPassCase {
  const char* name;
  float source;
  float ratio;
  bool audioOnInputOne;
  unsigned controlSeed; // 0: a silent control; else loud noise from this seed
};

class DelayedPassTest : public DuckingTest, public ::testing::WithParamInterface<DelayedPassCase> {};

TEST_P(DelayedPassTest, OutputIsTheAudioDelayedFromFrame256) {
  const DelayedPassCase c = GetParam();
  effect.setParameter(0, c.source);
  effect.setParameter(1, c.ratio);
  const Signal audio = noise(4096, 1);
  const Signal control = c.controlSeed == 0 ? constant(4096, 0.0f) : noise(4096, c.controlSeed, 8.0f);
  if (c.audioOnInputOne)
    process(control, audio);
  else
    process(audio, control);
  // The line starts filled with zeros, so the first 256 frames are silent.
  EXPECT_TRUE(sameBits(out0, delayed(audio)));
}

INSTANTIATE_TEST_SUITE_P(
    Ducking, DelayedPassTest,
    ::testing::Values(DelayedPassCase{"SilentControl", 1.0f, 0.25f, false, 0},
                      DelayedPassCase{"RatioZeroWhateverTheControl", 1.0f, 0.0f, false, 3},
                      DelayedPassCase{"SourceAtOneHalfAudioOnInputZero", 0.5f, 0.25f, false, 0},
                      DelayedPassCase{"SourceBelowOneHalfAudioOnInputOne", 0.49f, 0.25f, true, 0}),
    [](const ::testing::TestParamInfo<DelayedPassCase>& info) { return info.param.name; });

// Silent control for `quietBlocks` blocks, then `level`; the audio is 1.0.
// Gains can then be read straight off the output.
struct SilencingCase {
  float ratio;
  float level;
  bool silenced;
};

class SilencingTest : public DuckingTest, public ::testing::WithParamInterface<SilencingCase> {};

TEST_P(SilencingTest, TargetGainFromPeakAndRatio) {
  const SilencingCase c = GetParam();
  effect.setParameter(1, c.ratio);
  Signal control = constant(2048, 0.0f);
  for (std::size_t i = 512; i < control.size(); ++i)
    control[i] = c.level;
  process(constant(2048, 1.0f), control);
  // The block of frames 512..639 sets the target that frames 640..767 ramp
  // to; from frame 768 the gain sits at that target.
  const float expected = c.silenced ? 0.0f : 1.0f - c.ratio * c.level * 4.0f;
  for (std::size_t i = 768; i < out0.size(); ++i)
    ASSERT_EQ(bits(out0[i]), bits(expected)) << "frame " << i;
  // Before the loud block the gain is 1.
  for (std::size_t i = 256; i < 640; ++i)
    ASSERT_EQ(bits(out0[i]), bits(1.0f)) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Ducking, SilencingTest,
                         ::testing::Values(SilencingCase{0.25f, 1.0f, true}, SilencingCase{0.25f, 3.0f, true},
                                           SilencingCase{1.0f, 0.25f, true}, SilencingCase{1.0f, 0.5f, true},
                                           SilencingCase{0.25f, -1.0f, true},
                                           SilencingCase{0.25f, 0.5f, false},
                                           SilencingCase{1.0f, 0.125f, false}));

TEST_F(DuckingTest, RampRunsFromPreviousTargetToTheNextAcrossTheBlock) {
  // Blocks 0 and 1 silent (target 1), block 2 peaks at 0.5 (target 0.5 at
  // Ratio 0.25); block 3 ramps from 1.0 towards 0.5.
  Signal control = constant(640, 0.0f);
  control[300] = 0.5f;
  process(constant(640, 1.0f), control);
  EXPECT_EQ(bits(out0[384]), bits(1.0f));
  EXPECT_EQ(bits(out0[384 + 64]), bits(0.75f));
  EXPECT_EQ(bits(out0[384 + 127]), bits(0.50390625f));
  EXPECT_EQ(bits(out0[512]), bits(0.5f));
}

TEST_F(DuckingTest, AllNegativeBlockPeaksAtTheMagnitudeOfItsLowest) {
  Signal control = constant(640, 0.0f);
  for (std::size_t i = 256; i < 384; ++i)
    control[i] = -0.25f;
  control[300] = -0.5f;
  process(constant(640, 1.0f), control);
  EXPECT_EQ(bits(out0[512]), bits(0.5f)); // 1 - 0.25 x 0.5 x 4
}

TEST_F(DuckingTest, BothOutputsCarryIdenticalSamples) {
  process(noise(3000, 6), noise(3000, 7));
  EXPECT_TRUE(sameBits(out1, out0));
}

TEST_F(DuckingTest, EmptyCallWritesNothingAndAcceptsNullChannelArrays) {
  float untouched[4] = {7.0f, 7.0f, 7.0f, 7.0f};
  float* outputs[2] = {untouched, untouched + 2};
  effect.processAudio(outputs, outputs, 0);
  effect.processAudio(nullptr, nullptr, 0);
  effect.processAudio(nullptr, nullptr, -5);
  for (float sample : untouched)
    EXPECT_EQ(sample, 7.0f);

  // The state is unchanged: what follows equals a fresh effect's output.
  const Signal audio = noise(1000, 8), control = noise(1000, 9);
  process(audio, control);
  const Signal afterEmptyCalls = out0;
  TandrelEffect fresh{nullptr};
  Signal in0 = audio, in1 = control, y0(1000), y1(1000);
  float* inputs[2] = {in0.data(), in1.data()};
  float* freshOutputs[2] = {y0.data(), y1.data()};
  fresh.processAudio(inputs, freshOutputs, 1000);
  EXPECT_TRUE(sameBits(afterEmptyCalls, y0));
}

TEST_F(DuckingTest, CallsOfThreeHundredAndOneHundredEqualOneOfFourHundred) {
  const Signal audio = noise(400, 10), control = noise(400, 11, 0.3f);
  TandrelEffect whole{nullptr};
  Signal in0 = audio, in1 = control, w0(400), w1(400);
  float* inputs[2] = {in0.data(), in1.data()};
  float* wholeOut[2] = {w0.data(), w1.data()};
  whole.processAudio(inputs, wholeOut, 400);

  Signal p0(400), p1(400);
  float* first[2] = {p0.data(), p1.data()};
  effect.processAudio(inputs, first, 300);
  float* secondIn[2] = {in0.data() + 300, in1.data() + 300};
  float* second[2] = {p0.data() + 300, p1.data() + 300};
  effect.processAudio(secondIn, second, 100);
  EXPECT_TRUE(sameBits(p0, w0));
}

TEST(TandrelParameters, SetAndGetThroughTheOperations) {
  TandrelEffect effect{nullptr};
  EXPECT_EQ(bits(effect.getParameter(0)), bits(1.0f));
  EXPECT_EQ(bits(effect.getParameter(1)), bits(0.25f));
  effect.setParameter(0, 0.3f);
  effect.setParameter(1, 0.7f);
  effect.setParameter(2, 0.9f); // ignored
  effect.setParameter(-1, 0.9f);
  EXPECT_EQ(bits(effect.getParameter(0)), bits(0.3f));
  EXPECT_EQ(bits(effect.getParameter(1)), bits(0.7f));
  EXPECT_EQ(bits(effect.getParameter(5)), bits(0.3f)); // any other index answers Source
  EXPECT_EQ(bits(effect.getParameter(-3)), bits(0.3f));
  effect.setParameter(1, 2.5f); // no clamping
  EXPECT_EQ(bits(effect.getParameter(1)), bits(2.5f));
}

} // namespace
