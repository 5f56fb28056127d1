// `tandrel duck` with inputs that are not what they should be, and with
// several voices: bad samples replaced and reported, warnings that carry
// their figures, two voice files, one channel of a stereo voice.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr int rate = 48000;

std::vector<float> tone(double hertz, float amplitude, std::size_t frames) {
  std::vector<float> samples(frames);
  for (std::size_t i = 0; i < frames; ++i)
    samples[i] = amplitude *
                 static_cast<float>(std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate));
  return samples;
}

// A voice of 4 s that speaks (a 300 Hz tone) over [from, to) seconds.
std::vector<float> speaking(double from, double to, double length = 4.0) {
  std::vector<float> voice(static_cast<std::size_t>(length * rate), 0.0f);
  const std::vector<float> sound = tone(300.0, 0.3f, voice.size());
  for (auto i = static_cast<std::size_t>(from * rate); i < static_cast<std::size_t>(to * rate); ++i)
    voice[i] = sound[i];
  return voice;
}

double gainDbAt(const std::vector<float>& in, const std::vector<float>& out, double time) {
  const auto first = static_cast<std::size_t>(time * rate);
  double a = 0.0;
  double b = 0.0;
  for (std::size_t i = first; i < first + 480; ++i) {
    a += static_cast<double>(in[i]) * in[i];
    b += static_cast<double>(out[i]) * out[i];
  }
  return 10.0 * std::log10(b / a);
}

class DuckInputs : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    music_ = tone(440.0, 0.25f, 4 * rate);
    writeAudio(path("music.wav"), {music_, music_});
  }
  RunResult duck(const std::vector<std::string>& more) {
    std::vector<std::string> arguments{"duck", "--music", path("music.wav"), "--output", path("out.wav")};
    for (const std::string& argument : more)
      arguments.push_back(argument.rfind('@', 0) == 0 ? path(argument.substr(1)) : argument);
    return runTool(arguments);
  }
  std::vector<float> music_;
};

TEST_F(DuckInputs, NotFiniteSamplesBecomeSilenceWithAWarningAndNeverReachTheOutput) {
  std::vector<float> voice = speaking(1.0, 2.0);
  voice[rate + 4800] = std::numeric_limits<float>::quiet_NaN(); // 1.1 s
  voice[rate + 9600] = std::numeric_limits<float>::infinity();
  writeAudio(path("voice.wav"), {voice});
  std::vector<float> music = music_;
  music[3 * rate] = -std::numeric_limits<float>::infinity();
  writeAudio(path("music.wav"), {music_, music});
  const RunResult run = duck({"--voice", "@voice.wav", "--mix"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find(
                "warning: 1 sample of '" + path("music.wav") +
                "' are not finite numbers (NaN or infinity), the first at 0:03.0 (frame 144000, channel 2); "
                "they are replaced by silence"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("warning: 2 samples of '" + path("voice.wav") +
                         "' are not finite numbers (NaN or infinity), "
                         "the first at 0:01.1 (frame 52800, channel 1)"),
            std::string::npos)
      << run.err;
  const AudioFile out = readAudio(path("out.wav"));
  float peak = 0.0f;
  for (const auto& channel : out.channels)
    for (float sample : channel) {
      ASSERT_TRUE(std::isfinite(sample));
      peak = std::max(peak, std::fabs(sample));
    }
  char expected[64];
  std::snprintf(expected, sizeof expected, "; peak %+.1f dBFS\n", 20.0 * std::log10(peak));
  EXPECT_NE(run.out.find(expected), std::string::npos) << run.out << " (the file's peak: " << expected << ")";
}

TEST_F(DuckInputs, MusicWithoutFramesIsAnError) {
  writeAudio(path("empty.wav"), {std::vector<float>{}, std::vector<float>{}});
  writeAudio(path("voice.wav"), {speaking(1.0, 2.0)});
  const RunResult run =
      runTool({"duck", "--music", path("empty.wav"), "--voice", path("voice.wav"), "-o", path("out.wav")});
  expectOneLineError(run, {"EmptyMusic", {}, {"has no frames", "give a music file with audio in it"}, 1});
  EXPECT_FALSE(exists(path("out.wav")));
}

struct WarningCase {
  const char* name;
  std::vector<float> voice;
  std::vector<std::string> options;
  std::vector<std::string> parts;
};

class DuckWarnings : public DuckInputs, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(DuckWarnings, SaySoWithTheFigures) {
  writeAudio(path("voice.wav"), {GetParam().voice});
  std::vector<std::string> options{"--voice", "@voice.wav", "--quiet"};
  options.insert(options.end(), GetParam().options.begin(), GetParam().options.end());
  const RunResult run = duck(options);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("tandrel: warning: ", 0), 0u) << run.err;
  for (const std::string& part : GetParam().parts)
    EXPECT_NE(run.err.find(part), std::string::npos) << "missing '" << part << "' in: " << run.err;
}

std::vector<float> withNoise(std::vector<float> voice, float amplitude) {
  const std::vector<float> hiss = noise(voice.size(), 4, amplitude);
  for (std::size_t i = 0; i < voice.size(); ++i)
    voice[i] += hiss[i];
  return voice;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DuckWarnings,
    ::testing::Values(
        WarningCase{"Silent",
                    std::vector<float>(4 * rate),
                    {},
                    {"is silent throughout, so the music is never ducked"}},
        WarningCase{"NeverReachesTheThreshold",
                    speaking(1.0, 2.0),
                    {"--threshold", "-3"},
                    {"never reaches the threshold of -3.0 dBFS (its speech level is -13.",
                     "give a lower --threshold"}},
        WarningCase{"PresentAlmostAllTheTime", speaking(0.0, 4.0), {}, {"is present 100.0 % of the time"}},
        WarningCase{"NoiseFloorAboveTheThreshold",
                    withNoise(speaking(1.0, 2.0), 0.03f),
                    {"--threshold", "-50"},
                    {"noise floor of the voice", "sits at or above the threshold of -50.0 dBFS"}},
        WarningCase{"LengthsDifferALot",
                    speaking(1.0, 2.0, 12.0),
                    {},
                    {"the music lasts 0:04.0 and the voice", "0:12.0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DuckInputs, TwoVoicesDuckTheMusicWhileEitherSpeaksEachMixedAtItsGain) {
  writeAudio(path("host.wav"), {speaking(0.5, 1.0)});
  writeAudio(path("guest.wav"), {speaking(2.0, 2.5)}, 24000 * 2);
  ASSERT_EQ(duck({"--voice", "@host.wav", "--voice", "@guest.wav", "--quiet"}).status, 0);
  const AudioFile ducked = readAudio(path("out.wav"));
  for (double at : {0.7, 2.2})
    EXPECT_NEAR(gainDbAt(music_, ducked.channels[0], at), -12.0, 0.05) << at << " s";
  for (double at : {0.2, 1.6, 3.2})
    EXPECT_NEAR(gainDbAt(music_, ducked.channels[0], at), 0.0, 0.05) << at << " s";

  const RunResult mixed = duck(
      {"--voice", "@host.wav", "--voice", "@guest.wav", "--mix", "--voice-gain", "-6", "--voice-gain", "0"});
  ASSERT_EQ(mixed.status, 0) << mixed.err;
  const AudioFile out = readAudio(path("out.wav"));
  const std::vector<float> host = speaking(0.5, 1.0);
  const std::vector<float> guest = speaking(2.0, 2.5);
  for (std::size_t i = 0; i < host.size(); ++i)
    ASSERT_NEAR(out.channels[1][i] - ducked.channels[1][i], 0.5011872f * host[i] + guest[i], 1e-6) << i;
  EXPECT_NE(mixed.out.find("voice '" + path("guest.wav") + "'"), std::string::npos) << mixed.out;
  const RunResult miscount = duck({"--voice", "@host.wav", "--voice", "@guest.wav", "--voice-gain", "-6",
                                   "--voice-gain", "0", "--voice-gain", "1"});
  EXPECT_EQ(miscount.status, 2);
  EXPECT_NE(miscount.err.find("--voice-gain is given 3 times for 2 voices"), std::string::npos)
      << miscount.err;
}

TEST_F(DuckInputs, AVoiceOnOneChannelOfAStereoFileIsDetectedAndMixedAtItsLevel) {
  const std::vector<float> voice = speaking(1.0, 2.0);
  writeAudio(path("right.wav"), {std::vector<float>(voice.size()), voice});
  writeAudio(path("mono.wav"), {voice});
  ASSERT_EQ(duck({"--voice", "@mono.wav", "--mix", "--quiet"}).status, 0);
  const AudioFile expected = readAudio(path("out.wav"));
  const RunResult run = duck({"--voice", "@right.wav", "--voice-channel", "2", "--mix"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("voice '" + path("right.wav") + "' (channel 2)"), std::string::npos) << run.out;
  const AudioFile out = readAudio(path("out.wav"));
  for (std::size_t c = 0; c < 2; ++c)
    EXPECT_TRUE(sameBits(expected.channels[c], out.channels[c])) << "channel " << c;
  EXPECT_NEAR(gainDbAt(music_, out.channels[0], 0.5), 0.0, 0.05);
  const RunResult beyond = duck({"--voice", "@right.wav", "--voice-channel", "3"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.err.find("--voice-channel 3 is beyond the voice's 2 channels"), std::string::npos)
      << beyond.err;
}

TEST_F(DuckInputs, HoldIsRefusedNamingItsReplacement) {
  writeAudio(path("voice.wav"), {speaking(1.0, 2.0)});
  const RunResult run = duck({"--voice", "@voice.wav", "--hold", "300"});
  expectOneLineError(run, {"Hold", {}, {"--hold is replaced by --max-pause", "give --max-pause MS"}, 2});
  EXPECT_FALSE(exists(path("out.wav")));
}

TEST_F(DuckInputs, AFullDiskSaysWhatToDo) {
  writeAudio(path("voice.wav"), {speaking(1.0, 2.0)});
  const std::string small = path("small");
  ASSERT_EQ(std::system(("mkdir '" + small + "'").c_str()), 0);
  if (std::system(("mount -t tmpfs -o size=300k tmpfs '" + small + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
  const RunResult run = runTool({"duck", "--music", path("music.wav"), "--voice", path("voice.wav"),
                                 "--output", small + "/out.wav", "-q"});
  const std::vector<std::string> left = listDirectory(small);
  EXPECT_EQ(std::system(("umount '" + small + "'").c_str()), 0);
  expectOneLineError(
      run, {"DiskFull", {}, {"is full", "free some space there or write the output to another disk"}, 1});
  EXPECT_TRUE(left.empty());
}

} // namespace
} // namespace cli_test
