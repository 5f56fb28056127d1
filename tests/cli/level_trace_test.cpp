// The gain trace of a render's picture and summary, from the library
// directly: the output is compared with the input it came from, the
// effect's delay taken into account whether or not the written file keeps it.
#include <cmath>

#include "cli_support.hpp"
#include "common/level_trace.hpp"

namespace cli_test {
namespace {

using tandrel::cli::ChunkView;
using tandrel::cli::LevelTraceRecorder;

class LevelTraceGain : public ::testing::TestWithParam<bool> {};

// Windows of sound and silence in turn, through an effect that halves the
// audio and delays it by 256 frames: every sounding window reads -6.02 dB.
TEST_P(LevelTraceGain, ComparesTheOutputWithTheInputItCameFrom) {
  constexpr int latency = 256;
  constexpr std::int64_t frames = 48000; // windows of 480 frames
  std::vector<float> input(frames + latency, 0.0f);
  std::vector<float> output(frames + latency, 0.0f);
  const std::vector<float> sound = noise(frames, 31, 0.5f);
  for (std::int64_t i = 0; i < frames; ++i)
    input[i] = (i / 480) % 2 == 0 ? sound[i] : 0.0f;
  for (std::int64_t i = latency; i < frames + latency; ++i)
    output[i] = 0.5f * input[i - latency];

  LevelTraceRecorder recorder({{0}, {}}, frames, 48000.0, latency, GetParam());
  const float* inputs[] = {input.data()};
  const float* outputs[] = {output.data()};
  recorder.chunkProcessed(ChunkView{0, frames + latency, inputs, 1, outputs, 1}, frames + latency,
                          frames + latency);
  const auto series = recorder.series();
  ASSERT_EQ(series.windowFrames, 480);
  ASSERT_EQ(series.gainDb.size(), 100u);
  for (std::size_t w = 0; w < series.gainDb.size(); ++w) {
    if (w % 2 == 0)
      EXPECT_NEAR(series.gainDb[w], 20.0 * std::log10(0.5), 1e-6) << "window " << w;
    else
      EXPECT_TRUE(std::isnan(series.gainDb[w])) << "window " << w;
  }
}

INSTANTIATE_TEST_SUITE_P(Latency, LevelTraceGain, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Compensated" : "NotCompensated"; });

} // namespace
} // namespace cli_test
