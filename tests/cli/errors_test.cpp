// Every way a render can fail: a one-line message saying what went wrong, a
// non-zero status, no output file, no temporary file left behind, and an
// existing output file kept as it was. Also an interrupt during a render.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr const char* earlierContents = "an earlier render, to be kept";

class RenderErrors : public ErrorCaseTest {
protected:
  void SetUp() override {
    ErrorCaseTest::SetUp();
    writeAudio(path("stereo.wav"), {noise(4000, 1, 0.5f), noise(4000, 2, 0.5f)});
    writeAudio(path("mono44.wav"), {noise(4000, 3, 0.5f)}, 44100);
    writeAudio(path("three.wav"), {noise(100, 4, 0.5f), noise(100, 5, 0.5f), noise(100, 6, 0.5f)});
    writeBytes(path("text.wav"), "this is not audio, only text pretending to be a WAV file\n");
    writeBytes(path("text.so"), std::string(200, '#') + "\nnot a shared object, only text\n");
    mkdir(path("folder").c_str(), 0755);
    symlink("stereo.wav", path("link.wav").c_str());
    stereoBytes_ = readBytes(path("stereo.wav"));
  }

  void expectFailure(const RunResult& run) const { expectOneLineError(run, GetParam()); }

  // Only the files SetUp made, and those the test adds, are there, and the
  // input that an output may name is untouched.
  void expectNothingWritten(std::vector<std::string> extra = {}) const {
    EXPECT_EQ(readBytes(path("stereo.wav")), stereoBytes_);
    std::vector<std::string> expected{"stereo.wav", "mono44.wav", "three.wav", "text.wav",
                                      "text.so",    "folder",     "link.wav"};
    expected.insert(expected.end(), extra.begin(), extra.end());
    std::vector<std::string> found = listDirectory(directory());
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
  }

private:
  std::string stereoBytes_;
};

TEST_P(RenderErrors, FailsWithOneLineAndWritesNothing) {
  expectFailure(runTool(expandArguments(GetParam().arguments)));
  expectNothingWritten();
}

TEST_P(RenderErrors, KeepsAnExistingOutputFile) {
  writeBytes(path("out.wav"), earlierContents);
  writeBytes(path("out.png"), earlierContents);
  expectFailure(runTool(expandArguments(GetParam().arguments)));
  EXPECT_EQ(readBytes(path("out.wav")), earlierContents);
  EXPECT_EQ(readBytes(path("out.png")), earlierContents);
  expectNothingWritten({"out.wav", "out.png"});
}

// The arguments the cases build on: a render missing its input, the same
// with the stereo file as its input, and one of the stereo file missing its
// output's name.
const std::vector<std::string> render{"render", "@tandrel", "-o", "@out.wav", "--plot", "@out.png"};
const std::vector<std::string> renderStereo = joined(render, {"-i", "@stereo.wav"});
const std::vector<std::string> renderStereoTo{"render", "@tandrel", "-i", "@stereo.wav", "-o"};

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderErrors,
    ::testing::Values(
        ErrorCase{"MissingInput",
                  joined(render, {"-i", "@missing.wav"}),
                  {"'", "missing.wav' does not exist", "check the path"}},
        ErrorCase{"InputIsADirectory", joined(render, {"-i", "@folder"}), {"folder' is a directory"}},
        ErrorCase{"InputNotAudio",
                  joined(render, {"-i", "@text.wav"}),
                  {"cannot read input file", "text.wav", "libsndfile"}},
        ErrorCase{"DifferentSampleRates",
                  joined(renderStereo, {"-i", "@mono44.wav"}),
                  {"different sample rates", "48000 Hz", "44100 Hz", "resample"}},
        ErrorCase{"TooManyChannels",
                  joined(render, {"-i", "@three.wav"}),
                  {"have 3 channels", "has 2 inputs", "three.wav"}},
        ErrorCase{"TooManyChannelsOverFiles",
                  joined(renderStereo, {"-i", "@stereo.wav"}),
                  {"have 4 channels", "has 2 inputs"}},
        ErrorCase{"UnsupportedOutputFormat",
                  joined(renderStereoTo, {"@out.mp3"}),
                  {"'.mp3'", ".wav, .flac, .aiff, .aif or .ogg"}},
        ErrorCase{
            "PictureNotPng", joined(renderStereoTo, {"@out.wav", "--plot", "@out.jpg"}), {"out.jpg", ".png"}},
        ErrorCase{"ModuleDoesNotLoad",
                  {"render", "@text.so", "-i", "@stereo.wav", "-o", "@out.wav"},
                  {"cannot load module", "text.so", "invalid ELF header"}},
        ErrorCase{"ModuleMissing",
                  {"render", "@nothing.so", "-i", "@stereo.wav", "-o", "@out.wav"},
                  {"cannot load module", "No such file"}},
        ErrorCase{"ModuleWithoutEntryPoint",
                  {"render", "@no-entry", "-i", "@stereo.wav", "-o", "@out.wav"},
                  {"no VSTPluginMain entry point"}},
        ErrorCase{"ModuleAnswersNull",
                  {"render", "@null-entry", "-i", "@stereo.wav", "-o", "@out.wav"},
                  {"answered null"}},
        ErrorCase{"UnknownParameter",
                  joined(renderStereo, {"-p", "Gain=0.5"}),
                  {"unknown parameter 'Gain'", "'Source', 'Ratio x'"},
                  2},
        ErrorCase{
            "ParameterIndexOutOfRange", joined(renderStereo, {"-p", "2=0.5"}), {"index 2", "0 to 1"}, 2},
        ErrorCase{"ValueAboveOne",
                  joined(renderStereo, {"-p", "Source=1.5"}),
                  {"--param", "1.5", "outside 0 to 1"},
                  2},
        ErrorCase{"ValueBelowZero", joined(renderStereo, {"-p", "1=-0.1"}), {"-0.1", "outside 0 to 1"}, 2},
        ErrorCase{"ValueNotANumber", joined(renderStereo, {"-p", "1=half"}), {"'half'", "not a number"}, 2},
        ErrorCase{"ValueNaN", joined(renderStereo, {"-p", "1=nan"}), {"outside 0 to 1"}, 2},
        ErrorCase{"SettingWithoutValue", joined(renderStereo, {"-p", "Source"}), {"not NAME=VALUE"}, 2},
        ErrorCase{"OutputDirectoryMissing",
                  joined(renderStereoTo, {"@nowhere/out.wav"}),
                  {"cannot write output file", "nowhere/out.wav", "No such file or directory"}},
        ErrorCase{"OutputIsADirectory", joined(renderStereoTo, {"@folder"}), {"folder' is a directory"}},
        ErrorCase{"OutputIsTheInput",
                  joined(renderStereoTo, {"@stereo.wav"}),
                  {"stereo.wav' is the input file", "choose another output name"}},
        ErrorCase{"OutputIsTheInputByAnotherPath",
                  joined(renderStereoTo, {"@./stereo.wav"}),
                  {"./stereo.wav' is the input file", "choose another output name"}},
        ErrorCase{"OutputIsALinkToTheInput",
                  joined(renderStereoTo, {"@link.wav"}),
                  {"link.wav' is the input file", "stereo.wav'"}},
        ErrorCase{"PictureDirectoryMissing",
                  joined(renderStereoTo, {"@out.wav", "--plot", "@nowhere/out.png"}),
                  {"cannot write output file", "nowhere/out.png"}}),
    errorCaseName);

class RenderInterrupt : public ToolTest, public ::testing::WithParamInterface<int> {};

// The render reads a stream that delivers a little audio and then stalls;
// the signal arrives while the tool waits in the middle of the render.
TEST_P(RenderInterrupt, StopsAndLeavesTheOutputAsItWas) {
  const std::string stream = path("stream.wav");
  writeBytes(path("out.wav"), earlierContents);
  int status = -1;
  ASSERT_NO_FATAL_FAILURE(interruptMidStream(
      {"render", modulePath, "-i", stream, "-o", path("out.wav"), "-q"}, stream, GetParam(), status));

  EXPECT_EQ(status, 130);
  EXPECT_EQ(readBytes(path("out.wav")), earlierContents);
  std::vector<std::string> left = listDirectory(directory());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"out.wav", "stream.wav"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, RenderInterrupt, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "Interrupt" : "Terminate"; });

} // namespace
} // namespace cli_test
