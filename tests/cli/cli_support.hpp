// Helpers for the end-to-end tests of the `tandrel` command: running it,
// a scratch directory per test, audio files in and out, and the module
// driven directly as a host would, for comparison.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cli_test {

// The built executable and module (set by the build).
inline const std::string toolPath = TANDREL_CLI_PATH;
inline const std::string modulePath = TANDREL_MODULE_PATH;
inline const std::string noEntryModulePath = CLI_NO_ENTRY_MODULE_PATH;
inline const std::string nullEntryModulePath = CLI_NULL_ENTRY_MODULE_PATH;
inline const std::string countsModulePath = CLI_COUNTS_MODULE_PATH; // 3 inputs, 2 outputs

struct RunResult {
  int status = -1; // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs the tool with these arguments (no shell involved) and waits for it.
RunResult runTool(const std::vector<std::string>& arguments);
// Starts the tool with standard output and error sent to /dev/null.
pid_t startTool(const std::vector<std::string>& arguments);
// Waits for a started tool; the exit status or 128 + signal number.
int waitTool(pid_t pid);

// Channels, one vector per channel, all of the same length.
using Channels = std::vector<std::vector<float>>;

struct AudioFile {
  int sampleRate = 0;
  int format = 0;
  Channels channels;
  std::int64_t frames() const { return channels.empty() ? 0 : static_cast<std::int64_t>(channels[0].size()); }
};

// 32-bit float WAV unless `format` says otherwise (libsndfile format code).
void writeAudio(const std::string& path, const Channels& channels, int sampleRate = 48000, int format = 0);
AudioFile readAudio(const std::string& path);
std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);
// Every entry of a directory, hidden ones included.
std::vector<std::string> listDirectory(const std::string& path);

// Deterministic test signals.
std::vector<float> noise(std::size_t frames, std::uint32_t seed, float amplitude);
// Silence with bursts of noise: `on` frames of sound, then `off` of silence.
std::vector<float> bursts(std::size_t frames, std::size_t on, std::size_t off, std::uint32_t seed,
                          float amplitude);

// The module driven directly, as the tool promises to drive it: sample
// rate, block size, open, parameters, processing on, the inputs in blocks
// followed by `latency` frames of silence, processing off, close. Returns
// the outputs from frame `latency` on, as long as the inputs.
Channels renderDirectly(const std::string& module, const Channels& inputs, int sampleRate, int blockSize,
                        const std::vector<std::pair<int, float>>& parameters);

// The WAV header of `frames` frames of 32-bit float stereo at 48 kHz, as a
// stream would carry it: the data follows.
std::string floatWavHeader(std::uint32_t frames);

// Sample-for-sample equality by bit pattern; reports the first difference.
::testing::AssertionResult sameBits(const std::vector<float>& expected, const std::vector<float>& actual);

// Two audio files with the same rate, channels and samples, bit for bit.
::testing::AssertionResult sameAudio(const std::string& expectedPath, const std::string& actualPath);

// A way a command can fail, for the error tests: its arguments, the parts
// its one-line message must hold, and its exit status.
struct ErrorCase {
  const char* name;
  // "@x" stands for the file x in the test directory; "@tandrel",
  // "@no-entry" and "@null-entry" for the built modules.
  std::vector<std::string> arguments;
  std::vector<std::string> messageParts;
  int status = 1; // 2 for a usage error
};

// `command` followed by `more`: an ErrorCase's arguments built on the
// command line the cases share.
std::vector<std::string> joined(const std::vector<std::string>& command,
                                const std::vector<std::string>& more);

// The run failed as `expected` says: its status, nothing on standard output
// and one line on standard error that starts "tandrel: " and holds every
// part of the message.
void expectOneLineError(const RunResult& run, const ErrorCase& expected);

// A fresh directory for each test, removed afterwards.
class ToolTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string& name) const { return directory_ + "/" + name; }
  const std::string& directory() const { return directory_; }
  // The arguments of an ErrorCase with the "@" names replaced.
  std::vector<std::string> expandArguments(const std::vector<std::string>& arguments) const;

  // Starts the tool with `arguments`, one of which names `stream`: made here
  // as a named pipe that delivers the header of ten minutes of 48 kHz float
  // stereo and a little of its audio, then stalls. Once the temporary file of
  // the output "out.wav" has appeared in the test directory, that is once the
  // job has begun, sends `signal` to the tool and closes the pipe; `status`
  // is then the tool's exit status. Use it under ASSERT_NO_FATAL_FAILURE.
  void interruptMidStream(const std::vector<std::string>& arguments, const std::string& stream, int signal,
                          int& status) const;

  // Runs the tool with `arguments`, one of which names `stream`: made here
  // as a named pipe that delivers `audio` (two channels, as 48 kHz float
  // stereo) in two halves. Between them, once the temporary file of the
  // output "out.wav" has appeared in the test directory, calls `midJob`.
  // Use it under ASSERT_NO_FATAL_FAILURE.
  void runAroundStream(const std::vector<std::string>& arguments, const std::string& stream,
                       const Channels& audio, const std::function<void()>& midJob, RunResult& run) const;

private:
  // Waits up to 5 s for the temporary file of the output "out.wav" to
  // appear, that is for the job to begin; true once it has.
  bool waitForJobStart() const;

  std::string directory_;
};

// A test run once for each row of a table of ErrorCases, each named by its
// row: INSTANTIATE_TEST_SUITE_P(Cases, Fixture, Values(...), errorCaseName).
class ErrorCaseTest : public ToolTest, public ::testing::WithParamInterface<ErrorCase> {};
std::string errorCaseName(const ::testing::TestParamInfo<ErrorCase>& info);

} // namespace cli_test
