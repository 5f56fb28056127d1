// `tandrel duck` end to end: generated music under a speech-like voice
// (syllables in phrases with pauses), through the built executable.
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <sstream>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr int musicRate = 48000;
constexpr double seconds = 4.0;
// Phrases of speech, in seconds; the pause between them (1.05 s from the
// last syllable) is longer than the default --max-pause.
constexpr double phrases[][2] = {{0.5, 1.5}, {2.5, 3.5}};
constexpr double releaseMs = 300.0;

// The end of the last syllable of a phrase, where the release begins (the
// module's look-ahead starts the gain's rise a few milliseconds before).
double lastSyllableEnd(const double (&phrase)[2]) { return phrase[0] + 0.95; }

std::size_t frameAt(double time, int rate) { return static_cast<std::size_t>(std::llround(time * rate)); }

// Syllables of 150 ms with 50 ms gaps inside each phrase: a buzz at 150 Hz
// under a half-sine swell, as voiced speech looks to a level meter.
std::vector<float> speech(int rate, double length = seconds) {
  std::vector<float> voice(frameAt(length, rate), 0.0f);
  for (const auto& phrase : phrases) {
    for (double start = phrase[0]; start + 0.15 <= phrase[1] + 1e-9; start += 0.2) {
      for (std::size_t i = frameAt(start, rate); i < frameAt(start + 0.15, rate) && i < voice.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double swell = std::sin(std::numbers::pi * (t - start) / 0.15);
        double buzz = 0.0;
        for (int harmonic = 1; harmonic <= 8; ++harmonic)
          buzz += std::sin(2.0 * std::numbers::pi * 150.0 * harmonic * t) / harmonic;
        voice[i] = static_cast<float>(0.3 * swell * buzz);
      }
    }
  }
  return voice;
}

std::vector<float> sine(double hertz, float amplitude, std::size_t frames, int rate = musicRate) {
  std::vector<float> samples(frames);
  for (std::size_t i = 0; i < frames; ++i)
    samples[i] = amplitude *
                 static_cast<float>(std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate));
  return samples;
}

// Stereo music whose channels differ: a tone on the left, noise on the right.
Channels stereoMusic(double length = seconds) {
  const std::size_t frames = frameAt(length, musicRate);
  return {sine(440.0, 0.5f, frames), noise(frames, 5, 0.3f)};
}

// The gain applied at each frame where the music is loud enough to tell.
std::vector<double> gainsDb(const std::vector<float>& in, const std::vector<float>& out, std::size_t first,
                            std::size_t last) {
  std::vector<double> gains;
  for (std::size_t i = first; i < last; ++i)
    if (std::fabs(in[i]) > 0.05f) gains.push_back(20.0 * std::log10(out[i] / in[i]));
  return gains;
}

class Duck : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    music_ = stereoMusic();
    writeAudio(path("music.wav"), music_);
    writeAudio(path("voice.wav"), {speech(musicRate)});
  }

  RunResult duck(std::vector<std::string> more, const std::string& voice = "voice.wav",
                 const std::string& output = "out.wav") {
    std::vector<std::string> arguments{"duck",      "--music",  path("music.wav"), "--voice",
                                       path(voice), "--output", path(output)};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return runTool(arguments);
  }

  Channels music_;
};

TEST_F(Duck, StereoStaysStereoAndEachChannelIsDuckedOnItsOwn) {
  const RunResult run = duck({"--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  const AudioFile out = readAudio(path("out.wav"));
  EXPECT_EQ(out.sampleRate, musicRate);
  ASSERT_EQ(out.channels.size(), 2u);
  ASSERT_EQ(out.frames(), static_cast<std::int64_t>(music_[0].size()));
  // Before the voice the music passes untouched, each channel its own.
  const std::size_t quiet = frameAt(phrases[0][0] - 0.05, musicRate);
  for (std::size_t c = 0; c < 2; ++c) {
    std::vector<float> head(music_[c].begin(), music_.at(c).begin() + static_cast<std::ptrdiff_t>(quiet));
    std::vector<float> outHead(out.channels[c].begin(),
                               out.channels[c].begin() + static_cast<std::ptrdiff_t>(quiet));
    EXPECT_TRUE(sameBits(head, outHead)) << "channel " << c;
  }
  // Everywhere, each output channel is its own input times the one gain.
  for (std::size_t i = 0; i < music_[0].size(); ++i) {
    if (std::fabs(music_[0][i]) < 0.05f) continue;
    const double gain = out.channels[0][i] / music_[0][i];
    ASSERT_NEAR(out.channels[1][i], gain * music_[1][i], 1e-6) << "frame " << i;
  }
}

class DuckDepth : public Duck, public ::testing::WithParamInterface<double> {};

TEST_P(DuckDepth, GainUnderTheVoiceIsTheDepthFromItsFirstFrameAndSteady) {
  const double depth = GetParam();
  ASSERT_EQ(duck({"--depth", std::to_string(depth), "--quiet"}).status, 0);
  const AudioFile out = readAudio(path("out.wav"));
  for (const auto& phrase : phrases) {
    const std::vector<double> gains = gainsDb(music_[0], out.channels[0], frameAt(phrase[0], musicRate),
                                              frameAt(lastSyllableEnd(phrase) - 0.01, musicRate));
    ASSERT_FALSE(gains.empty());
    const auto [low, high] = std::minmax_element(gains.begin(), gains.end());
    EXPECT_NEAR(*low, -depth, 0.5) << "phrase at " << phrase[0] << " s";
    EXPECT_NEAR(*high, -depth, 0.5) << "phrase at " << phrase[0] << " s";
    EXPECT_LT(*high - *low, 0.05) << "the gain moves under the voice";
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, DuckDepth, ::testing::Values(3.0, 12.0, 24.0), [](const auto& info) {
  return "Depth" + std::to_string(static_cast<int>(info.param));
});

TEST_F(Duck, APauseLongerThanTheLongestComesFullyUpAShorterOneStaysDown) {
  // The pause between the phrases lasts 1.05 s: longer than the default
  // --max-pause, shorter than 1.2 s.
  ASSERT_EQ(duck({"--quiet"}).status, 0);
  const AudioFile out = readAudio(path("out.wav"));
  const std::size_t from = frameAt(phrases[0][1] + releaseMs / 1000.0, musicRate);
  const std::size_t to = frameAt(phrases[1][0] - 0.02, musicRate);
  for (std::size_t c = 0; c < 2; ++c) {
    const std::vector<float> in(music_[c].begin() + static_cast<std::ptrdiff_t>(from),
                                music_[c].begin() + static_cast<std::ptrdiff_t>(to));
    const std::vector<float> back(out.channels[c].begin() + static_cast<std::ptrdiff_t>(from),
                                  out.channels[c].begin() + static_cast<std::ptrdiff_t>(to));
    EXPECT_TRUE(sameBits(in, back)) << "channel " << c;
  }
  ASSERT_EQ(duck({"--quiet", "--max-pause", "1200", "--threshold", "-40"}).status, 0);
  const AudioFile held = readAudio(path("out.wav"));
  const std::vector<double> gains = gainsDb(music_[0], held.channels[0], frameAt(phrases[0][0], musicRate),
                                            frameAt(phrases[1][1] - 0.05, musicRate));
  ASSERT_FALSE(gains.empty());
  EXPECT_NEAR(*std::max_element(gains.begin(), gains.end()), -12.0, 0.05);
}

struct VoiceFormat {
  const char* name;
  int rate;
  int channels;
};

class DuckVoiceRates : public Duck, public ::testing::WithParamInterface<VoiceFormat> {};

TEST_P(DuckVoiceRates, AnyRateAndChannelCountIsResampledToTheMusic) {
  const VoiceFormat& format = GetParam();
  Channels voice(static_cast<std::size_t>(format.channels), speech(format.rate));
  if (format.channels > 1) voice[1].assign(voice[1].size(), 0.0f); // one silent side: the mean still counts
  writeAudio(path("other.wav"), voice, format.rate);
  const RunResult run = duck({"--mix"}, "other.wav");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(std::to_string(format.rate) + " Hz (resampled to 48000 Hz)"), std::string::npos)
      << run.out;
  const AudioFile out = readAudio(path("out.wav"));
  EXPECT_EQ(out.sampleRate, musicRate);
  EXPECT_EQ(out.channels.size(), 2u);
  EXPECT_EQ(out.frames(), static_cast<std::int64_t>(music_[0].size()));
  // The voice counts as present where it is, and only there.
  ASSERT_EQ(duck({"--quiet"}, "other.wav").status, 0);
  const AudioFile ducked = readAudio(path("out.wav"));
  const std::vector<double> under = gainsDb(music_[0], ducked.channels[0], frameAt(phrases[1][0], musicRate),
                                            frameAt(lastSyllableEnd(phrases[1]) - 0.01, musicRate));
  ASSERT_FALSE(under.empty());
  EXPECT_NEAR(*std::min_element(under.begin(), under.end()), -12.0, 0.5);
  EXPECT_NEAR(*std::max_element(under.begin(), under.end()), -12.0, 0.5);
  EXPECT_EQ(ducked.channels[0][frameAt(2.2, musicRate)], music_[0][frameAt(2.2, musicRate)]);
}

INSTANTIATE_TEST_SUITE_P(Formats, DuckVoiceRates,
                         ::testing::Values(VoiceFormat{"Mono22050", 22050, 1},
                                           VoiceFormat{"Stereo44100", 44100, 2},
                                           VoiceFormat{"Mono16000", 16000, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Duck, MixAddsTheVoiceInTimeWithTheDuckedMusic) {
  ASSERT_EQ(duck({"--quiet"}, "voice.wav", "ducked.wav").status, 0);
  ASSERT_EQ(duck({"--quiet", "--mix", "--voice-gain", "-6"}).status, 0);
  const AudioFile ducked = readAudio(path("ducked.wav"));
  const AudioFile mixed = readAudio(path("out.wav"));
  const std::vector<float> voice = speech(musicRate);
  const float factor = std::pow(10.0f, -6.0f / 20.0f);
  for (std::size_t c = 0; c < 2; ++c)
    for (std::size_t i = 0; i < voice.size(); ++i)
      ASSERT_NEAR(mixed.channels[c][i] - ducked.channels[c][i], factor * voice[i], 1e-6) << "frame " << i;
}

TEST_F(Duck, MixedVoiceAtAnotherRateStartsWhereItStarts) {
  // Silent music, and a tone that starts at 1 s in a 24 kHz voice file.
  writeAudio(path("music.wav"),
             {std::vector<float>(frameAt(2.0, musicRate)), std::vector<float>(frameAt(2.0, musicRate))});
  std::vector<float> tone = sine(1000.0, 0.5f, frameAt(2.0, 24000), 24000);
  std::fill(tone.begin(), tone.begin() + 24000, 0.0f);
  writeAudio(path("tone.wav"), {tone}, 24000);
  ASSERT_EQ(duck({"--quiet", "--mix", "--music-gain", "-20"}, "tone.wav").status, 0);
  const AudioFile out = readAudio(path("out.wav"));
  const auto onset = std::find_if(out.channels[0].begin(), out.channels[0].end(),
                                  [](float s) { return std::fabs(s) > 0.05f; });
  EXPECT_NEAR(static_cast<double>(onset - out.channels[0].begin()), 48000.0, 2.0);
}

TEST_F(Duck, OutputIsAsLongAsTheLongerInput) {
  writeAudio(path("long-voice.wav"), {speech(22050, seconds + 1.5)}, 22050);
  ASSERT_EQ(duck({"--quiet", "--mix"}, "long-voice.wav").status, 0);
  const AudioFile out = readAudio(path("out.wav"));
  EXPECT_EQ(out.frames(), static_cast<std::int64_t>(frameAt(seconds + 1.5, musicRate)));
}

TEST_F(Duck, SummaryAndPictureDescribeTheJob) {
  const RunResult run = duck({"--plot", path("out.png"), "--threshold", "-40"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("tandrel:"), std::string::npos) << run.err; // no warning
  // The voice sounds in 5 syllables of 150 ms in each of 2 phrases: 1.5 s
  // of the 4 s. The music is fully down from the first syllable of each
  // phrase to the end of its last, 0.95 s each: 1.9 s of the 4 s.
  for (const std::string& part : std::vector<std::string>{
           "music: 0:04.0, 2 channels, 48000 Hz\nvoice '" + path("voice.wav") +
               "': 0:04.0, 1 channel, 48000 Hz\n",
           "  present 37.5 % of the time: its 10 ms level (voice band) at or above -40.0 dBFS\n",
           "music fully ducked 47.5 % of the time: under the voice and across pauses up to 1000 ms",
           "depth 12.0 dB (Ratio 0.187203); deepest gain measured -12.0 dB", "wrote " + path("out.wav"),
           "; peak -", "wrote " + path("out.png")})
    EXPECT_NE(run.out.find(part), std::string::npos) << "missing '" << part << "' in: " << run.out;
  const std::string png = readBytes(path("out.png"));
  EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
}

// The warnings of a run about the output's peak.
std::vector<std::string> overloadWarnings(const std::string& err) {
  std::vector<std::string> found;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("tandrel: warning: the output peaks at ", 0) == 0) found.push_back(line);
  return found;
}

TEST_F(Duck, OverloadInAFormatThatClipsIsReportedWithTheGainsThatAvoidIt) {
  writeAudio(path("loud.wav"), {sine(150.0, 0.9f, music_[0].size())});
  const std::vector<std::string> job{"--mix", "--depth", "1",           "--voice-gain",
                                     "2",     "--quiet", "--threshold", "-20"};
  const RunResult run = duck(job, "loud.wav", "out.flac");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(exists(path("out.flac")));
  const std::vector<std::string> warnings = overloadWarnings(run.err);
  ASSERT_EQ(warnings.size(), 1u) << run.err;
  EXPECT_NE(warnings[0].find("+3.96 dBFS, above the full scale of"), std::string::npos) << warnings[0];
  // The gains the warning gives, taken as they are, avoid the overload.
  const std::string::size_type from = warnings[0].find("give --music-gain ");
  ASSERT_NE(from, std::string::npos) << run.err;
  std::istringstream advice(warnings[0].substr(from + 5, warnings[0].find(" (", from) - from - 5));
  std::vector<std::string> fixedJob{"--mix", "--depth", "1", "--threshold", "-20"};
  for (std::string word; advice >> word;)
    fixedJob.push_back(word);
  ASSERT_EQ(fixedJob.size(), 9u) << run.err;
  const RunResult fixed = duck(fixedJob, "loud.wav", "out.flac");
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_TRUE(overloadWarnings(fixed.err).empty()) << fixed.err;
  EXPECT_NE(fixed.out.find("; peak -"), std::string::npos) << fixed.out;
  // The summary gives the peak of the file written: full scale, clipped.
  const RunResult clipped =
      duck({"--mix", "--depth", "1", "--voice-gain", "2", "--threshold", "-20"}, "loud.wav", "out.flac");
  EXPECT_NE(clipped.out.find("; peak +0.0 dBFS (clipped there: the mix reached +4.0 dBFS)"),
            std::string::npos)
      << clipped.out;
  // A float WAV keeps the peaks, and says that players will clip them.
  const RunResult kept =
      duck({"--mix", "--depth", "1", "--voice-gain", "2", "--threshold", "-20"}, "loud.wav");
  EXPECT_NE(kept.out.find("; peak +4.0 dBFS\n"), std::string::npos) << kept.out;
  const std::vector<std::string> floatWarnings = overloadWarnings(kept.err);
  ASSERT_EQ(floatWarnings.size(), 1u) << kept.err;
  EXPECT_NE(floatWarnings[0].find("keeps the peaks as floating point, but players"), std::string::npos);
}

TEST_F(Duck, AnOverloadOfNegativePeaksIsWarnedAndReportedAsThePeak) {
  // Music whose negative half reaches -2 (+6 dBFS) and positive half 0.5.
  std::vector<float> lopsided(music_[0].size());
  for (std::size_t i = 0; i < lopsided.size(); ++i)
    lopsided[i] = i % 100 < 50 ? 0.5f : -2.0f;
  writeAudio(path("music.wav"), {lopsided});
  writeAudio(path("quiet.wav"), {std::vector<float>(lopsided.size())});
  const RunResult run = duck({}, "quiet.wav", "out.flac");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> warnings = overloadWarnings(run.err);
  ASSERT_EQ(warnings.size(), 1u) << run.err;
  EXPECT_NE(warnings[0].find("+6.02 dBFS"), std::string::npos) << warnings[0];
  EXPECT_NE(run.out.find("peak +0.0 dBFS (clipped there: the mix reached +6.0 dBFS)"), std::string::npos)
      << run.out;
  const AudioFile out = readAudio(path("out.flac"));
  EXPECT_EQ(*std::min_element(out.channels[0].begin(), out.channels[0].end()), -1.0f);
}

} // namespace
} // namespace cli_test
