// A picture that cannot be written once the audio is complete (its folder
// removed while the job runs, or its file on a full device): `render` and
// `duck` put the audio, and the files noted beside it, in place before the
// picture, so they stay written, exactly as a run without a picture writes
// them. What the run prints about the written audio (warnings, summary) is
// what a run without a picture prints, and the last line is the error: what
// is written, what is not and, for a full disk, what to do.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli_support.hpp"

namespace cli_test {
namespace {

// How the picture fails once the audio is in place.
enum class PictureFault {
  folderGone, // its folder removed: the picture cannot be created
  diskFull,   // its file on a device that is full (/dev/full)
};

struct PictureCase {
  const char* name;
  // "@music.wav" is the music (a file for the run without a picture, a
  // stream for the run that loses its picture), "@out.wav" the output.
  std::vector<std::string> arguments;
  const char* beside = nullptr; // a file the job writes beside the audio
  PictureFault fault = PictureFault::folderGone;
};

void PrintTo(const PictureCase& c, std::ostream* out) { *out << c.name; }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class PictureFailsAfterAudio : public ToolTest, public ::testing::WithParamInterface<PictureCase> {
protected:
  // The case's arguments with `from` replaced by `to`, then expanded.
  std::vector<std::string> argumentsWith(const std::string& from, const std::string& to) const {
    std::vector<std::string> arguments = GetParam().arguments;
    std::replace(arguments.begin(), arguments.end(), from, to);
    return expandArguments(arguments);
  }

  // What the run without a picture printed, as the run that loses its
  // picture names its files.
  std::string asNamedInRun(const std::string& text) const {
    return replaced(replaced(text, path("expected.wav"), path("out.wav")), path("music.wav"),
                    path("stream.wav"));
  }

  // Done while the job waits for the rest of its music.
  void breakPicture() const {
    if (GetParam().fault == PictureFault::folderGone) {
      std::filesystem::remove_all(path("pictures"));
      return;
    }
    // The picture's temporary file becomes a link to a device that is
    // always full: the job writes the picture through it.
    const std::vector<std::string> pending = listDirectory(path("pictures"));
    ASSERT_EQ(pending.size(), 1u);
    const std::string temporary = path("pictures/" + pending.front());
    ASSERT_EQ(unlink(temporary.c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", temporary.c_str()), 0);
  }

  // The error's one line.
  std::string errorLine(const std::string& written) const {
    const std::string picture = "'" + path("pictures/out.png") + "'";
    const std::string fault = "; " + written + " written, the picture " + picture + " is not";
    if (GetParam().fault == PictureFault::folderGone)
      return "tandrel: cannot write picture " + picture + ": " + std::strerror(ENOENT) + fault + "\n";
    const std::string full = std::strerror(ENOSPC);
    return "tandrel: cannot write picture " + picture + ": " + full + fault + "; the disk of " + picture +
           " is full (" + full + "): free some space there or write the picture to another disk\n";
  }
};

TEST_P(PictureFailsAfterAudio, LeavesTheAudioWrittenSaysWhatItSaysOfItAndThenTheError) {
  const PictureCase& c = GetParam();
  const Channels music{noise(4 * 65536, 1, 0.5f), bursts(4 * 65536, 20000, 20000, 2, 0.5f)};
  writeAudio(path("music.wav"), music);
  writeAudio(path("voice.wav"), {bursts(3 * 22050, 5000, 5000, 3, 0.5f)}, 22050);
  writeAudio(path("silence.wav"), {std::vector<float>(3 * 22050)}, 22050);

  // What the job writes and prints with no picture asked for.
  const RunResult reference = runTool(argumentsWith("@out.wav", "@expected.wav"));
  ASSERT_EQ(reference.status, 0) << reference.err;
  std::vector<std::string> expectedFiles{"music.wav",  "voice.wav",    "silence.wav",
                                         "stream.wav", "expected.wav", "out.wav"};
  if (c.beside != nullptr) {
    std::filesystem::rename(path(c.beside), path(std::string("expected-") + c.beside));
    expectedFiles.insert(expectedFiles.end(), {c.beside, std::string("expected-") + c.beside});
  }
  if (c.fault == PictureFault::diskFull) expectedFiles.push_back("pictures");

  ASSERT_EQ(mkdir(path("pictures").c_str(), 0755), 0);
  std::vector<std::string> arguments = argumentsWith("@music.wav", "@stream.wav");
  arguments.insert(arguments.end(), {"--plot", path("pictures/out.png")});
  RunResult run;
  ASSERT_NO_FATAL_FAILURE(runAroundStream(
      arguments, path("stream.wav"), music, [this] { breakPicture(); }, run));

  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, asNamedInRun(reference.out));
  const std::string written = c.beside == nullptr
                                  ? "the audio '" + path("out.wav") + "' is"
                                  : "the audio '" + path("out.wav") + "' and '" + path(c.beside) + "' are";
  // The warnings, then the error line (a sanitizer's runtime may add its
  // own report after it).
  const std::string expectedErr = asNamedInRun(reference.err) + errorLine(written);
  EXPECT_EQ(run.err.substr(0, expectedErr.size()), expectedErr);
  EXPECT_EQ(run.err.find("tandrel: ", expectedErr.size()), std::string::npos) << run.err;

  EXPECT_TRUE(sameAudio(path("expected.wav"), path("out.wav")));
  if (c.beside != nullptr) {
    EXPECT_EQ(readBytes(path(c.beside)), readBytes(path(std::string("expected-") + c.beside)));
  }
  std::vector<std::string> found = listDirectory(directory());
  std::sort(found.begin(), found.end());
  std::sort(expectedFiles.begin(), expectedFiles.end());
  EXPECT_EQ(found, expectedFiles);
  if (c.fault == PictureFault::diskFull) {
    EXPECT_TRUE(listDirectory(path("pictures")).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PictureFailsAfterAudio,
    ::testing::Values(PictureCase{"Render",
                                  {"render", "@tandrel", "-i", "@music.wav", "-o", "@out.wav", "-q"}},
                      PictureCase{"Duck",
                                  {"duck", "--music", "@music.wav", "--voice", "@voice.wav", "-o", "@out.wav",
                                   "--mix", "--envelope", "@gain.csv", "-q"},
                                  "gain.csv"},
                      // The summary of the audio written.
                      PictureCase{"RenderOnAFullDisk",
                                  {"render", "@tandrel", "-i", "@music.wav", "-o", "@out.wav"},
                                  nullptr,
                                  PictureFault::diskFull},
                      // A voice never heard: its warning and the summary, then the error.
                      PictureCase{"DuckWithWarningsOnAFullDisk",
                                  {"duck", "--music", "@music.wav", "--voice", "@voice.wav", "--voice",
                                   "@silence.wav", "-o", "@out.wav", "--labels", "@labels.txt"},
                                  "labels.txt",
                                  PictureFault::diskFull}),
    [](const ::testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace cli_test
