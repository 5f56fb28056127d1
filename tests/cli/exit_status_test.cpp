// What the tool answers: its exit statuses and the one line that explains a
// failure, for mistakes in the command line and for failures inside it.
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "cli_support.hpp"
#include "common/cli_error.hpp"
#include "common/exit_status.hpp"
#include "common/interrupt.hpp"

namespace cli_test {
namespace {

struct UsageCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string message; // the whole line after "tandrel: "
};

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, ExitTwoWithOneLinePointingToHelp) {
  const RunResult run = runTool(GetParam().arguments);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "tandrel: " + GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrors,
    ::testing::Values(
        UsageCase{
            "NoCommand", {}, "give a command: info, render, duck, demo, check or live (see tandrel --help)"},
        UsageCase{
            "MistypedCommand",
            {"rendr"},
            "unknown command 'rendr'; the commands are info, render, duck, demo, check and live (see tandrel "
            "--help)"},
        UsageCase{
            "BlockNotANumber",
            {"render", "-i", "in.wav", "-o", "out.wav", "--block", "abc"},
            "--block: 'abc' is not a whole number of frames from 1 to 1048576 (see tandrel render --help)"},
        UsageCase{
            "OutputMissing", {"render", "-i", "in.wav"}, "--output is required (see tandrel render --help)"},
        UsageCase{"UnknownOption",
                  {"info", "--jsn"},
                  "the following argument was not expected: --jsn (see tandrel info --help)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToolAnswers, VersionAndHelpExitZero) {
  const RunResult version = runTool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tandrel " TANDREL_VERSION "\n");
  const RunResult help = runTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status: 0 done, 1 failed, 2 usage error, 130 interrupted."),
            std::string::npos)
      << help.out;
}

// Whatever a command throws ends in one line and its status; nothing that
// goes wrong inside the tool exits 0.
TEST(ToolAnswers, FailuresInsideACommandGiveTheirStatus) {
  using tandrel::cli::runReportingFailures;
  const auto statusOf = [](const std::function<int()>& command, std::string& err) {
    ::testing::internal::CaptureStderr();
    const int status = runReportingFailures(command);
    err = ::testing::internal::GetCapturedStderr();
    return status;
  };
  std::string err;
  EXPECT_EQ(statusOf([] { return 0; }, err), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(statusOf([]() -> int { throw tandrel::cli::CliError("no input file"); }, err), 1);
  EXPECT_EQ(err, "tandrel: no input file\n");
  EXPECT_EQ(statusOf([]() -> int { throw std::length_error("vector"); }, err), 1);
  EXPECT_EQ(err, "tandrel: unexpected failure: vector\n");
  EXPECT_EQ(statusOf([]() -> int { throw 42; }, err), 1);
  EXPECT_EQ(err, "tandrel: unexpected failure\n");
  EXPECT_EQ(statusOf([]() -> int { throw tandrel::cli::Interrupted(); }, err), 130);
  EXPECT_EQ(err, "tandrel: interrupted; no output file was written\n");
}

// A failure once a job's audio is in place leaves files written: an
// interrupt that arrives meanwhile does not turn it into "no output file
// was written", as it does a failure before then. (In a child process: the
// interrupt stays requested for the rest of the process.)
TEST(ToolAnswersDeathTest, AFailureAfterTheAudioIsNotReportedAsAnInterrupt) {
  using namespace tandrel::cli;
  const auto interruptedThen = [](const std::function<void()>& fail) {
    const InterruptGuard guard;
    std::raise(SIGINT);
    std::exit(runReportingFailures([&] {
      fail();
      return 0;
    }));
  };
  EXPECT_EXIT(interruptedThen([] {
                throw AfterAudioError("cannot write picture 'p.png': No such file or directory; the audio "
                                      "'o.wav' is written, the picture 'p.png' is not",
                                      {"o.wav"});
              }),
              ::testing::ExitedWithCode(1),
              "tandrel: cannot write picture 'p.png'.* the picture 'p.png' is not");
  EXPECT_EXIT(interruptedThen([] { throw CliError("cannot read input file 'in.wav'"); }),
              ::testing::ExitedWithCode(130), "tandrel: interrupted; no output file was written");
}

} // namespace
} // namespace cli_test
