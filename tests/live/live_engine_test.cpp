// The live duck without JACK: the causal presence envelope (and how it lines
// up with `duck`'s offline one), the ducking engine's process call on plain
// arrays (its depth, and that it never allocates), and the callbacks' hold
// on thread cancellation.

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "check/allocation_counter.hpp"
#include "duck/presence_envelope.hpp"
#include "live/cancellation_hold.hpp"
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

// Half a second of a quiet hum, then bursts of noise at about -20 dBFS with
// pauses of 50 to 450 ms between them for 8 s, then hum again; deterministic.
std::vector<float> speechWithShortPauses(std::int64_t frames) {
  std::vector<float> voice(static_cast<std::size_t>(frames));
  std::uint32_t state = 12345;
  auto random = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
  };
  const std::int64_t end = 8 * 48000 + 24000;
  bool speaking = true;
  for (std::int64_t t = 24000; t < end;) {
    const auto length =
        static_cast<std::int64_t>(speaking ? 3000 + random() * 30000 : 2400 + random() * 19200);
    for (std::int64_t i = t; i < std::min(end, t + length); ++i)
      voice[static_cast<std::size_t>(i)] =
          speaking ? static_cast<float>(0.17 * (random() * 2.0 - 1.0)) : 0.0f;
    t += length;
    speaking = !speaking;
  }
  for (std::int64_t i = 0; i < frames; ++i)
    voice[static_cast<std::size_t>(i)] += static_cast<float>(0.001 * std::sin(0.01 * static_cast<double>(i)));
  return voice;
}

struct LineUpCase {
  double attackMs;
  double releaseMs;
  int period;
};

class LivePresenceLinesUpWithDuck : public testing::TestWithParam<LineUpCase> {};

// With the music delayed by a window and the attack, the live envelope is
// duck's offline one bit for bit from the start to the end of the last word,
// pauses included (duck bridges those up to its longest pause, live holds
// as long). After the last word, duck, which knows no more speech comes,
// lets the music up at once; live waits out its hold first, so there its
// envelope is duck's delayed by the hold (whole windows), bit for bit.
TEST_P(LivePresenceLinesUpWithDuck, WhenTheMusicIsDelayedByAWindowAndTheAttack) {
  const LineUpCase shape = GetParam();
  constexpr double pauseMs = 500.0;
  PresenceSettings offlineSettings;
  offlineSettings.attackMs = shape.attackMs;
  offlineSettings.maxPauseMs = pauseMs;
  offlineSettings.releaseMs = shape.releaseMs;
  LivePresenceSettings liveSettings;
  liveSettings.attackMs = shape.attackMs;
  liveSettings.holdMs = pauseMs;
  liveSettings.releaseMs = shape.releaseMs;

  const std::vector<float> voice = speechWithShortPauses(12 * 48000);
  PresenceEnvelope envelope(offlineSettings, sampleRate);
  std::vector<float> offline(voice.size());
  envelope.process(voice.data(), offline.data(), static_cast<std::int64_t>(voice.size()));
  const std::vector<float> live = livePresence(liveSettings, voice, shape.period);

  const std::int64_t latency = envelope.latency();
  const std::int64_t lookahead = windowFrames + std::llround(shape.attackMs * 48.0);
  const std::int64_t holdFrames = 50 * windowFrames;
  // The end of the last word as duck saw it: where its envelope leaves 1
  // for good (in music frames).
  std::int64_t lastWord = 0;
  for (std::int64_t i = latency; i < static_cast<std::int64_t>(offline.size()); ++i)
    if (offline[static_cast<std::size_t>(i)] == 1.0f) lastWord = i - latency + 1;
  std::int64_t differences = 0;
  std::int64_t ducked = 0;
  for (std::int64_t t = 0; t + latency < static_cast<std::int64_t>(voice.size()); ++t) {
    const std::int64_t liveFrame = t + lookahead + (t < lastWord ? 0 : holdFrames);
    if (liveFrame >= static_cast<std::int64_t>(voice.size())) break;
    const float want = offline[static_cast<std::size_t>(t + latency)];
    const float got = live[static_cast<std::size_t>(liveFrame)];
    differences += want != got ? 1 : 0;
    ducked += want == 1.0f ? 1 : 0;
    if (want != got && differences < 5) ADD_FAILURE() << "music frame " << t << ": " << got << " != " << want;
  }
  EXPECT_EQ(differences, 0);
  EXPECT_GT(ducked, 7 * 48000); // the music stays down through the pauses
}

INSTANTIATE_TEST_SUITE_P(Shapes, LivePresenceLinesUpWithDuck,
                         testing::Values(LineUpCase{10, 300, 128}, LineUpCase{0, 300, 64},
                                         LineUpCase{25, 50, 1024}, LineUpCase{40, 0, 100},
                                         LineUpCase{3, 1000, 7}),
                         [](const testing::TestParamInfo<LineUpCase>& info) {
                           const LineUpCase& c = info.param;
                           return "attack" + std::to_string(static_cast<int>(c.attackMs)) + "_release" +
                                  std::to_string(static_cast<int>(c.releaseMs)) + "_period" +
                                  std::to_string(c.period);
                         });

// Silence after the voice, or a voice port that nobody feeds, brings the
// envelope to 0 a window, the attack, the hold and the release after the
// last active window; a manual duck goes the same way when let go.
TEST(LivePresence, ComesBackAfterHoldAndReleaseWhateverEndsThePresence) {
  LivePresenceSettings settings; // attack 10, hold 300, release 300 ms
  const std::int64_t back = windowFrames + 480 + 14400 + 14400 + 14400 + windowFrames;
  for (const bool talk : {false, true}) {
    LivePresence presence(settings, sampleRate);
    std::vector<float> voice(48000, 0.0f);
    if (!talk)
      for (std::size_t i = 0; i < voice.size(); ++i)
        voice[i] = static_cast<float>(0.5 * std::sin(0.13 * static_cast<double>(i)));
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
  settings.voiceBand = false; // a step of DC marks the onset
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
  settings.voiceBand = false; // a step of DC marks the onset
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
  // Periods of a 1 kHz sine at -6 dBFS in every channel and a voice of the
  // same sine at peak `voiceLevel`; returns the output of channel 0.
  std::vector<float> run(DuckingEngine& engine, int periods, float voiceLevel, int channels,
                         int length = period) {
    std::vector<std::vector<float>> music(static_cast<std::size_t>(channels), std::vector<float>(length));
    std::vector<float> voice(static_cast<std::size_t>(length));
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
      for (int i = 0; i < length; ++i) {
        const double sine = std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(phase_ + i) / 48000.0);
        for (auto& channel : music)
          channel[static_cast<std::size_t>(i)] = static_cast<float>(0.5 * sine);
        voice[static_cast<std::size_t>(i)] = static_cast<float>(voiceLevel * sine);
      }
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

// A thread that its library cancels at once (as libjack does its threads)
// while one of our callbacks runs noexcept code: held, the work runs to its
// end and the cancellation is acted on at the release, unwinding from
// there. Without the hold it is acted on inside the work (which, in
// noexcept code that calls other functions, ends the program). Not under
// the sanitizers: their runtimes do not survive a test thread's own
// cancellation acted on at once.
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
struct CancelledCallback {
  std::atomic<bool> working{false};
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> workFinished{false};
  std::atomic<bool> ranPastRelease{false};
};

void heldWork(CancelledCallback& callback) noexcept {
  callback.working.store(true);
  while (!callback.cancelRequested.load()) {}
  // A while longer, so that the cancellation's signal has surely arrived.
  std::atomic<int> spins{0};
  while (spins.fetch_add(1, std::memory_order_relaxed) < 1000000) {}
  callback.workFinished.store(true);
}

void* cancelledCallbackThread(void* argument) {
  auto& callback = *static_cast<CancelledCallback*>(argument);
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  CancellationHold hold;
  heldWork(callback);
  hold.release();
  callback.ranPastRelease.store(true);
  return nullptr;
}

TEST(CancellationHold, ACancellationAtOnceWaitsForTheReleaseAndUnwindsFromThere) {
  CancelledCallback callback;
  pthread_t thread{};
  ASSERT_EQ(pthread_create(&thread, nullptr, cancelledCallbackThread, &callback), 0);
  while (!callback.working.load()) {}
  ASSERT_EQ(pthread_cancel(thread), 0);
  callback.cancelRequested.store(true);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  EXPECT_TRUE(callback.workFinished.load());
  EXPECT_FALSE(callback.ranPastRelease.load());
}
#endif

} // namespace
} // namespace tandrel::cli
