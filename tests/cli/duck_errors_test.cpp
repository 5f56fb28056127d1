// `tandrel duck` when it cannot do the job: one line saying what to do, no
// output, nothing left behind, earlier files kept, no input overwritten;
// and long inputs streamed, not loaded.
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr const char* earlierContents = "an earlier job, to be kept";

class DuckErrors : public ToolTest, public ::testing::WithParamInterface<ErrorCase> {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeAudio(path("music.wav"), {noise(4000, 1, 0.5f), noise(4000, 2, 0.5f)});
    writeAudio(path("voice.wav"), {bursts(3000, 500, 500, 3, 0.5f)}, 22050);
    writeBytes(path("text.wav"), "this is not audio, only text pretending to be a WAV file\n");
    ASSERT_EQ(link(path("music.wav").c_str(), path("music-link.wav").c_str()), 0);
    writeBytes(path("out.wav"), earlierContents);
    writeBytes(path("out.png"), earlierContents);
  }

  std::vector<std::string> arguments() const {
    std::vector<std::string> result = expandArguments(GetParam().arguments);
    result.insert(result.begin(), "duck");
    return result;
  }
};

TEST_P(DuckErrors, FailsWithOneLineAndKeepsEveryFile) {
  const std::string music = readBytes(path("music.wav"));
  const std::string voice = readBytes(path("voice.wav"));
  const RunResult run = runTool(arguments());
  expectOneLineError(run, GetParam());
  EXPECT_EQ(readBytes(path("music.wav")), music);
  EXPECT_EQ(readBytes(path("voice.wav")), voice);
  EXPECT_EQ(readBytes(path("out.wav")), earlierContents);
  EXPECT_EQ(readBytes(path("out.png")), earlierContents);
  std::vector<std::string> found = listDirectory(directory());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"music-link.wav", "music.wav", "out.png", "out.wav", "text.wav",
                                             "voice.wav"}));
}

const std::vector<std::string> both{"--music", "@music.wav", "--voice", "@voice.wav"};

std::vector<std::string> with(std::vector<std::string> more, const std::vector<std::string>& base = both) {
  more.insert(more.begin(), base.begin(), base.end());
  return more;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DuckErrors,
    ::testing::Values(
        ErrorCase{"MusicMissing",
                  {"--music", "@none.wav", "--voice", "@voice.wav", "-o", "@out.wav"},
                  {"none.wav' does not exist", "check the path"}},
        ErrorCase{"VoiceNotAudio",
                  {"--music", "@music.wav", "--voice", "@text.wav", "-o", "@out.wav"},
                  {"cannot read input file", "text.wav", "libsndfile"}},
        ErrorCase{"OutputIsTheMusic",
                  with({"-o", "@music.wav"}),
                  {"is the input file", "choose another output name"}},
        ErrorCase{"OutputIsTheVoiceSpelledOtherwise", with({"-o", "@./voice.wav"}), {"is the input file"}},
        ErrorCase{"OutputIsALinkToTheMusic", with({"-o", "@music-link.wav"}), {"is the input file"}},
        ErrorCase{"PictureIsTheVoice",
                  with({"-o", "@out.wav", "--plot", "@voice.wav"}),
                  {"picture", "is the input file"}},
        ErrorCase{"DepthNegative",
                  with({"-o", "@out.wav", "--depth", "-3"}),
                  {"--depth: -3", "0 to 100 dB", "(see tandrel duck --help)"},
                  2},
        ErrorCase{"ThresholdAboveFullScale",
                  with({"-o", "@out.wav", "--threshold", "6"}),
                  {"--threshold: 6", "dBFS"},
                  2},
        ErrorCase{"ReleaseNegative", with({"-o", "@out.wav", "--release", "-1"}), {"--release: -1"}, 2},
        ErrorCase{"GainNotFinite", with({"-o", "@out.wav", "--voice-gain", "inf"}), {"--voice-gain"}, 2},
        ErrorCase{"UnsupportedOutputFormat", with({"-o", "@out.mp3"}), {"'.mp3'", ".wav, .flac"}},
        ErrorCase{"EnvelopeIsTheMusic",
                  with({"-o", "@out.wav", "--envelope", "@music-link.wav"}),
                  {"envelope", "is the input file", "choose another envelope name"}},
        ErrorCase{"LabelsAreTheVoice",
                  with({"-o", "@out.wav", "--labels", "@voice.wav"}),
                  {"label track", "is the input file"}},
        ErrorCase{"LabelsAreThePicture",
                  with({"-o", "@out.wav", "--plot", "@out.png", "--labels", "@./out.png"}),
                  {"the label track", "is also written as another of the job's files"},
                  2},
        ErrorCase{"EnvelopeIsTheOutput",
                  with({"-o", "@out.wav", "--envelope", "@out.wav"}),
                  {"the envelope", "is also written as another"},
                  2},
        ErrorCase{"PictureNotPng", with({"-o", "@out.wav", "--plot", "@out.jpg"}), {"out.jpg", ".png"}},
        ErrorCase{"OutputDirectoryMissing", with({"-o", "@nowhere/out.wav"}), {"nowhere/out.wav"}},
        ErrorCase{"ModuleWithoutEntryPoint",
                  with({"-o", "@out.wav", "--plot", "@out.png", "--module", "@no-entry"}),
                  {"no VSTPluginMain entry point"}}),
    [](const auto& info) { return std::string(info.param.name); });

using DuckStreaming = ToolTest;

// The music arrives as a stream that delivers a little audio and stalls;
// the signal arrives while the job waits in its middle.
class DuckStopSignals : public ToolTest, public ::testing::WithParamInterface<int> {};

// SIGINT from the keyboard, SIGTERM from a job control, SIGHUP from a
// closed terminal: each stops the job and leaves no partial file.
TEST_P(DuckStopSignals, InterruptLeavesEveryFileAsItWas) {
  const std::string stream = path("music.wav");
  writeAudio(path("voice.wav"), {bursts(48000, 500, 500, 3, 0.5f)}, 22050);
  writeBytes(path("out.wav"), earlierContents);
  int status = -1;
  ASSERT_NO_FATAL_FAILURE(
      interruptMidStream({"duck", "--music", stream, "--voice", path("voice.wav"), "-o", path("out.wav"),
                          "--mix", "--plot", path("out.png"), "--envelope", path("gain.csv"), "--labels",
                          path("labels.txt"), "--loudness", "-16", "--bits", "16", "-q"},
                         stream, GetParam(), status));

  EXPECT_EQ(status, 130);
  EXPECT_EQ(readBytes(path("out.wav")), earlierContents);
  std::vector<std::string> left = listDirectory(directory());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"music.wav", "out.wav", "voice.wav"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, DuckStopSignals, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// Writes `frames` frames of a 220 Hz tone in pieces, never the whole file
// in memory.
void writeLongTone(const std::string& path, std::int64_t frames, int rate, int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<float> piece(static_cast<std::size_t>(65536 * channels));
  for (std::int64_t first = 0; first < frames; first += 65536) {
    const std::int64_t count = std::min<std::int64_t>(65536, frames - first);
    for (std::int64_t i = 0; i < count; ++i)
      for (int c = 0; c < channels; ++c)
        piece[static_cast<std::size_t>(i * channels + c)] =
            0.3f * static_cast<float>(std::sin(0.0288 * static_cast<double>(first + i) * (c + 1)));
    ASSERT_EQ(sf_writef_float(file, piece.data(), count), count);
  }
  sf_close(file);
}

// Runs the tool and answers its peak resident memory in kilobytes.
long peakResidentKilobytes(const std::vector<std::string>& arguments) {
  const pid_t pid = startTool(arguments);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss;
}

TEST_F(DuckStreaming, LongInputsDoNotGrowMemory) {
  const auto run = [this](const std::string& name, std::int64_t seconds) {
    writeLongTone(path(name + "-music.wav"), seconds * 48000, 48000, 2);
    writeLongTone(path(name + "-voice.wav"), seconds * 22050, 22050, 1);
    const long kilobytes = peakResidentKilobytes(
        {"duck", "--music", path(name + "-music.wav"), "--voice", path(name + "-voice.wav"), "--output",
         path(name + "-out.wav"), "--mix", "--plot", path(name + ".png"), "--loudness", "-16", "--bits", "16",
         "--envelope", path(name + ".csv"), "--labels", path(name + ".txt"), "-q"});
    std::remove(path(name + "-music.wav").c_str());
    std::remove(path(name + "-voice.wav").c_str());
    std::remove(path(name + "-out.wav").c_str());
    std::remove(path(name + ".csv").c_str());
    return kilobytes;
  };
  const long short_ = run("short", 5);
  const long long_ = run("long", 200); // 77 MB of music, 18 MB of voice
  ASSERT_GT(short_, 0);
  ASSERT_GT(long_, 0);
  EXPECT_LT(long_ - short_, 4 * 1024)
      << "peak resident memory: " << short_ << " kB for 5 s, " << long_ << " kB for 200 s";
}

} // namespace
} // namespace cli_test
