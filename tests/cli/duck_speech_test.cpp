// `tandrel duck` on real speech with pauses: utterances synthesised by
// espeak-ng, trimmed to their sound and joined by silences of known
// lengths, some shorter than the default --max-pause and some longer, with
// and without a steady noise floor. The music is a steady tone, so the
// gain over time is read from the output directly.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr int rate = 48000;
constexpr std::size_t windowFrames = 480; // 10 ms

const char* const utterances[] = {
    "Welcome back to the show, where we talk about gardens and rivers.",
    "Today, the long road home.",
    "It was a cold morning; the birds were quiet.",
    "Then, suddenly, everything changed.",
    "Nobody came.",
    "We waited, and we waited, until the evening.",
};
// The silences after each utterance but the last, in seconds: three
// within the default --max-pause of 1 s, two beyond it.
constexpr double pauses[] = {0.3, 1.3, 0.6, 2.0, 0.8};
constexpr bool longPause[] = {false, true, false, true, false};

bool haveSpeechSynthesiser() { return std::system("espeak-ng --version >/dev/null 2>&1") == 0; }

double rms(const float* samples, std::size_t count) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i)
    sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(count));
}

// Utterance `n` at 48 kHz, trimmed to its first and last 10 ms window
// within 20 dB of its loudest.
std::vector<float> utterance(const std::string& directory, int n) {
  const std::string file = directory + "/utterance" + std::to_string(n) + ".wav";
  const std::string command = "espeak-ng -w '" + file + "' '" + utterances[n] + "'";
  if (std::system(command.c_str()) != 0) return {};
  const AudioFile spoken = readAudio(file);
  // espeak-ng speaks at 22050 Hz: taken to 48 kHz by linear interpolation,
  // plenty for a level detector.
  const std::vector<float>& in = spoken.channels.at(0);
  std::vector<float> out(static_cast<std::size_t>(static_cast<double>(in.size()) * rate / spoken.sampleRate));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double at = static_cast<double>(i) * spoken.sampleRate / rate;
    const auto k = static_cast<std::size_t>(at);
    const double f = at - static_cast<double>(k);
    out[i] = static_cast<float>((1.0 - f) * in[k] + f * in[std::min(k + 1, in.size() - 1)]);
  }
  double loudest = 0.0;
  for (std::size_t w = 0; w + windowFrames <= out.size(); w += windowFrames)
    loudest = std::max(loudest, rms(out.data() + w, windowFrames));
  std::size_t first = out.size();
  std::size_t last = 0;
  for (std::size_t w = 0; w + windowFrames <= out.size(); w += windowFrames)
    if (rms(out.data() + w, windowFrames) >= loudest * 0.1) {
      first = std::min(first, w);
      last = w + windowFrames;
    }
  return {out.begin() + static_cast<std::ptrdiff_t>(first), out.begin() + static_cast<std::ptrdiff_t>(last)};
}

struct Spoken {
  std::vector<float> voice;
  // Where each pause begins and ends, in frames.
  std::vector<std::pair<std::size_t, std::size_t>> pauses;
  std::size_t speechStart = 0;
  std::size_t speechEnd = 0;
};

Spoken speechWithPauses(const std::string& directory) {
  Spoken spoken;
  spoken.voice.assign(rate / 2, 0.0f);
  spoken.speechStart = spoken.voice.size();
  for (int n = 0; n < 6; ++n) {
    const std::vector<float> words = utterance(directory, n);
    if (words.empty()) return {};
    spoken.voice.insert(spoken.voice.end(), words.begin(), words.end());
    if (n == 5) break;
    const std::size_t start = spoken.voice.size();
    spoken.voice.resize(start + static_cast<std::size_t>(pauses[n] * rate), 0.0f);
    spoken.pauses.emplace_back(start, spoken.voice.size());
  }
  spoken.speechEnd = spoken.voice.size();
  spoken.voice.resize(spoken.voice.size() + rate / 2, 0.0f);
  return spoken;
}

// The gain of each 10 ms window, in dB, of the output against the tone.
std::vector<double> windowGainsDb(const std::vector<float>& in, const std::vector<float>& out) {
  std::vector<double> gains;
  for (std::size_t w = 0; w + windowFrames <= in.size(); w += windowFrames)
    gains.push_back(20.0 * std::log10(rms(out.data() + w, windowFrames) / rms(in.data() + w, windowFrames)));
  return gains;
}

class DuckSpeech : public ToolTest, public ::testing::WithParamInterface<double> {};

// The done-when figures: no pause shorter than --max-pause lifts the music
// by more than 0.5 dB, every longer pause brings it within 0.5 dB of full
// level; with a steady noise floor at -35 dBFS under the voice, the default
// threshold still finds it present only while it speaks.
TEST_P(DuckSpeech, ShortPausesStayDownLongOnesComeFullyUp) {
  if (!haveSpeechSynthesiser())
    GTEST_SKIP() << "espeak-ng is not installed (scripts/install-deps.sh installs it)";
  Spoken spoken = speechWithPauses(directory());
  ASSERT_FALSE(spoken.voice.empty());
  const double noiseDbfs = GetParam();
  if (noiseDbfs < 0.0) {
    // White noise of that RMS level throughout.
    const std::vector<float> hiss =
        noise(spoken.voice.size(), 11, static_cast<float>(std::sqrt(3.0) * std::pow(10.0, noiseDbfs / 20.0)));
    for (std::size_t i = 0; i < hiss.size(); ++i)
      spoken.voice[i] += hiss[i];
  }
  std::vector<float> tone(spoken.voice.size());
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] =
        0.25f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / rate));
  writeAudio(path("music.wav"), {tone, tone});
  writeAudio(path("voice.wav"), {spoken.voice});
  const RunResult run = runTool({"duck", "--music", path("music.wav"), "--voice", path("voice.wav"),
                                 "--output", path("out.wav"), "--depth", "12"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  const std::vector<double> gains = windowGainsDb(tone, readAudio(path("out.wav")).channels[0]);

  const auto windowOf = [](std::size_t frame) { return frame / windowFrames; };
  for (std::size_t p = 0; p < spoken.pauses.size(); ++p) {
    const auto [start, end] = spoken.pauses[p];
    const double highest = *std::max_element(gains.begin() + static_cast<std::ptrdiff_t>(windowOf(start)),
                                             gains.begin() + static_cast<std::ptrdiff_t>(windowOf(end)));
    if (longPause[p])
      EXPECT_GT(highest, -0.5) << "the pause of " << pauses[p] << " s does not come fully up";
    else
      EXPECT_LT(highest, -12.0 + 0.5) << "the pause of " << pauses[p] << " s lifts the music";
  }
  // Between the long pauses' fades, the music is down wherever the voice
  // speaks: from the first word to the last, outside the long pauses.
  for (std::size_t w = windowOf(spoken.speechStart) + 1; w + 1 < windowOf(spoken.speechEnd); ++w) {
    const std::size_t frame = w * windowFrames;
    const bool inLongPause = std::any_of(spoken.pauses.begin(), spoken.pauses.end(), [&](const auto& pause) {
      const std::size_t p = static_cast<std::size_t>(&pause - spoken.pauses.data());
      return longPause[p] && frame + windowFrames > pause.first && frame < pause.second;
    });
    if (!inLongPause) {
      ASSERT_LT(gains[w], -12.0 + 0.5) << "at " << static_cast<double>(frame) / rate << " s";
    }
  }
  // Before the first word and after the release of the last, full level.
  EXPECT_NEAR(gains[windowOf(rate / 4)], 0.0, 0.01);
  EXPECT_NEAR(gains[windowOf(spoken.speechEnd) + 40], 0.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(NoiseFloors, DuckSpeech, ::testing::Values(0.0, -35.0), [](const auto& info) {
  return info.param < 0.0 ? std::string("NoiseFloorMinus35Dbfs") : std::string("Clean");
});

} // namespace
} // namespace cli_test
