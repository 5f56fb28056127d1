// `tandrel check` as its users see it: each test module with a planted
// defect fails the check named for it (and the tool survives crashes and
// hangs to run the rest), the defect-free template and Tandrel pass clean,
// and the command line's mistakes exit with status 2.
#include <nlohmann/json.hpp>

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>
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

std::vector<std::string> namesIn(const nlohmann::json& report) {
  std::vector<std::string> names;
  for (const auto& check : report.at("checks"))
    names.push_back(check.at("name"));
  return names;
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
        // (The releases depend on the allocator: glibc's realloc often resizes
        // in place, a sanitizer's always moves.)
        PlantedDefect{"allocating_realloc", "allocation", "steady state: 43 allocations and "},
        // (The thread sanitizer's hooks see aligned allocations only when released.)
        PlantedDefect{"allocating_aligned", "allocation",
                      " allocations and 43 releases in 43 calls, the first in call 1"},
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
        PlantedDefect{"fading_start", "block-independence",
                      "differ at the start only (a difference that fades): output 0 differs from frame ",
                      "warn"},
        PlantedDefect{"slight_drift", "block-independence", "give other output: output 0 differs from frame"},
        PlantedDefect{"hang", "opcodes", "time limit of 3 s while opcode 52", "fail", "3"},
        PlantedDefect{"leaking", "lifecycle", "more than 2 MB"},
        PlantedDefect{"dithering", "determinism", "other output"},
        PlantedDefect{"long_name", "text-bounds", "parameter 0 name wrote 12 bytes into a text of 9", "warn"},
        PlantedDefect{"crossed_channels", "in-place", "other output", "warn"},
        PlantedDefect{"first_sample", "null-pointers", "while processing 0 frames with null channel arrays",
                      "warn"},
        PlantedDefect{"locking", "realtime-calls", "pthread_mutex_lock (lock) 50 times"},
        PlantedDefect{"locale_changing", "locale", "loading the module changed the locale from"},
        PlantedDefect{"lossy_chunk", "state",
                      "after restoring the bank chunk into the same instance, parameter 0 is"},
        PlantedDefect{"nan_on_automation", "automation", "in a 32-frame call right after parameter 0"},
        PlantedDefect{"rate_change", "sample-rates",
                      "NaN at output 0 frame 0 at 44.1 kHz in calls of 512 frames"},
        // Defects of instruments that only notes bring out: without notes
        // they are silent and pass.
        PlantedDefect{"nan_after_note_off", "finite-output", " for silence, with notes"},
        PlantedDefect{"events_at_call_start", "block-independence",
                      "(with notes at the same frames) give other output: output 0 differs from frame "}),
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

// The process ids a detail names as "killed: name (1234), name (1235)".
std::vector<pid_t> processIdsIn(const std::string& detail) {
  std::vector<pid_t> ids;
  const std::size_t list = detail.find("killed: ");
  if (list == std::string::npos) return ids;
  for (std::size_t at = detail.find(" (", list); at != std::string::npos; at = detail.find(" (", at + 1)) {
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
  const std::vector<pid_t> killed = processIdsIn(detail);
  EXPECT_EQ(killed.empty(), std::string(escape.module) != "escaping_fork") << detail;
  for (const pid_t id : killed)
    EXPECT_NE(kill(id, 0), 0) << "process " << id << " still runs";
}

INSTANTIATE_TEST_SUITE_P(
    CheckModules, EscapeTest,
    ::testing::Values(
        Escape{"escaping_fork", "record", "fail", "outlived the check and were killed: tandrel ("},
        Escape{"file_writer", "record", "warn",
               "wrote into its working directory, removed: file_writer_settings.txt"},
        Escape{"thread_left", "speed", "warn",
               "1 thread still running after every instance was closed and the module unloaded "
               "(left_worker)"},
        Escape{"stream_closing", "process-sizes", "warn",
               "the module closed standard input; the module closed standard output; the module "
               "closed standard error"}),
    [](const ::testing::TestParamInfo<Escape>& info) { return std::string(info.param.module); });

// 64 KiB a processing call: the report is still clean JSON, each check keeps
// the first 64 KiB of what was printed and counts the rest.
TEST(CheckCommand, WhatTheModulePrintsIsCapturedPerCheck) {
  // Printing while processing is a system call on the audio thread, which
  // realtime-calls rightly fails; the capture is what this test is about.
  const RunResult run =
      runTool({"check", "--json", "--quick", "--skip", "realtime-calls", testModule("spew")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << run.out.substr(0, 200);
  const nlohmann::json& speed = entryFor(report, "speed");
  EXPECT_EQ(speed.at("output").get<std::string>().size(), 65536u);
  EXPECT_GT(speed.at("outputBytes").get<std::size_t>(), 65536u);
  EXPECT_FALSE(entryFor(report, "record").contains("output"));
  const RunResult text =
      runTool({"check", "--verbose", "--quick", "--skip", "realtime-calls", testModule("spew")});
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
  // Comparisons of a module without inputs that gives no sound would pass
  // on silence alone: they say they do not apply.
  const nlohmann::json silent = checkReport({testModule("no_channels"), "--quick"}, 0);
  for (const char* check : {"determinism", "block-independence"})
    EXPECT_EQ(entryFor(silent, check).value("detail", ""),
              "not applicable: no inputs, takes no notes and gives no sound")
        << check;
  EXPECT_EQ(entryFor(silent, "in-place").value("result", ""), "skip");
  EXPECT_EQ(runTool({"info", testModule("only_main")}).status, 0);
}

// An instrument is played the note phrase before its processing calls, so
// the comparisons judge its sound rather than skip its silence.
TEST(CheckCommand, InstrumentIsPlayedNotesAndJudgedOnItsSound) {
  const nlohmann::json report = checkReport({testModule("instrument_clean"), "--quick"}, 0);
  EXPECT_EQ(report.at("failures"), 0) << notPassing(report);
  EXPECT_EQ(report.at("warnings"), 0) << notPassing(report);
  EXPECT_EQ(entryFor(report, "determinism").value("detail", ""),
            "two fresh instances give identical output for the same input, with notes");
  EXPECT_EQ(
      entryFor(report, "block-independence").value("detail", ""),
      "calls of 512 frames and of 1 to 4096 frames (with notes at the same frames) give identical output");
}

TEST(CheckCommand, DefectFreeTestModulePassesEveryCheck) {
  const nlohmann::json report = checkReport({testModule("clean"), "--quick"}, 0);
  EXPECT_EQ(report.at("checks").size(), checkCount);
  EXPECT_EQ(report.at("failures"), 0);
  EXPECT_EQ(report.at("warnings"), 0) << notPassing(report);
}

// Every row of the table, joined from the files of checks, runs once, in
// the table's order, under a name no other row has.
TEST(CheckCommand, TandrelPassesEveryCheckWithoutWarning) {
  const nlohmann::json report = checkReport({modulePath}, 0);
  std::vector<std::string> table;
  for (const tandrel::check::CheckDefinition& check : tandrel::check::allChecks())
    table.emplace_back(check.name);
  EXPECT_EQ(namesIn(report), table);
  EXPECT_EQ(std::set<std::string>(table.begin(), table.end()).size(), table.size());
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

// The README's table of checks is written by hand: it names every row of
// the table once, in the order the checks run, so that a check added or
// moved is documented where users look.
TEST(CheckCommand, ReadmeTableNamesEveryCheckInTheOrderTheyRun) {
  std::ifstream readme(TANDREL_README_PATH);
  ASSERT_TRUE(readme) << TANDREL_README_PATH;
  std::vector<std::string> documented;
  bool inTable = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("| Check | What it does | Fails when |", 0) == 0)
      inTable = true;
    else if (inTable && line.rfind("| `", 0) == 0)
      documented.push_back(line.substr(3, line.find('`', 3) - 3));
    else if (inTable && line.rfind("|---", 0) != 0)
      break;
  }
  std::vector<std::string> table;
  for (const tandrel::check::CheckDefinition& check : tandrel::check::allChecks())
    table.emplace_back(check.name);
  EXPECT_EQ(documented, table);
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
  EXPECT_EQ(text.out,
            "Module: " + noEntryModulePath + "\n  fail  load                " +
                entryFor(report, "load").value("detail", "") + "\n" + std::to_string(checkCount) +
                " checks: 0 passed, " + std::to_string(checkCount - 1) +
                " skipped (the module does not load), 0 warnings, 1 failure\nSeed: 1 (--seed 1 repeats "
                "the random choices)\n");
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
  EXPECT_EQ(runTool({"check", modulePath, "--only", "no-such-check"}).status, 2);
  EXPECT_EQ(runTool({"check", modulePath, "--only", "load", "--skip", "load"}).status, 2);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitizerAllocator = true;
#else
constexpr bool sanitizerAllocator = false;
#endif

// A module that reserves 20 GB when switched on is stopped by the address
// space each check allows (its exception ends the check's process, which is
// reported with what the module printed); the tool itself goes on. Sanitizer
// builds set no such limit: their runtimes reserve terabytes.
TEST(CheckCommand, HugeReservationIsRefusedAndReported) {
  if (sanitizerAllocator) GTEST_SKIP() << "sanitizer builds do not limit the address space";
  const nlohmann::json report =
      checkReport({testModule("reserving"), "--quick", "--only", "load,process-sizes,speed"}, 1);
  EXPECT_EQ(entryFor(report, "load").value("result", ""), "pass");
  for (const char* check : {"process-sizes", "speed"}) {
    const nlohmann::json& reported = entryFor(report, check);
    EXPECT_EQ(reported.value("result", ""), "fail") << reported.dump();
    EXPECT_EQ(
        reported.value("detail", "").rfind("crashed with SIGABRT (Aborted) while switching processing on", 0),
        0u)
        << reported.dump();
    EXPECT_NE(reported.value("output", "").find("std::bad_alloc"), std::string::npos) << reported.dump();
  }
}

// A crash is traced to the module's function (not in sanitizer builds,
// whose runtimes report the null read themselves and end the child first).
TEST(CheckCommand, CrashIsTracedToTheModulesFunction) {
  if (sanitizerAllocator) GTEST_SKIP() << "the sanitizer's runtime reports the fault before the crash";
  const nlohmann::json report =
      checkReport({testModule("first_sample"), "--quick", "--only", "load,null-pointers"}, 0);
  const std::string detail = entryFor(report, "null-pointers").value("detail", "");
  EXPECT_NE(detail.find("; backtrace: first_sample.so: (anonymous namespace)::FirstSample::processAudio("),
            std::string::npos)
      << detail;
}

// An allocation in steady-state processing is traced to the module's
// function that made it, through operator new and through malloc (not in
// sanitizer builds, whose runtime owns the allocation functions).
TEST(CheckCommand, AllocationInProcessingIsTracedToTheModulesFunction) {
  if (sanitizerAllocator) GTEST_SKIP() << "the sanitizer's runtime owns the allocation functions";
  for (const char* module : {"allocating_new", "allocating_malloc"}) {
    const nlohmann::json report =
        checkReport({testModule(module), "--quick", "--only", "load,allocation"}, 1);
    const std::string detail = entryFor(report, "allocation").value("detail", "");
    const std::size_t caller = detail.find(std::string("; the first steady one from ") + module + ".so: ");
    ASSERT_NE(caller, std::string::npos) << detail;
    EXPECT_NE(detail.find("::processAudio(float**, float**, int)+0x", caller), std::string::npos) << detail;
  }
}

// --only runs the named checks in the table's order; --skip leaves the named
// ones out. Every check's duration is in the report, and the seed.
TEST(CheckCommand, OnlyAndSkipChooseTheChecksAndTheReportHasDurationsAndSeed) {
  const nlohmann::json only =
      checkReport({testModule("clean"), "--quick", "--only", "locale,load", "--seed", "7"}, 0);
  EXPECT_EQ(namesIn(only), (std::vector<std::string>{"load", "locale"}));
  EXPECT_EQ(only.at("seed"), 7);
  for (const auto& check : only.at("checks"))
    EXPECT_GT(check.at("seconds").get<double>(), 0.0) << check.dump();
  EXPECT_GE(only.at("seconds").get<double>(), only.at("checks")[0].at("seconds").get<double>());

  const nlohmann::json skipping =
      checkReport({testModule("clean"), "--quick", "--skip", "lifecycle,speed"}, 0);
  const std::vector<std::string> names = namesIn(skipping);
  EXPECT_EQ(names.size(), checkCount - 2);
  EXPECT_EQ(std::count(names.begin(), names.end(), "lifecycle") +
                std::count(names.begin(), names.end(), "speed"),
            0);
}

// The pass, skip, warn and fail counts of a module's row in the summary.
std::string summaryRow(const std::string& table, const std::string& module) {
  const std::size_t row = table.find("\n  " + module + " ");
  if (row == std::string::npos) return "no row";
  std::istringstream line(
      table.substr(row + 3 + module.size(), table.find('\n', row + 1) - row - 3 - module.size()));
  int pass = 0, skip = 0, warn = 0, fail = 0;
  line >> pass >> skip >> warn >> fail;
  return std::to_string(pass) + " " + std::to_string(skip) + " " + std::to_string(warn) + " " +
         std::to_string(fail);
}

// Several modules: one report each, a summary table at the end, and status 1
// when any of them fails.
TEST(CheckCommand, SeveralModulesGiveOneReportEachAndASummary) {
  const RunResult run = runTool(
      {"check", "--quick", "--only", "load,realtime-calls", testModule("clean"), testModule("locking")});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("Module: " + testModule("clean") + "\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Module: " + testModule("locking") + "\n"), std::string::npos) << run.out;
  const std::size_t summary = run.out.find("\nSummary\n");
  ASSERT_NE(summary, std::string::npos) << run.out;
  const std::string table = run.out.substr(summary);
  EXPECT_EQ(summaryRow(table, testModule("clean")), "2 0 0 0") << table;
  EXPECT_EQ(summaryRow(table, testModule("locking")), "1 0 0 1") << table;
  EXPECT_NE(table.find("\n2 modules: 1 failed, 1 passed ("), std::string::npos) << table;

  const nlohmann::json both =
      checkReport({"--quick", "--only", "load", testModule("clean"), testModule("long_name")}, 0);
  ASSERT_EQ(both.at("modules").size(), 2u);
  EXPECT_EQ(both.at("modules")[1].at("module"), testModule("long_name"));
  EXPECT_EQ(both.at("failed modules"), 0);
}

// A folder is searched for files that export an entry point: every test
// module, each once.
TEST(CheckCommand, FolderIsSearchedForModules) {
  std::vector<std::string> expected;
  for (const auto& entry : std::filesystem::directory_iterator(moduleDirectory))
    if (entry.path().extension() == ".so") expected.push_back(entry.path().string());
  std::sort(expected.begin(), expected.end());
  // Status 1: the planted module with null record entries fails to load.
  const nlohmann::json report = checkReport({"--quick", "--only", "load", moduleDirectory}, 1);
  std::vector<std::string> checked;
  for (const auto& module : report.at("modules"))
    checked.push_back(module.at("module"));
  EXPECT_EQ(checked, expected);
  EXPECT_GE(checked.size(), 19u);
  // A folder whose only .so file exports no entry point holds no module.
  const std::filesystem::path folder = ::testing::TempDir() + "tandrel-check-no-modules";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(noEntryModulePath, folder / "not-a-module.so",
                             std::filesystem::copy_options::overwrite_existing);
  const RunResult empty = runTool({"check", folder.string()});
  std::filesystem::remove_all(folder);
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "tandrel: no module (a .so file with an entry point) under " + folder.string() + "\n");
}

// A small reader of the XML the JUnit report uses: elements with
// attributes, text, and the five escapes; anything else fails the test.
struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::vector<XmlElement> children;
  std::string text;
  std::vector<const XmlElement*> all(const std::string& childName) const {
    std::vector<const XmlElement*> found;
    for (const XmlElement& child : children)
      if (child.name == childName) found.push_back(&child);
    return found;
  }
};

class XmlReader {
public:
  explicit XmlReader(std::string text) : text_(std::move(text)) {}
  XmlElement document() {
    if (text_.rfind("<?xml", 0) == 0) at_ = text_.find("?>") + 2;
    skipSpace();
    XmlElement root = element();
    skipSpace();
    if (at_ != text_.size()) throw std::runtime_error("text after the root element");
    return root;
  }

private:
  void skipSpace() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
      ++at_;
  }
  void expect(char c) {
    if (at_ >= text_.size() || text_[at_] != c) throw std::runtime_error(std::string("expected ") + c);
    ++at_;
  }
  std::string name() {
    const std::size_t start = at_;
    while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-' ||
                                  text_[at_] == '_' || text_[at_] == ':'))
      ++at_;
    if (at_ == start) throw std::runtime_error("expected a name");
    return text_.substr(start, at_ - start);
  }
  std::string unescape(const std::string& raw) {
    static const std::map<std::string, char> escapes{
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '<') throw std::runtime_error("'<' in text");
      if (raw[i] != '&') {
        out += raw[i];
        continue;
      }
      const std::size_t end = raw.find(';', i);
      const auto escape = escapes.find(raw.substr(i, end - i + 1));
      if (end == std::string::npos || escape == escapes.end()) throw std::runtime_error("unknown escape");
      out += escape->second;
      i = end;
    }
    return out;
  }
  XmlElement element() {
    expect('<');
    XmlElement e;
    e.name = name();
    for (skipSpace(); at_ < text_.size() && text_[at_] != '>' && text_[at_] != '/'; skipSpace()) {
      const std::string key = name();
      expect('=');
      expect('"');
      const std::size_t end = text_.find('"', at_);
      if (end == std::string::npos) throw std::runtime_error("unterminated attribute");
      if (!e.attributes.emplace(key, unescape(text_.substr(at_, end - at_))).second)
        throw std::runtime_error("attribute twice: " + key);
      at_ = end + 1;
    }
    if (at_ < text_.size() && text_[at_] == '/') {
      ++at_;
      expect('>');
      return e;
    }
    expect('>');
    for (;;) {
      const std::size_t open = text_.find('<', at_);
      if (open == std::string::npos) throw std::runtime_error("unclosed element " + e.name);
      e.text += unescape(text_.substr(at_, open - at_));
      at_ = open;
      if (text_.compare(at_, 2, "</") == 0) break;
      e.children.push_back(element());
    }
    at_ += 2;
    if (name() != e.name) throw std::runtime_error("mismatched end of " + e.name);
    expect('>');
    return e;
  }
  std::string text_;
  std::size_t at_ = 0;
};

// The JUnit report is well-formed XML: one test suite per module, one test
// case per check with its time, a failure where a check failed, the seed.
TEST(CheckCommand, JUnitReportHasASuitePerModuleAndACasePerCheck) {
  const std::string path = ::testing::TempDir() + "tandrel-check-junit.xml";
  const RunResult run = runTool({"check", "--quick", "--only", "load,state,locale", "--seed", "5", "--junit",
                                 path, testModule("lossy_chunk"), testModule("clean")});
  EXPECT_EQ(run.status, 1) << run.err;
  std::ifstream file(path);
  const std::string xml((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  XmlElement root;
  try {
    root = XmlReader(xml).document();
  } catch (const std::exception& error) {
    FAIL() << error.what() << " in\n" << xml;
  }
  EXPECT_EQ(root.name, "testsuites");
  EXPECT_EQ(root.attributes["tests"], "6");
  EXPECT_EQ(root.attributes["failures"], "1");
  const auto suites = root.all("testsuite");
  ASSERT_EQ(suites.size(), 2u) << xml;
  EXPECT_EQ(suites[0]->attributes.at("name"), testModule("lossy_chunk"));
  EXPECT_EQ(suites[1]->attributes.at("failures"), "0");
  ASSERT_EQ(suites[0]->all("properties").size(), 1u);
  EXPECT_EQ(suites[0]->all("properties")[0]->all("property")[0]->attributes.at("value"), "5");
  const auto cases = suites[0]->all("testcase");
  ASSERT_EQ(cases.size(), 3u);
  EXPECT_EQ(cases[1]->attributes.at("name"), "state");
  EXPECT_GT(std::stod(cases[1]->attributes.at("time")), 0.0);
  ASSERT_EQ(cases[1]->all("failure").size(), 1u) << xml;
  EXPECT_NE(cases[1]->all("failure")[0]->attributes.at("message").find("parameter 0 is"), std::string::npos);
  EXPECT_TRUE(cases[0]->all("failure").empty());
  EXPECT_TRUE(suites[1]->all("testcase")[1]->all("failure").empty());
}

} // namespace
} // namespace cli_test
