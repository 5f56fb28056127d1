// `tandrel check` as its users see it: each test module with a planted
// defect fails the check named for it (and the tool survives crashes and
// hangs to run the rest), the defect-free template and Tandrel pass clean,
// and the command line's mistakes exit with status 2.
#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

#include "check/checks.hpp"
#include "cli_support.hpp"

namespace cli_test {
namespace {

const std::string moduleDirectory = CHECK_TEST_MODULE_DIR;
// The registry the tool runs, counted rather than retyped.
const std::size_t checkCount = tandrel::check::allChecks().size();

std::string testModule(const std::string& name) { return moduleDirectory + "/" + name + ".so"; }

// The JSON report of a check run, after asserting its exit status.
nlohmann::json checkReport(const std::vector<std::string>& arguments, int expectedStatus) {
  std::vector<std::string> all{"check", "--json"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const RunResult run = runTool(all);
  EXPECT_EQ(run.status, expectedStatus) << run.out << run.err;
  const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  EXPECT_FALSE(report.is_discarded()) << run.out;
  return report;
}

const nlohmann::json& entryFor(const nlohmann::json& report, const std::string& name) {
  static const nlohmann::json missing = nlohmann::json::object();
  for (const auto& check : report.at("checks"))
    if (check.at("name") == name) return check;
  ADD_FAILURE() << "no check named " << name;
  return missing;
}

std::string notPassing(const nlohmann::json& report) {
  std::string list;
  for (const auto& check : report.at("checks"))
    if (check.at("result") != "pass") list += check.dump() + "\n";
  return list;
}

struct PlantedDefect {
  const char* module;
  const char* check;
  const char* detailMentions;
  const char* result = "fail";
  const char* timeLimit = nullptr; // seconds per check; default: each check's own
};

// Names the case in test listings (the default prints its bytes).
void PrintTo(const PlantedDefect& defect, std::ostream* out) {
  *out << defect.module << ": " << defect.check << " " << defect.result;
}

class PlantedDefectTest : public ::testing::TestWithParam<PlantedDefect> {};

// A defect that the check turns into a failure gives exit status 1; one
// that it reports as a warning, 0.
TEST_P(PlantedDefectTest, NamedCheckReportsItAndTheOthersStillRun) {
  const PlantedDefect& defect = GetParam();
  const bool fails = std::string(defect.result) == "fail";
  std::vector<std::string> arguments{testModule(defect.module), "--quick"};
  if (defect.timeLimit != nullptr) arguments.insert(arguments.end(), {"--time-limit", defect.timeLimit});
  const nlohmann::json report = checkReport(arguments, fails ? 1 : 0);
  EXPECT_EQ(report.at("module"), testModule(defect.module));
  ASSERT_EQ(report.at("checks").size(), checkCount);
  const nlohmann::json& reported = entryFor(report, defect.check);
  EXPECT_EQ(reported.value("result", ""), defect.result) << report.dump(2);
  EXPECT_NE(reported.value("detail", "").find(defect.detailMentions), std::string::npos) << reported.dump();
  EXPECT_EQ(entryFor(report, "load").value("result", ""), "pass");
  EXPECT_GE(report.at(fails ? "failures" : "warnings").get<int>(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    CheckModules, PlantedDefectTest,
    ::testing::Values(
        PlantedDefect{"nan_from_silence", "finite-output", "NaN at output 0 frame 0 for silence"},
        PlantedDefect{"allocating_new", "allocation", "the first in call 0"},
        PlantedDefect{"allocating_malloc", "allocation", "the first in call 0"},
        PlantedDefect{"hidden_delay", "latency", "peaks 64 frames later"},
        PlantedDefect{"crash_on_one_frame", "process-sizes",
                      "SIGSEGV (Segmentation fault) while processing a call, frame count 1"},
        PlantedDefect{"text_overflow", "text-bounds", "parameter 0 name wrote 100 bytes"},
        PlantedDefect{"block_size_dependent", "block-independence", "other output"},
        PlantedDefect{"hang", "opcodes", "time limit of 3 s while opcode 52", "fail", "3"},
        PlantedDefect{"leaking", "lifecycle", "more than 2 MB"},
        PlantedDefect{"dithering", "determinism", "other output"},
        PlantedDefect{"long_name", "text-bounds", "parameter 0 name wrote 12 bytes into a text of 9", "warn"},
        PlantedDefect{"crossed_channels", "in-place", "other output", "warn"},
        PlantedDefect{"first_sample", "null-pointers",
                      "while processing 0 frames with null channel arrays; 31 other requests answered",
                      "warn"}),
    [](const ::testing::TestParamInfo<PlantedDefect>& info) { return std::string(info.param.module); });

TEST(CheckCommand, DefectFreeTestModulePassesEveryCheck) {
  const nlohmann::json report = checkReport({testModule("clean"), "--quick"}, 0);
  EXPECT_EQ(report.at("checks").size(), checkCount);
  EXPECT_EQ(report.at("failures"), 0);
  EXPECT_EQ(report.at("warnings"), 0) << notPassing(report);
}

TEST(CheckCommand, TandrelPassesEveryCheckWithoutWarning) {
  const nlohmann::json report = checkReport({modulePath}, 0);
  EXPECT_EQ(report.at("checks").size(), checkCount);
  EXPECT_EQ(report.at("failures"), 0) << notPassing(report);
  EXPECT_EQ(report.at("warnings"), 0) << notPassing(report);
}

TEST(CheckCommand, TextReportHasOneLinePerCheckAndATotal) {
  const RunResult run = runTool({"check", modulePath, "--quick"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Module: " + modulePath + "\n  pass  load ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\n  pass  latency             an impulse on input 0 peaks 256 frames later"),
            std::string::npos)
      << run.out;
  const std::string total = std::to_string(checkCount);
  EXPECT_NE(run.out.find("\n" + total + " checks: " + total + " passed, 0 warnings, 0 failures\n"),
            std::string::npos)
      << run.out;
}

// --help names every check of the registry with its description.
TEST(CheckCommand, HelpListsEveryCheckWithItsDescription) {
  const RunResult run = runTool({"check", "--help"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const tandrel::check::CheckDefinition& check : tandrel::check::allChecks()) {
    const std::size_t line = run.out.find("\n  " + std::string(check.name) + " ");
    ASSERT_NE(line, std::string::npos) << check.name << " missing from\n" << run.out;
    const std::string text = run.out.substr(line + 1, run.out.find('\n', line + 1) - line - 1);
    EXPECT_NE(text.find(std::string("  ") + check.description), std::string::npos) << text;
  }
}

// One failure (loading) and the checks that need the module skipped, not
// failed; the text report is the failure's one line and the total.
TEST(CheckCommand, ModuleThatDoesNotLoadIsOneFailureAndTheRestAreSkipped) {
  const nlohmann::json report = checkReport({noEntryModulePath, "--quick"}, 1);
  EXPECT_EQ(report.at("checks").size(), checkCount);
  EXPECT_EQ(entryFor(report, "load").value("result", ""), "fail");
  EXPECT_NE(entryFor(report, "load").value("detail", "").find("no VSTPluginMain entry point"),
            std::string::npos);
  EXPECT_EQ(entryFor(report, "speed").value("result", ""), "skip");
  EXPECT_EQ(entryFor(report, "speed").value("detail", ""), "not run: the module does not load");
  EXPECT_EQ(report.at("failures"), 1);
  EXPECT_EQ(report.at("warnings"), 0);
  EXPECT_EQ(report.at("skipped"), checkCount - 1);

  const RunResult text = runTool({"check", noEntryModulePath, "--quick"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, "Module: " + noEntryModulePath + "\n  fail  load                " +
                          entryFor(report, "load").value("detail", "") + "\n" + std::to_string(checkCount) +
                          " checks: 0 passed, " + std::to_string(checkCount - 1) +
                          " skipped (the module does not load), 0 warnings, 1 failure\n");
}

// A path that names no file is one error line and status 1, no report.
TEST(CheckCommand, MissingFileIsOneErrorLine) {
  const RunResult run = runTool({"check", "/no/such/module.so"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "tandrel: no module file /no/such/module.so\n");
}

TEST(CheckCommand, UsageErrorsExitWithStatusTwo) {
  EXPECT_EQ(runTool({"check", "--no-such-option"}).status, 2);
  EXPECT_EQ(runTool({"check", modulePath, "--time-limit", "-1"}).status, 2);
  EXPECT_EQ(runTool({"check", modulePath, "another.so"}).status, 2);
}

} // namespace
} // namespace cli_test
