// The presence envelope on plain arrays: where its rise ends, what the hold
// bridges, how long the release takes.
#include "duck/presence_envelope.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tandrel::cli::PresenceEnvelope;
using tandrel::cli::PresenceSettings;

constexpr double rate = 1000.0; // one frame per millisecond: 10-frame windows

// The envelope of `voice`, aligned with it (the latency taken out).
std::vector<float> envelopeOf(const std::vector<float>& voice, const PresenceSettings& settings) {
  PresenceEnvelope envelope(settings, rate);
  std::vector<float> padded = voice;
  padded.resize(voice.size() + static_cast<std::size_t>(envelope.latency()), 0.0f);
  std::vector<float> out(padded.size());
  envelope.process(padded.data(), out.data(), static_cast<std::int64_t>(padded.size()));
  return {out.begin() + envelope.latency(), out.end()};
}

// Silence with a full-scale square wave over [first, last).
std::vector<float> voiceBetween(std::size_t frames, std::vector<std::pair<std::size_t, std::size_t>> spans) {
  std::vector<float> voice(frames, 0.0f);
  for (const auto& [first, last] : spans)
    for (std::size_t i = first; i < last; ++i)
      voice[i] = i % 2 == 0 ? 1.0f : -1.0f;
  return voice;
}

TEST(PresenceEnvelope, RisesToOneExactlyWhereTheVoiceStartsAndFallsOverTheRelease) {
  const PresenceSettings settings{-40.0, 30.0, 0.0, 50.0};
  const std::vector<float> presence = envelopeOf(voiceBetween(400, {{100, 200}}), settings);
  EXPECT_EQ(presence[69], 0.0f);
  EXPECT_FLOAT_EQ(presence[85], 0.5f);
  EXPECT_LT(presence[99], 1.0f);
  for (std::size_t i = 100; i < 200; ++i)
    ASSERT_EQ(presence[i], 1.0f) << i;
  EXPECT_FLOAT_EQ(presence[224], 0.5f);
  EXPECT_EQ(presence[249], 0.0f);
  for (std::size_t i = 249; i < 400; ++i)
    ASSERT_EQ(presence[i], 0.0f) << i;
}

TEST(PresenceEnvelope, HoldBridgesShortPausesOnly) {
  const PresenceSettings settings{-40.0, 0.0, 40.0, 0.0};
  const std::vector<float> presence =
      envelopeOf(voiceBetween(500, {{100, 150}, {180, 230}, {300, 350}}), settings);
  for (std::size_t i = 100; i < 270; ++i)
    ASSERT_EQ(presence[i], 1.0f) << "a 30 ms pause is bridged, and 40 ms held after: " << i;
  for (std::size_t i = 270; i < 300; ++i)
    ASSERT_EQ(presence[i], 0.0f) << "a 70 ms pause is not: " << i;
}

TEST(PresenceEnvelope, VoiceBelowTheThresholdIsNotPresent) {
  std::vector<float> voice = voiceBetween(300, {{100, 200}});
  for (float& s : voice)
    s *= 0.009f; // -41 dBFS
  const std::vector<float> quiet = envelopeOf(voice, {-40.0, 10.0, 300.0, 300.0});
  EXPECT_EQ(*std::max_element(quiet.begin(), quiet.end()), 0.0f);
  const std::vector<float> heard = envelopeOf(voice, {-42.0, 10.0, 300.0, 300.0});
  EXPECT_EQ(heard[150], 1.0f);
}

} // namespace
