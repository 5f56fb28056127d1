// The presence envelope on plain arrays: where its rise ends, which pauses
// it bridges, how a longer pause comes fully up, and what the voice-band
// filter and the speech level meter make of rumble and noise.
#include "duck/presence_envelope.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using tandrel::cli::leastFullLevelMs;
using tandrel::cli::PresenceEnvelope;
using tandrel::cli::PresenceSettings;
using tandrel::cli::SpeechLevelMeter;

constexpr double rate = 1000.0; // one frame per millisecond: 10-frame windows

PresenceSettings unfiltered(double threshold, double attack, double maxPause, double release) {
  PresenceSettings settings;
  settings.thresholdDbfs = threshold;
  settings.attackMs = attack;
  settings.maxPauseMs = maxPause;
  settings.releaseMs = release;
  settings.voiceBand = false;
  return settings;
}

// The envelope of `voice`, aligned with it (the latency taken out).
std::vector<float> envelopeOf(const std::vector<float>& voice, const PresenceSettings& settings,
                              double sampleRate = rate) {
  PresenceEnvelope envelope(settings, sampleRate);
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
  const std::vector<float> presence = envelopeOf(voiceBetween(400, {{100, 200}}), unfiltered(-40, 30, 0, 50));
  EXPECT_EQ(presence[69], 0.0f);
  EXPECT_FLOAT_EQ(presence[85], 0.5f);
  EXPECT_LT(presence[99], 1.0f);
  for (std::size_t i = 100; i < 200; ++i)
    ASSERT_EQ(presence[i], 1.0f) << i;
  EXPECT_FLOAT_EQ(presence[224], 0.5f);
  for (std::size_t i = 249; i < 400; ++i)
    ASSERT_EQ(presence[i], 0.0f) << i;
}

TEST(PresenceEnvelope, PausesUpToTheLongestStayDownLongerOnesComeFullyUp) {
  // Pauses of 100, 150 and 600 ms; the longest bridged is 150 ms.
  const std::vector<float> presence = envelopeOf(
      voiceBetween(2000, {{100, 200}, {300, 400}, {550, 650}, {1250, 1350}}), unfiltered(-40, 20, 150, 100));
  for (std::size_t i = 100; i < 650; ++i)
    ASSERT_EQ(presence[i], 1.0f) << "bridged: " << i;
  // The 600 ms pause: the release, then at 0 until the attack before 1250.
  EXPECT_FLOAT_EQ(presence[699], 0.5f);
  for (std::size_t i = 749; i < 1230; ++i)
    ASSERT_EQ(presence[i], 0.0f) << "up: " << i;
  EXPECT_FLOAT_EQ(presence[1240], 0.5f);
  for (std::size_t i = 1250; i < 1350; ++i)
    ASSERT_EQ(presence[i], 1.0f) << i;
}

TEST(PresenceEnvelope, AFallIsNeverCutShortTheReleaseGivesWay) {
  // A 400 ms pause after a 100 ms longest bridged one, with a 300 ms
  // release and a 50 ms attack: the release shrinks to 400 - 250 - 50 =
  // 100 ms, and the music stays fully up for the least time.
  const std::vector<float> presence =
      envelopeOf(voiceBetween(1200, {{100, 200}, {600, 700}}), unfiltered(-40, 50, 100, 300));
  ASSERT_EQ(leastFullLevelMs, 250.0);
  EXPECT_FLOAT_EQ(presence[249], 0.5f);
  for (std::size_t i = 299; i < 550; ++i)
    ASSERT_EQ(presence[i], 0.0f) << i;
  EXPECT_FLOAT_EQ(presence[575], 0.5f);
  // Every value between is on a straight line: down, then up, once each.
  int turns = 0;
  for (std::size_t i = 201; i < 600; ++i)
    turns += (presence[i] > presence[i - 1]) != (presence[i - 1] > presence[i - 2]) &&
             presence[i] != presence[i - 1];
  EXPECT_LE(turns, 1);
}

TEST(PresenceEnvelope, VoiceBelowTheThresholdIsNotPresent) {
  std::vector<float> voice = voiceBetween(300, {{100, 200}});
  for (float& s : voice)
    s *= 0.009f; // -41 dBFS
  const std::vector<float> quiet = envelopeOf(voice, unfiltered(-40.0, 10.0, 300.0, 300.0));
  EXPECT_EQ(*std::max_element(quiet.begin(), quiet.end()), 0.0f);
  const std::vector<float> heard = envelopeOf(voice, unfiltered(-42.0, 10.0, 300.0, 300.0));
  EXPECT_EQ(heard[150], 1.0f);
}

std::vector<float> sineAt(double hertz, double amplitude, std::size_t frames, double sampleRate) {
  std::vector<float> samples(frames);
  for (std::size_t i = 0; i < frames; ++i)
    samples[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hertz * i / sampleRate));
  return samples;
}

TEST(PresenceEnvelope, VoiceBandFilterIgnoresHumButHearsSpeechFrequencies) {
  // Full-scale 50 Hz hum is 24 dB down in the voice band; 1 kHz passes.
  PresenceSettings settings = unfiltered(-15.0, 10.0, 300.0, 300.0);
  settings.voiceBand = true;
  const std::vector<float> hum = envelopeOf(sineAt(50.0, 1.0, 48000, 48000.0), settings, 48000.0);
  EXPECT_EQ(*std::max_element(hum.begin(), hum.end()), 0.0f);
  const std::vector<float> tone = envelopeOf(sineAt(1000.0, 0.5, 48000, 48000.0), settings, 48000.0);
  EXPECT_EQ(tone[24000], 1.0f);
}

TEST(SpeechLevelMeter, FindsTheSpeechLevelAndTheNoiseFloorBetweenWords) {
  // 1 s of a 1 kHz tone at -10 dBFS RMS, then 1 s of it at -40 dBFS RMS.
  const double level = std::sqrt(2.0) * std::pow(10.0, -10.0 / 20.0);
  std::vector<float> voice = sineAt(1000.0, level, 96000, 48000.0);
  for (std::size_t i = 48000; i < voice.size(); ++i)
    voice[i] *= 0.031622777f;
  SpeechLevelMeter meter(48000.0);
  meter.process(voice.data(), static_cast<std::int64_t>(voice.size()));
  ASSERT_TRUE(meter.heard());
  EXPECT_NEAR(meter.speechLevelDbfs(), -10.0, 0.6);
  EXPECT_NEAR(meter.noiseFloorDbfs(), -40.0, 0.6);
}

} // namespace
