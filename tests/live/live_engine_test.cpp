// The live duck without JACK: the causal presence envelope, and the ducking
// engine's process call on plain arrays (its depth, and that it never
// allocates).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "check/allocation_counter.hpp"
#include "live/ducking_engine.hpp"
#include "live/live_presence.hpp"

namespace tandrel::cli {
namespace {

constexpr double sampleRate = 48000.0;
constexpr std::int64_t windowFrames = 480;

std::vector<float> livePresence(const LivePresenceSettings& settings, const std::vector<float>& voice,
                                int period, std::uint64_t frameTime = 0) {
  LivePresence presence(settings, sampleRate);

  std::vector<float> out(voice.size());
  for (std::size_t first = 0; first < voice.size(); first += static_cast<std::size_t>(period)) {
    const std::size_t count = std::min(voice.size() - first, static_cast<std::size_t>(period));
    presence.follow(static_cast<std::uint32_t>(frameTime + first));
    presence.process(voice.data() + first, out.data() + first, static_cast<std::int64_t>(count));
  }
  return out;
}

// Silence after the voice, or a voice port that nobody feeds, brings the
// envelope to 0 a window, the attack, the hold and the release after the
// last active window; a manual duck goes the same way when let go.
TEST(LivePresence, ComesBackAfterHoldAndReleaseWhateverEndsThePresence) {
  LivePresenceSettings settings; // attack 10, hold 300, release 300 ms
  const std::int64_t back = windowFrames + 480 + 14400 + 14400 + 14400 + windowFrames;
  for (const bool talk : {false, true}) {
    LivePresence presence(settings, sampleRate);
    std::vector<float> voice(48000, talk ? 0.0f : 0.5f);
    std::vector<float> out(voice.size());
    presence.setForced(talk);
    presence.process(voice.data(), out.data(), static_cast<std::int64_t>(voice.size()));
    EXPECT_EQ(out.back(), 1.0f) << (talk ? "talk" : "voice");
    presence.setForced(false);
    std::vector<float> after(static_cast<std::size_t>(back + 48000));
    presence.process(nullptr, after.data(), static_cast<std::int64_t>(after.size()));
    for (std::size_t i = static_cast<std::size_t>(back); i < after.size(); ++i)
      ASSERT_EQ(after[i], 0.0f) << (talk ? "talk" : "voice") << ", frame " << i;
  }
}

// The window grid follows the frame time: a voice that starts on a
// multiple of the window in frame time is detected as if windows began
// there.
TEST(LivePresence, AnchorsItsWindowsToTheFrameTime) {
  LivePresenceSettings settings;
  std::vector<float> voice(48000, 0.0f);
  constexpr std::uint64_t frameTime = 1000003;
  const std::size_t onset = windowFrames - frameTime % windowFrames;
  std::fill(voice.begin() + static_cast<std::ptrdiff_t>(onset), voice.end(), 0.5f);
  const std::vector<float> out = livePresence(settings, voice, 128, frameTime);
  // Detected at the end of the first full window: the rise starts there.
  EXPECT_EQ(out[onset + windowFrames - 1], 0.0f);
  EXPECT_GT(out[onset + windowFrames + 1], 0.0f);
  EXPECT_EQ(out[onset + windowFrames + 480], 1.0f);
}

// Periods that JACK skipped move the frame time on; the grid stays on it.
TEST(LivePresence, KeepsItsGridAcrossSkippedPeriods) {
  LivePresenceSettings settings;
  LivePresence presence(settings, sampleRate);
  std::vector<float> silence(128, 0.0f);
  std::vector<float> out(128);
  std::uint32_t frameTime = 4294967295u - 1000; // the 32-bit count wraps on the way
  for (int p = 0; p < 20; ++p, frameTime += 128) {
    presence.follow(frameTime);
    presence.process(silence.data(), out.data(), 128);
  }
  frameTime += 384; // three periods skipped
  std::vector<float> voice(4800, 0.5f);
  const std::size_t onset = windowFrames - frameTime % windowFrames;
  std::fill_n(voice.begin(), onset, 0.0f);
  std::vector<float> result(voice.size());
  for (std::size_t first = 0; first < voice.size(); first += 96, frameTime += 96) {
    presence.follow(frameTime);
    presence.process(voice.data() + first, result.data() + first, 96);
  }
  EXPECT_EQ(result[onset + windowFrames - 1], 0.0f);
  EXPECT_GT(result[onset + windowFrames + 1], 0.0f);
}

class DuckingEngineTest : public testing::Test {
protected:
  static constexpr int period = 128;
  // Periods of a 1 kHz sine at -6 dBFS in every channel and a voice of
  // `voiceLevel`; returns the output of channel 0.
  std::vector<float> run(DuckingEngine& engine, int periods, float voiceLevel, int channels,
                         int length = period) {
    std::vector<std::vector<float>> music(static_cast<std::size_t>(channels), std::vector<float>(length));
    std::vector<float> voice(static_cast<std::size_t>(length), voiceLevel);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels), std::vector<float>(length));
    std::vector<const float*> inputs;
    std::vector<float*> outputs;
    for (auto& channel : music)
      inputs.push_back(channel.data());
    inputs.push_back(voice.data());
    for (auto& channel : out)
      outputs.push_back(channel.data());
    std::vector<float> recorded;
    recorded.reserve(static_cast<std::size_t>(periods * length));
    for (int p = 0; p < periods; ++p) {
      for (auto& channel : music)
        for (int i = 0; i < length; ++i)
          channel[static_cast<std::size_t>(i)] = static_cast<float>(
              0.5 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(phase_ + i) / 48000.0));
      {
        const check::AllocationCounting counting;
        engine.process(inputs.data(), outputs.data(), length, static_cast<std::uint64_t>(phase_));
        allocations_ += check::allocationCounts().allocations + check::allocationCounts().releases;
      }
      phase_ += length;
      recorded.insert(recorded.end(), out[0].begin(), out[0].end());
    }
    return recorded;
  }
  static double rmsDb(const std::vector<float>& samples, std::size_t from) {
    double sum = 0.0;
    for (std::size_t i = from; i < samples.size(); ++i)
      sum += static_cast<double>(samples[i]) * samples[i];
    return 10.0 * std::log10(sum / static_cast<double>(samples.size() - from));
  }
  std::int64_t phase_ = 0;
  std::size_t allocations_ = 0;
};

// Under a present voice the music sits at the depth (the sine at -6 dBFS has
// an RMS of -9.03 dB); when the voice stops, it comes back to full level.
// Depth changes and talk toggles while processing, with the voice mixed
// in, allocate nothing.
TEST_F(DuckingEngineTest, DucksToTheDepthAndComesBackWithoutAllocating) {
  LiveShape shape;
  shape.depthDb = 12.0;
  shape.channels = 2;
  DuckingEngine engine(TANDREL_MODULE_PATH, shape, 48000.0, period);
  EXPECT_EQ(engine.latency(), 960 + 256);
  const double full = 20.0 * std::log10(0.5 / std::sqrt(2.0));
  const std::vector<float> ducked = run(engine, 375, 0.1f, 2);
  EXPECT_NEAR(rmsDb(ducked, ducked.size() - 9600), full - 12.0, 0.01);
  engine.controls().depthDb.store(20.0f);
  const std::vector<float> deeper = run(engine, 100, 0.1f, 2);
  EXPECT_NEAR(rmsDb(deeper, deeper.size() - 4800), full - 20.0, 0.01);
  const std::vector<float> back = run(engine, 375, 0.0f, 2);
  EXPECT_NEAR(rmsDb(back, back.size() - 9600), full, 0.01);
  engine.controls().talk.store(true);
  const std::vector<float> talked = run(engine, 200, 0.0f, 2);
  EXPECT_NEAR(rmsDb(talked, talked.size() - 4800), full - 20.0, 0.01);
  EXPECT_EQ(allocations_, 0u);
}

// A new period size re-prepares the modules outside processing; processing
// at the new size then allocates nothing either, with 8 channels and the
// mix.
TEST_F(DuckingEngineTest, FollowsAPeriodChangeWithoutAllocatingInProcess) {
  LiveShape shape;
  shape.channels = 8;
  shape.mix = true;
  shape.lookaheadMs = 0.0;
  DuckingEngine engine(TANDREL_MODULE_PATH, shape, 48000.0, 64);
  EXPECT_EQ(engine.latency(), 256);
  run(engine, 50, 0.1f, 8, 64);
  engine.setPeriod(1024);
  const std::vector<float> out = run(engine, 20, 0.0f, 8, 1024);
  EXPECT_EQ(allocations_, 0u);
  // A period longer than prepared gives silence instead of overrunning.
  const std::vector<float> tooLong = run(engine, 1, 0.0f, 8, 2048);
  for (const float sample : tooLong)
    ASSERT_EQ(sample, 0.0f);
}

} // namespace
} // namespace tandrel::cli
