// Faults that fuzzing found (fuzz/), each kept as a test of its own.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "effect/ducking_run.hpp"
#include "effect/tandrel_effect.hpp"
#include "reference_ducker.hpp"
#include "signal_values.hpp"

namespace {

using namespace tandrel::test;
using tandrel::TandrelEffect;
using tandrel::test::nan; // not the C library's nan()
namespace ducking = tandrel::ducking;

// Equal bits, except that any NaN matches any NaN (the payload is not part of
// the contract).
::testing::AssertionResult sameSamples(const Signal& actual, const Signal& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i) {
    const bool same = std::bit_cast<std::uint32_t>(actual[i]) == std::bit_cast<std::uint32_t>(expected[i]) ||
                      (std::isnan(actual[i]) && std::isnan(expected[i]));
    if (!same)
      return ::testing::AssertionFailure()
             << "frame " << i << ": " << actual[i] << " (0x" << std::hex
             << std::bit_cast<std::uint32_t>(actual[i]) << ") instead of " << expected[i];
  }
  return ::testing::AssertionSuccess();
}

// Processes the signal (audio on input 0, control on input 1) in calls of
// the given sizes, repeated until the signal ends.
Signal processInCalls(int kernel, const Signal& audio, const Signal& control, const std::vector<int>& sizes) {
  TandrelEffect effect{nullptr};
  effect.useKernel(ducking::kernelAt(kernel));
  Signal in0 = audio, in1 = control, out0(audio.size()), out1(audio.size());
  for (std::size_t done = 0, call = 0; done < audio.size(); ++call) {
    const auto n =
        std::min<std::size_t>(static_cast<std::size_t>(sizes[call % sizes.size()]), audio.size() - done);
    float* inputs[2] = {in0.data() + done, in1.data() + done};
    float* outputs[2] = {out0.data() + done, out1.data() + done};
    effect.processAudio(inputs, outputs, static_cast<std::int32_t>(n));
    done += n;
  }
  EXPECT_TRUE(sameSamples(out1, out0));
  return out0;
}

class FuzzRegressionKernelTest : public ::testing::TestWithParam<int> {};

// Found by the processing fuzzer: with a loud control the gain is exactly 0,
// and 0 x infinity must give NaN as in the per-frame algorithm. The vector
// body of a kernel gave -0 for it, the scalar tail NaN, so the output
// depended on where the host's call ended (frame 2555 of a call of 2557
// frames was NaN; the same frame in a call of 2605 frames was -0).
TEST_P(FuzzRegressionKernelTest, ZeroGainTimesNonFiniteAudioIsNaNWhereverTheCallEnds) {
  const std::size_t frames = 2605;
  Signal audio(frames), control(frames, 1.0f); // peak 1, Ratio 0.25: target gain 0 in every block
  const float cycle[] = {-1.0f,
                         -1.17549435e-38f,
                         1.17549435e-38f,
                         nan,
                         1e-40f,
                         -1e-45f,
                         inf,
                         -inf,
                         0.5f,
                         -0.0f,
                         3e38f,
                         inf,
                         -2.0f,
                         nan,
                         1e30f,
                         -inf,
                         7.0f};
  for (std::size_t i = 0; i < frames; ++i)
    audio[i] = cycle[i % std::size(cycle)];

  tandrel::test::ReferenceDucker reference;
  Signal expected(frames);
  reference.process(audio.data(), control.data(), expected.data(), static_cast<std::int32_t>(frames));
  ASSERT_TRUE(std::isnan(expected[tandrel::ducking::latencyFrames + 6])); // 0 x infinity

  for (const std::vector<int>& sizes :
       {std::vector<int>{2605}, std::vector<int>{2557, 48}, std::vector<int>{1}, std::vector<int>{125, 3},
        std::vector<int>{16, 7, 64, 129}})
    EXPECT_TRUE(sameSamples(processInCalls(GetParam(), audio, control, sizes), expected))
        << "calls of " << sizes.front() << "...";
}

std::vector<int> kernelsThatRunHere() {
  std::vector<int> indices;
  for (int i = 0; i < ducking::kernelCount(); ++i)
    if (ducking::kernelRunsHere(i)) indices.push_back(i);
  return indices;
}

INSTANTIATE_TEST_SUITE_P(Processing, FuzzRegressionKernelTest, ::testing::ValuesIn(kernelsThatRunHere()),
                         [](const auto& info) { return std::string(ducking::kernelAt(info.param).name); });

} // namespace
