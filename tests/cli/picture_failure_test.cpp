// A picture that cannot be written once the audio is complete (its folder
// removed while the job runs): `render` and `duck` put the audio, and the
// files noted beside it, in place before the picture, so they stay written,
// exactly as a run without a picture writes them, and the one error line
// says what is written and what is not.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "cli_support.hpp"

namespace cli_test {
namespace {

struct PictureCase {
  const char* name;
  // "@music.wav" is the music (a file for the run without a picture, a
  // stream for the run that loses its picture), "@out.wav" the output.
  std::vector<std::string> arguments;
  const char* beside = nullptr; // a file the job writes beside the audio
};

void PrintTo(const PictureCase& c, std::ostream* out) { *out << c.name; }

class PictureFailsAfterAudio : public ToolTest, public ::testing::WithParamInterface<PictureCase> {
protected:
  // The case's arguments with `from` replaced by `to`, then expanded.
  std::vector<std::string> argumentsWith(const std::string& from, const std::string& to) const {
    std::vector<std::string> arguments = GetParam().arguments;
    std::replace(arguments.begin(), arguments.end(), from, to);
    return expandArguments(arguments);
  }
};

TEST_P(PictureFailsAfterAudio, LeavesTheAudioWrittenAndSaysSo) {
  const PictureCase& c = GetParam();
  const Channels music{noise(4 * 65536, 1, 0.5f), bursts(4 * 65536, 20000, 20000, 2, 0.5f)};
  writeAudio(path("music.wav"), music);
  writeAudio(path("voice.wav"), {bursts(3 * 22050, 5000, 5000, 3, 0.5f)}, 22050);

  // What the job writes with no picture asked for.
  const RunResult reference = runTool(argumentsWith("@out.wav", "@expected.wav"));
  ASSERT_EQ(reference.status, 0) << reference.err;
  std::vector<std::string> expectedFiles{"music.wav", "voice.wav", "stream.wav", "expected.wav", "out.wav"};
  if (c.beside != nullptr) {
    std::filesystem::rename(path(c.beside), path(std::string("expected-") + c.beside));
    expectedFiles.insert(expectedFiles.end(), {c.beside, std::string("expected-") + c.beside});
  }

  ASSERT_EQ(mkdir(path("pictures").c_str(), 0755), 0);
  std::vector<std::string> arguments = argumentsWith("@music.wav", "@stream.wav");
  arguments.insert(arguments.end(), {"--plot", path("pictures/out.png")});
  RunResult run;
  ASSERT_NO_FATAL_FAILURE(runAroundStream(
      arguments, path("stream.wav"), music, [this] { std::filesystem::remove_all(path("pictures")); }, run));

  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, "");
  const std::string picture = "'" + path("pictures/out.png") + "'";
  const std::string written = c.beside == nullptr
                                  ? "the audio '" + path("out.wav") + "' is"
                                  : "the audio '" + path("out.wav") + "' and '" + path(c.beside) + "' are";
  // One line (a sanitizer's runtime may add its own report after it).
  const std::string line = run.err.substr(0, run.err.find('\n') + 1);
  EXPECT_EQ(line.rfind("tandrel: cannot write picture " + picture + ": ", 0), 0u) << run.err;
  const std::string ending = "; " + written + " written, the picture " + picture + " is not\n";
  EXPECT_TRUE(line.size() > ending.size() &&
              line.compare(line.size() - ending.size(), ending.size(), ending) == 0)
      << run.err;
  EXPECT_EQ(run.err.find("tandrel: ", line.size()), std::string::npos) << run.err;

  EXPECT_TRUE(sameAudio(path("expected.wav"), path("out.wav")));
  if (c.beside != nullptr) {
    EXPECT_EQ(readBytes(path(c.beside)), readBytes(path(std::string("expected-") + c.beside)));
  }
  std::vector<std::string> found = listDirectory(directory());
  std::sort(found.begin(), found.end());
  std::sort(expectedFiles.begin(), expectedFiles.end());
  EXPECT_EQ(found, expectedFiles);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PictureFailsAfterAudio,
    ::testing::Values(PictureCase{"Render",
                                  {"render", "@tandrel", "-i", "@music.wav", "-o", "@out.wav", "-q"}},
                      PictureCase{"Duck",
                                  {"duck", "--music", "@music.wav", "--voice", "@voice.wav", "-o", "@out.wav",
                                   "--mix", "--envelope", "@gain.csv", "-q"},
                                  "gain.csv"}),
    [](const ::testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace cli_test
