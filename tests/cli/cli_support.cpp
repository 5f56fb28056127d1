#include "cli_support.hpp"

#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "host/module_host.hpp"

extern char** environ;

namespace cli_test {

namespace fs = std::filesystem;

namespace {

pid_t spawn(const std::vector<std::string>& arguments, const std::string& outPath,
            const std::string& errPath) {
  std::vector<std::string> all{toolPath};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, toolPath.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}

} // namespace

int waitTool(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

namespace {

// The tool's standard output and error, caught in temporary files.
class CapturedRun {
public:
  CapturedRun() {
    close(mkstemp(out_));
    close(mkstemp(err_));
  }
  ~CapturedRun() {
    std::remove(out_);
    std::remove(err_);
  }
  CapturedRun(const CapturedRun&) = delete;
  CapturedRun& operator=(const CapturedRun&) = delete;

  pid_t start(const std::vector<std::string>& arguments) { return spawn(arguments, out_, err_); }
  RunResult finish(pid_t pid) const {
    RunResult result;
    result.status = waitTool(pid);
    result.out = readBytes(out_);
    result.err = readBytes(err_);
    return result;
  }

private:
  char out_[28] = "/tmp/tandrel-cli-out-XXXXXX";
  char err_[28] = "/tmp/tandrel-cli-err-XXXXXX";
};

} // namespace

RunResult runTool(const std::vector<std::string>& arguments) {
  CapturedRun run;
  return run.finish(run.start(arguments));
}

pid_t startTool(const std::vector<std::string>& arguments) {
  return spawn(arguments, "/dev/null", "/dev/null");
}

void writeAudio(const std::string& path, const Channels& channels, int sampleRate, int format) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = static_cast<int>(channels.size());
  info.format = format != 0 ? format : SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const std::size_t frames = channels.empty() ? 0 : channels[0].size();
  std::vector<float> interleaved(frames * channels.size());
  for (std::size_t c = 0; c < channels.size(); ++c)
    for (std::size_t i = 0; i < frames; ++i)
      interleaved[i * channels.size() + c] = channels[c][i];
  EXPECT_EQ(sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames)),
            static_cast<sf_count_t>(frames));
  sf_close(file);
}

AudioFile readAudio(const std::string& path) {
  AudioFile audio;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
    return audio;
  }
  std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
  const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
  sf_close(file);
  EXPECT_EQ(got, info.frames);
  audio.sampleRate = info.samplerate;
  audio.format = info.format;
  audio.channels.assign(static_cast<std::size_t>(info.channels),
                        std::vector<float>(static_cast<std::size_t>(got)));
  for (std::size_t c = 0; c < audio.channels.size(); ++c)
    for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i)
      audio.channels[c][i] = interleaved[i * audio.channels.size() + c];
  return audio;
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool exists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  return names;
}

std::vector<float> noise(std::size_t frames, std::uint32_t seed, float amplitude) {
  std::mt19937 random(seed);
  std::vector<float> samples(frames);
  for (float& s : samples)
    s = amplitude * (static_cast<float>(random() >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f);
  return samples;
}

std::vector<float> bursts(std::size_t frames, std::size_t on, std::size_t off, std::uint32_t seed,
                          float amplitude) {
  std::vector<float> samples = noise(frames, seed, amplitude);
  for (std::size_t i = 0; i < frames; ++i)
    if (i % (on + off) >= on) samples[i] = 0.0f;
  return samples;
}

Channels renderDirectly(const std::string& module, const Channels& inputs, int sampleRate, int blockSize,
                        const std::vector<std::pair<int, float>>& parameters) {
  std::string error;
  auto loaded = tandrel::host::ModuleLibrary::load(module, error);
  if (!loaded) {
    ADD_FAILURE() << error;
    return {};
  }
  auto instance = tandrel::host::EffectInstance::create(*loaded, error);
  if (!instance) {
    ADD_FAILURE() << error;
    return {};
  }
  instance->setRecording(false);
  instance->prepare(sampleRate, blockSize);
  for (const auto& [index, value] : parameters)
    instance->setParameter(index, value);
  instance->start();
  const auto latency = static_cast<std::size_t>(instance->record().initialDelay);
  const auto inputCount = static_cast<std::size_t>(instance->record().inputCount);
  const auto outputCount = static_cast<std::size_t>(instance->record().outputCount);
  const std::size_t frames = inputs.empty() ? 0 : inputs[0].size();
  const std::size_t total = frames + latency;

  Channels in(inputCount, std::vector<float>(total, 0.0f));
  for (std::size_t c = 0; c < inputs.size() && c < inputCount; ++c)
    std::copy(inputs[c].begin(), inputs[c].end(), in[c].begin());
  Channels out(outputCount, std::vector<float>(total, 0.0f));
  std::vector<float*> inPointers(inputCount);
  std::vector<float*> outPointers(outputCount);
  for (std::size_t first = 0; first < total; first += static_cast<std::size_t>(blockSize)) {
    const std::size_t count = std::min(static_cast<std::size_t>(blockSize), total - first);
    for (std::size_t c = 0; c < inputCount; ++c)
      inPointers[c] = in[c].data() + first;
    for (std::size_t c = 0; c < outputCount; ++c)
      outPointers[c] = out[c].data() + first;
    instance->processReplacing(inPointers.data(), outPointers.data(), static_cast<std::int32_t>(count));
  }
  instance->stop();
  instance->close();
  for (auto& channel : out)
    channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(latency));
  return out;
}

std::string floatWavHeader(std::uint32_t frames) {
  const auto word = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  const auto half = [](std::uint16_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
  };
  const std::uint32_t bytes = frames * 8;
  return "RIFF" + word(36 + bytes) + "WAVE" + "fmt " + word(16) + half(3) + half(2) + word(48000) +
         word(48000 * 8) + half(8) + half(32) + "data" + word(bytes);
}

::testing::AssertionResult sameBits(const std::vector<float>& expected, const std::vector<float>& actual) {
  if (expected.size() != actual.size())
    return ::testing::AssertionFailure()
           << "lengths differ: expected " << expected.size() << ", got " << actual.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << "first difference at frame " << i << ": expected " << expected[i] << ", got " << actual[i];
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameAudio(const std::string& expectedPath, const std::string& actualPath) {
  const AudioFile expected = readAudio(expectedPath);
  const AudioFile actual = readAudio(actualPath);
  if (expected.sampleRate != actual.sampleRate || expected.channels.size() != actual.channels.size())
    return ::testing::AssertionFailure()
           << actualPath << " differs from " << expectedPath << " in rate or channels";
  for (std::size_t c = 0; c < expected.channels.size(); ++c) {
    auto result = sameBits(expected.channels[c], actual.channels[c]);
    if (!result) return result << " (channel " << c << " of " << actualPath << ")";
  }
  return ::testing::AssertionSuccess();
}

void expectOneLineError(const RunResult& run, const ErrorCase& expected) {
  EXPECT_EQ(run.status, expected.status);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.err.rfind("tandrel: ", 0), 0u) << run.err;
  for (const std::string& part : expected.messageParts)
    EXPECT_NE(run.err.find(part), std::string::npos) << "missing '" << part << "' in: " << run.err;
}

std::string errorCaseName(const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; }

std::vector<std::string> joined(const std::vector<std::string>& command,
                                const std::vector<std::string>& more) {
  std::vector<std::string> arguments = command;
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

std::vector<std::string> ToolTest::expandArguments(const std::vector<std::string>& arguments) const {
  std::vector<std::string> result;
  for (const std::string& argument : arguments) {
    if (argument == "@tandrel")
      result.push_back(modulePath);
    else if (argument == "@no-entry")
      result.push_back(noEntryModulePath);
    else if (argument == "@null-entry")
      result.push_back(nullEntryModulePath);
    else if (argument.rfind('@', 0) == 0)
      result.push_back(path(argument.substr(1)));
    else
      result.push_back(argument);
  }
  return result;
}

void ToolTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "tandrel-cli-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  directory_ = pattern;
}

bool ToolTest::waitForJobStart() const {
  const auto begun = [this] {
    for (const std::string& name : listDirectory(directory()))
      if (name.rfind(".out.wav.", 0) == 0) return true;
    return false;
  };
  for (int wait = 0; wait < 500 && !begun(); ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return begun();
}

void ToolTest::interruptMidStream(const std::vector<std::string>& arguments, const std::string& stream,
                                  int signal, int& status) const {
  status = -1;
  ASSERT_EQ(mkfifo(stream.c_str(), 0600), 0);
  const pid_t tool = startTool(arguments);
  ASSERT_GT(tool, 0);
  const int writer = open(stream.c_str(), O_WRONLY); // waits for the tool to open the stream
  ASSERT_GE(writer, 0);
  const std::string start = floatWavHeader(10 * 60 * 48000) + std::string(65536 * 8 * 3, '\0');
  ASSERT_EQ(write(writer, start.data(), start.size()), static_cast<ssize_t>(start.size()));

  EXPECT_TRUE(waitForJobStart());
  kill(tool, signal);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  close(writer); // the rest of the stream is missing: the tool would go on with silence
  status = waitTool(tool);
}

void ToolTest::runAroundStream(const std::vector<std::string>& arguments, const std::string& stream,
                               const Channels& audio, const std::function<void()>& midJob,
                               RunResult& run) const {
  ASSERT_EQ(audio.size(), 2u);
  std::string bytes = floatWavHeader(static_cast<std::uint32_t>(audio[0].size()));
  for (std::size_t i = 0; i < audio[0].size(); ++i)
    for (const std::vector<float>& channel : audio)
      bytes.append(reinterpret_cast<const char*>(&channel[i]), sizeof(float));
  const std::size_t half = bytes.size() / 2;

  // A tool that ends early closes the stream: a write then fails, instead
  // of ending the test with SIGPIPE.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous = {};
  sigaction(SIGPIPE, &ignore, &previous);
  ASSERT_EQ(mkfifo(stream.c_str(), 0600), 0);
  CapturedRun captured;
  const pid_t tool = captured.start(arguments);
  ASSERT_GT(tool, 0);
  const int writer = open(stream.c_str(), O_WRONLY); // waits for the tool to open the stream
  ASSERT_GE(writer, 0);
  const bool firstHalf = write(writer, bytes.data(), half) == static_cast<ssize_t>(half);
  const bool begun = waitForJobStart();
  if (begun) midJob();
  const bool secondHalf =
      write(writer, bytes.data() + half, bytes.size() - half) == static_cast<ssize_t>(bytes.size() - half);
  close(writer);
  run = captured.finish(tool);
  sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_TRUE(firstHalf && begun && secondHalf) << run.err;
}

void ToolTest::TearDown() {
  std::error_code error;
  if (!directory_.empty()) fs::remove_all(directory_, error);
}

} // namespace cli_test
