// `tandrel check` as its users see it: each test module with a planted
// defect fails the check named for it (and the tool survives crashes and
// hangs to run the rest), the defect-free template and Tandrel pass clean,
// and the command line's mistakes exit with status 2.
#include <nlohmann/json.hpp>

#include <signal.h>

#include <chrono>
#include <cstdlib>
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
  // The totals count the entries of each kind, no more.
  for (const auto& [total, result] :
       {std::pair{"failures", "fail"}, {"warnings", "warn"}, {"skipped", "skip"}}) {
    int counted = 0;
    for (const auto& check : report.at("checks"))
      counted += check.at("result") == result ? 1 : 0;
    EXPECT_EQ(report.at(total).get<int>(), counted) << total;
  }
}

INSTANTIATE_TEST_SUITE_P(
    CheckModules, PlantedDefectTest,
    ::testing::Values(
        PlantedDefect{"nan_from_silence", "finite-output", "NaN at output 0 frame 0 for silence"},
        PlantedDefect{"allocating_new", "allocation",
                      "steady state: 43 allocations and 43 releases in 43 calls, the first in call 1"},
        PlantedDefect{"allocating_malloc", "allocation",
                      "steady state: 43 allocations and 43 releases in 43 calls, the first in call 1"},
        PlantedDefect{"allocating_calloc", "allocation",
                      "steady state: 43 allocations and 43 releases in 43 calls, the first in call 1"},
        PlantedDefect{"allocating_realloc", "allocation",
                      "steady state: 43 allocations and 0 releases in 43 calls, the first in call 1"},
        PlantedDefect{"allocating_aligned", "allocation",
                      "steady state: 43 allocations and 43 releases in 43 calls, the first in call 1"},
        PlantedDefect{"output_overrun", "process-sizes",
                      "wrote past the end of output 0 in a call of 1 frame"},
        PlantedDefect{"infinity", "finite-output", "infinity at output 1 frame 999 for silence"},
        PlantedDefect{"start_up", "block-independence", "differ at the start only", "warn"},
        PlantedDefect{"instrument_nan", "finite-output", "NaN at output 0 frame 0 for silence"},
        PlantedDefect{"hidden_delay", "latency", "peaks 64 frames later"},
        PlantedDefect{"crash_on_one_frame", "process-sizes",
                      "SIGSEGV (Segmentation fault) while processing a call, frame count 1"},
        PlantedDefect{"text_overflow", "text-bounds", "parameter 0 name wrote 100 bytes"},
        PlantedDefect{"block_size_dependent", "block-independence", "differ at the start only", "warn"},
        PlantedDefect{"slight_drift", "block-independence", "give other output: output 0 differs from frame"},
        PlantedDefect{"hang", "opcodes", "time limit of 3 s while opcode 52", "fail", "3"},
        PlantedDefect{"leaking", "lifecycle", "more than 2 MB"},
        PlantedDefect{"dithering", "determinism", "other output"},
        PlantedDefect{"long_name", "text-bounds", "parameter 0 name wrote 12 bytes into a text of 9", "warn"},
        PlantedDefect{"crossed_channels", "in-place", "other output", "warn"},
        PlantedDefect{"first_sample", "null-pointers", "while processing 0 frames with null channel arrays; ",
                      "warn"}),
    [](const ::testing::TestParamInfo<PlantedDefect>& info) { return std::string(info.param.module); });

// What a module does beyond its checks: each is reported on the check where
// it happened, and none of it reaches the tool's own output, the working
// directory, or outlives the run.
struct Escape {
  const char* module;
  const char* check;
  const char* result;
  const char* detailMentions;
};

void PrintTo(const Escape& escape, std::ostream* out) { *out << escape.module << ": " << escape.check; }

class EscapeTest : public ::testing::TestWithParam<Escape> {};

// The process ids a detail names as "name (1234)".
std::vector<pid_t> processIdsIn(const std::string& detail) {
  std::vector<pid_t> ids;
  for (std::size_t at = detail.find(" ("); at != std::string::npos; at = detail.find(" (", at + 1)) {
    const long id = std::strtol(detail.c_str() + at + 2, nullptr, 10);
    if (id > 0) ids.push_back(static_cast<pid_t>(id));
  }
  return ids;
}

TEST_P(EscapeTest, IsReportedAndUndone) {
  const Escape& escape = GetParam();
  const std::vector<std::string> filesBefore = listDirectory(".");
  const RunResult run = runTool({"check", "--json", "--quick", testModule(escape.module)});
  const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << run.out;
  EXPECT_EQ(run.status, report.at("failures").get<int>() > 0 ? 1 : 0);
  const nlohmann::json& reported = entryFor(report, escape.check);
  EXPECT_EQ(reported.value("result", ""), escape.result) << reported.dump();
  const std::string detail = reported.value("detail", "");
  EXPECT_NE(detail.find(escape.detailMentions), std::string::npos) << detail;
  // The module still counts as loading: the other checks ran.
  EXPECT_EQ(report.at("skipped"), 0) << report.dump(2);
  EXPECT_EQ(listDirectory("."), filesBefore);
  for (const pid_t id : processIdsIn(detail))
    EXPECT_NE(kill(id, 0), 0) << "process " << id << " still runs";
}

INSTANTIATE_TEST_SUITE_P(
    CheckModules, EscapeTest,
    ::testing::Values(Escape{"escaping_fork", "record", "fail",
                             "outlived the check and were killed: tandrel ("},
                      Escape{"file_writer", "record", "warn",
                             "wrote into its working directory, removed: file_writer_settings.txt"},
                      Escape{"thread_left", "speed", "warn",
                             "1 thread still running after every instance was closed and the module unloaded "
                             "(left_worker)"}),
    [](const ::testing::TestParamInfo<Escape>& info) { return std::string(info.param.module); });

// 64 KiB a processing call: the report is still clean JSON, each check keeps
// the first 64 KiB of what was printed and counts the rest.
TEST(CheckCommand, WhatTheModulePrintsIsCapturedPerCheck) {
  const RunResult run = runTool({"check", "--json", "--quick", testModule("spew")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << run.out.substr(0, 200);
  const nlohmann::json& speed = entryFor(report, "speed");
  EXPECT_EQ(speed.at("output").get<std::string>().size(), 65536u);
  EXPECT_GT(speed.at("outputBytes").get<std::size_t>(), 65536u);
  EXPECT_FALSE(entryFor(report, "record").contains("output"));
  const RunResult text = runTool({"check", "--verbose", "--quick", testModule("spew")});
  EXPECT_NE(text.out.find("the module printed "), std::string::npos);
  EXPECT_NE(text.out.find("        | xxxx"), std::string::npos);
}

// A module that hangs in every processing call costs at most the total limit;
// the checks left are skipped, each hang names its step.
TEST(CheckCommand, HangingModuleCostsAtMostTheTotalLimit) {
  const auto start = std::chrono::steady_clock::now();
  const nlohmann::json report = checkReport(
      {testModule("hang_everywhere"), "--quick", "--time-limit", "2", "--total-time-limit", "7"}, 1);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LE(seconds, 12);
  EXPECT_NE(entryFor(report, "process-sizes").value("detail", "").find("time limit of 2 s while processing"),
            std::string::npos);
  EXPECT_NE(entryFor(report, "speed").value("detail", "").find("total time limit of 7 s was reached"),
            std::string::npos)
      << report.dump(2);
}

// No module shape brings the tool down: a record with null entries is one
// failure; a module without any channel, and one whose entry point is only
// exported as main, pass.
TEST(CheckCommand, RecordWithNullEntriesIsOneFailure) {
  const nlohmann::json report = checkReport({testModule("null_entries"), "--quick"}, 1);
  EXPECT_EQ(entryFor(report, "load").value("detail", ""),
            "the record has no dispatcher entry, which hosts call");
  EXPECT_EQ(report.at("failures"), 1);
}

TEST(CheckCommand, ModulesOfEveryShapeRunEveryCheck) {
  for (const char* module : {"no_channels", "only_main"}) {
    const nlohmann::json report = checkReport({testModule(module), "--quick"}, 0);
    EXPECT_EQ(report.at("failures"), 0) << module << notPassing(report);
    EXPECT_EQ(report.at("warnings"), 0) << module << notPassing(report);
  }
  EXPECT_EQ(runTool({"info", testModule("only_main")}).status, 0);
}

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
