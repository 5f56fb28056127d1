// `tandrel render` on Tandrel: the files it writes hold exactly what the
// module produces when driven directly, whatever the block size, lined up
// with the input when latency compensation is on.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr int rate = 48000;
constexpr int latency = 256;
constexpr std::size_t length = 20011; // not a multiple of any block size tested

// Music-like noise on channel 0, a bursting control on channel 1.
Channels testSignal() { return {noise(length, 11, 0.5f), bursts(length, 900, 700, 12, 0.8f)}; }

struct BlockCase {
  int blockSize;
  const char* source; // the value given for "Source"
  float sourceValue;
};

class RenderBlockSizes : public ToolTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(RenderBlockSizes, OutputEqualsTheModuleDrivenDirectly) {
  const BlockCase& c = GetParam();
  const Channels input = testSignal();
  writeAudio(path("in.wav"), input);
  const RunResult run = runTool({"render", modulePath, "--input", path("in.wav"), "--output", path("out.wav"),
                                 "--block", std::to_string(c.blockSize), "--param",
                                 std::string("Source=") + c.source, "--param", "Ratio x=0.6", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");

  const AudioFile out = readAudio(path("out.wav"));
  EXPECT_EQ(out.sampleRate, rate);
  EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const Channels expected = renderDirectly(modulePath, input, rate, 512, {{0, c.sourceValue}, {1, 0.6f}});
  ASSERT_EQ(out.channels.size(), 2u);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_TRUE(sameBits(expected[0], out.channels[0]));
  EXPECT_TRUE(sameBits(expected[1], out.channels[1]));
}

INSTANTIATE_TEST_SUITE_P(Blocks, RenderBlockSizes,
                         ::testing::Values(BlockCase{1, "1", 1.0f}, BlockCase{37, "1", 1.0f},
                                           BlockCase{512, "1", 1.0f}, BlockCase{4096, "1", 1.0f},
                                           BlockCase{37, "0.49", 0.49f}, BlockCase{4096, "0", 0.0f}),
                         [](const auto& info) {
                           return "Block" + std::to_string(info.param.blockSize) + "Source" +
                                  std::to_string(static_cast<int>(info.param.sourceValue * 100));
                         });

class RenderLatency : public ToolTest {
protected:
  // An impulse of 0.75 at each given frame of the audio, silent control.
  void writeImpulses(const std::vector<std::size_t>& frames) {
    Channels input{std::vector<float>(5000, 0.0f), std::vector<float>(5000, 0.0f)};
    for (const std::size_t frame : frames)
      input[0][frame] = 0.75f;
    writeAudio(path("impulse.wav"), input);
  }
  // The frames at which channel `c` is not zero.
  static std::vector<std::size_t> soundingFrames(const AudioFile& file, std::size_t c) {
    std::vector<std::size_t> frames;
    for (std::size_t i = 0; i < file.channels[c].size(); ++i)
      if (file.channels[c][i] != 0.0f) frames.push_back(i);
    return frames;
  }
};

TEST_F(RenderLatency, CompensatedImpulsesComeOutAtTheirInputFrames) {
  writeImpulses({1000, 4997});
  const RunResult run =
      runTool({"render", modulePath, "-i", path("impulse.wav"), "-o", path("out.wav"), "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  const AudioFile out = readAudio(path("out.wav"));
  ASSERT_EQ(out.channels.size(), 2u);
  EXPECT_EQ(out.frames(), 5000);
  for (std::size_t c = 0; c < 2; ++c) {
    EXPECT_EQ(soundingFrames(out, c), (std::vector<std::size_t>{1000, 4997}));
    EXPECT_EQ(out.channels[c][1000], 0.75f);
    EXPECT_EQ(out.channels[c][4997], 0.75f);
  }
}

TEST_F(RenderLatency, UncompensatedImpulseComesTheDelayLater) {
  writeImpulses({1000, 4900});
  const RunResult run = runTool({"render", modulePath, "-i", path("impulse.wav"), "-o", path("out.wav"),
                                 "--no-latency-compensation", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  const AudioFile out = readAudio(path("out.wav"));
  EXPECT_EQ(out.frames(), 5000);
  // The second impulse would come out after the end of the file.
  for (std::size_t c = 0; c < 2; ++c)
    EXPECT_EQ(soundingFrames(out, c), (std::vector<std::size_t>{1000 + latency}));
}

TEST_F(RenderLatency, SummaryReportsTheLatency) {
  writeImpulses({10});
  const RunResult run = runTool({"render", modulePath, "-i", path("impulse.wav"), "-o", path("out.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "wrote " + path("out.wav") +
                         ": 2 channels, 48000 Hz, 5000 frames (0.104 s); latency 256 frames (compensated)\n");
}

using RenderParameters = ToolTest;

TEST_F(RenderParameters, ByNameAndByIndexGiveTheSameFile) {
  writeAudio(path("in.wav"), testSignal());
  const std::vector<std::vector<std::string>> spellings{
      {"--param", "Source=0.3", "--param", "Ratio x=0.9"},
      {"--param", "0=0.3", "--param", "1=0.9"},
      {"--param", " Source =0.3", "-p", "Ratio x =0.9"}, // blanks around the name
      {"-p", "0=1", "-p", "Source=0.3", "-p", "1=0.9"},  // the last setting wins
  };
  for (std::size_t k = 0; k < spellings.size(); ++k) {
    std::vector<std::string> arguments{
        "render", modulePath, "-i", path("in.wav"), "-o", path("out" + std::to_string(k) + ".wav"), "-q"};
    arguments.insert(arguments.end(), spellings[k].begin(), spellings[k].end());
    const RunResult run = runTool(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    if (k > 0) {
      EXPECT_TRUE(sameAudio(path("out0.wav"), path("out" + std::to_string(k) + ".wav")));
    }
  }
  const Channels expected = renderDirectly(modulePath, testSignal(), rate, 512, {{0, 0.3f}, {1, 0.9f}});
  EXPECT_TRUE(sameBits(expected[0], readAudio(path("out0.wav")).channels[0]));
}

using RenderChannels = ToolTest;

TEST_F(RenderChannels, FilesFeedTheInputsInOrder) {
  const Channels input = testSignal();
  writeAudio(path("stereo.wav"), input);
  writeAudio(path("audio.wav"), {input[0]});
  writeAudio(path("control.wav"), {input[1]});
  ASSERT_EQ(runTool({"render", modulePath, "-i", path("stereo.wav"), "-o", path("a.wav"), "-q"}).status, 0);
  ASSERT_EQ(runTool({"render", modulePath, "-i", path("audio.wav"), "-i", path("control.wav"), "-o",
                     path("b.wav"), "-q"})
                .status,
            0);
  EXPECT_TRUE(sameAudio(path("a.wav"), path("b.wav")));
}

TEST_F(RenderChannels, MissingChannelsAreSilent) {
  const Channels input = testSignal();
  writeAudio(path("audio.wav"), {input[0]});
  const RunResult run = runTool({"render", modulePath, "-i", path("audio.wav"), "-o", path("out.wav"), "-q"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "tandrel: warning: module input 1 gets no channel from the input files and receives silence\n");
  const Channels expected = renderDirectly(modulePath, {input[0]}, rate, 512, {});
  EXPECT_TRUE(sameBits(expected[0], readAudio(path("out.wav")).channels[0]));
}

// Inputs without a file channel get silence in every chunk, even from a
// module that scribbles on its input buffers; the first of them included.
TEST_F(RenderChannels, InputsWithoutAChannelStaySilentInEveryChunk) {
  const std::vector<float> audio = noise(70000, 21, 0.5f); // more than one chunk of 65536 frames
  writeAudio(path("mono.wav"), {audio});
  const RunResult run =
      runTool({"render", countsModulePath, "-i", path("mono.wav"), "-o", path("out.wav"), "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err,
            "tandrel: warning: module inputs 1 and 2 get no channel from the input files and receive "
            "silence\n");
  const AudioFile out = readAudio(path("out.wav"));
  ASSERT_EQ(out.channels.size(), 2u);
  EXPECT_TRUE(sameBits(std::vector<float>(audio.size(), 0.0f), out.channels[0]));
  EXPECT_TRUE(sameBits(audio, out.channels[1]));
}

TEST_F(RenderChannels, ShorterFileIsPaddedWithSilence) {
  const Channels input = testSignal();
  std::vector<float> shortControl(input[1].begin(), input[1].begin() + 7000);
  writeAudio(path("audio.wav"), {input[0]});
  writeAudio(path("control.wav"), {shortControl});
  const RunResult run = runTool({"render", modulePath, "-i", path("audio.wav"), "-i", path("control.wav"),
                                 "-o", path("out.wav"), "-q"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "tandrel: warning: the input files have different lengths ('" + path("audio.wav") +
                         "' 20011 frames, '" + path("control.wav") +
                         "' 7000 frames); the shorter ones are padded with silence\n");
  shortControl.resize(length, 0.0f);
  const Channels expected = renderDirectly(modulePath, {input[0], shortControl}, rate, 512, {});
  const AudioFile out = readAudio(path("out.wav"));
  EXPECT_EQ(out.frames(), static_cast<std::int64_t>(length));
  EXPECT_TRUE(sameBits(expected[0], out.channels[0]));
}

struct FormatCase {
  const char* name;
  int format;
};

class RenderFormats : public ToolTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RenderFormats, ExtensionChoosesTheFormat) {
  const Channels input = testSignal();
  writeAudio(path("in.wav"), input, 44100);
  const RunResult run =
      runTool({"render", modulePath, "-i", path("in.wav"), "-o", path(GetParam().name), "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  const AudioFile out = readAudio(path(GetParam().name));
  EXPECT_EQ(out.format, GetParam().format);
  EXPECT_EQ(out.sampleRate, 44100);
  ASSERT_EQ(out.channels.size(), 2u);
  EXPECT_EQ(out.frames(), static_cast<std::int64_t>(length));
  if ((GetParam().format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24) {
    // 24-bit samples: within a step of the float result (libsndfile's
    // conversions round, but scale by 2^31 - 1 on the way out).
    const Channels expected = renderDirectly(modulePath, input, 44100, 512, {});
    for (std::size_t i = 0; i < length; ++i)
      ASSERT_NEAR(out.channels[0][i], expected[0][i], 1.0 / 8388608.0) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Extensions, RenderFormats,
                         ::testing::Values(FormatCase{"out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                                           FormatCase{"out.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
                                           FormatCase{"out.AIF", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
                                           FormatCase{"out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                                           FormatCase{"out.WAV", SF_FORMAT_WAV | SF_FORMAT_FLOAT}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           name.erase(name.find('.'), 1);
                           return name;
                         });

// A float WAV file as readers take it without a remark: a plain float format
// chunk with its extension size (18 bytes), then a padding chunk where the
// extensible chunk's other 22 bytes were, so the samples stay where
// libsndfile put them; sox opens it without a warning.
using RenderWavHeader = ToolTest;

TEST_F(RenderWavHeader, FloatWavHasTheFormatChunkReadersTakeWithoutWarning) {
  writeAudio(path("in.wav"), testSignal());
  ASSERT_EQ(runTool({"render", modulePath, "-i", path("in.wav"), "-o", path("out.wav"), "-q"}).status, 0);
  const std::string header = readBytes(path("out.wav")).substr(12, 48);
  const std::string fmt("fmt \x12\0\0\0\x03\0\x02\0", 12);
  EXPECT_EQ(header.substr(0, 12), fmt);
  EXPECT_EQ(header.substr(24, 12), std::string("\0\0JUNK\x0e\0\0\0\0\0", 12));
  if (std::system("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox is not installed";
  std::FILE* sox = popen(("sox --i '" + path("out.wav") + "' 2>&1").c_str(), "r");
  ASSERT_NE(sox, nullptr);
  std::string said;
  char line[512];
  while (std::fgets(line, sizeof line, sox) != nullptr)
    said += line;
  ASSERT_EQ(pclose(sox), 0) << said;
  EXPECT_EQ(said.find("WARN"), std::string::npos) << said;
  EXPECT_NE(said.find("32-bit Floating Point PCM"), std::string::npos) << said;
}

// The width and height in a PNG file's header.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::string& bytes) {
  const auto word = [&bytes](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k)
      value = value << 8 | static_cast<unsigned char>(bytes[at + k]);
    return value;
  };
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  return {word(16), word(20)};
}

using RenderPictures = ToolTest;

TEST_F(RenderPictures, PlotWritesAPictureBesideTheAudio) {
  writeAudio(path("in.wav"), testSignal());
  const RunResult run =
      runTool({"render", modulePath, "-i", path("in.wav"), "-o", path("out.wav"), "--plot", path("out.png")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("wrote " + path("out.png")), std::string::npos) << run.out;
  EXPECT_EQ(pngSize(readBytes(path("out.png"))), (std::pair<std::uint32_t, std::uint32_t>{1400, 900}));
}

TEST_F(RenderPictures, DemoWritesTheDuckedMixAndItsPicture) {
  const RunResult run = runTool({"demo", "--output", path("demo.wav"), "--plot", path("demo.png"),
                                 "--save-music", path("music.wav"), "--save-voice", path("voice.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("latency 256 frames (compensated)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("deepest gain measured -12.0 dB"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("22050 Hz (resampled to 48000 Hz)"), std::string::npos) << run.out;
  const AudioFile out = readAudio(path("demo.wav"));
  EXPECT_EQ(out.sampleRate, 48000);
  ASSERT_EQ(out.channels.size(), 2u);
  EXPECT_FALSE(sameBits(out.channels[0], out.channels[1])) << "the demo's music is stereo";
  EXPECT_EQ(out.frames(), 8 * 48000);
  EXPECT_EQ(pngSize(readBytes(path("demo.png"))).first, 1400u);
  // The saved material, ducked and mixed again, gives the demo's output.
  ASSERT_EQ(runTool({"duck", "--music", path("music.wav"), "--voice", path("voice.wav"), "--mix", "-o",
                     path("again.wav"), "-q"})
                .status,
            0);
  EXPECT_TRUE(sameAudio(path("demo.wav"), path("again.wav")));
}

} // namespace
} // namespace cli_test
