#include "check_command.hpp"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include "check_reports.hpp"
#include "checks.hpp"
#include "child_process.hpp"
#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/json_text.hpp"
#include "common/module_locator.hpp"
#include "module_search.hpp"

namespace tandrel::check {

namespace {

std::chrono::milliseconds timeLimitFor(const CheckDefinition& check, const CheckOptions& options) {
  if (options.timeLimitSeconds > 0.0)
    return std::chrono::milliseconds(static_cast<long>(options.timeLimitSeconds * 1000.0));
  return check.timeLimit;
}

std::size_t countOf(const std::vector<CheckReport>& reports, Verdict verdict) {
  return static_cast<std::size_t>(
      std::count_if(reports.begin(), reports.end(),
                    [verdict](const CheckReport& r) { return r.outcome.verdict == verdict; }));
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Rows skipped because the module does not load: the text report folds them
// into its total.
constexpr const char* notLoadedDetail = "not run: the module does not load";

bool skippedForLoading(const CheckReport& report) {
  return report.outcome.verdict == Verdict::skip && report.outcome.detail == notLoadedDetail;
}

// What the module printed during a check, indented under its line.
void printModuleOutput(const Outcome& outcome, std::ostream& out) {
  if (outcome.outputBytes == 0) return;
  out << "        the module printed " << outcome.outputBytes << " bytes"
      << (outcome.outputBytes > outcome.output.size() ? ", the first of them:\n" : ":\n");
  std::istringstream lines(outcome.output);
  for (std::string line; std::getline(lines, line);)
    out << "        | " << line << '\n';
}

// A check that cannot go on says why in its failure.
Outcome runStoppable(const CheckDefinition& check, const CheckContext& context) {
  try {
    return check.run(context);
  } catch (const CheckStopped& stop) {
    return failed(stop.what());
  }
}

} // namespace

void printCheckText(const std::string& modulePath, const std::vector<CheckReport>& reports, std::ostream& out,
                    bool showOutput) {
  out << "Module: " << modulePath << '\n';
  std::size_t width = 0;
  for (const CheckReport& report : reports)
    width = std::max(width, report.name.size());
  std::size_t notLoaded = 0;
  for (const CheckReport& report : reports) {
    if (skippedForLoading(report)) {
      ++notLoaded;
      continue;
    }
    out << "  " << verdictWord(report.outcome.verdict) << "  " << std::left
        << std::setw(static_cast<int>(width)) << report.name << "  " << report.outcome.detail << '\n';
    if (showOutput) printModuleOutput(report.outcome, out);
  }
  out << plural(reports.size(), "check", "checks") << ": " << countOf(reports, Verdict::pass) << " passed, ";
  if (const std::size_t skips = countOf(reports, Verdict::skip); skips > 0)
    out << skips << " skipped" << (notLoaded > 0 ? " (the module does not load)" : "") << ", ";
  out << plural(countOf(reports, Verdict::warn), "warning", "warnings") << ", "
      << plural(countOf(reports, Verdict::fail), "failure", "failures") << '\n';
}

namespace {

nlohmann::ordered_json moduleDocument(const std::string& modulePath,
                                      const std::vector<CheckReport>& reports) {
  nlohmann::ordered_json checks = nlohmann::ordered_json::array();
  double seconds = 0.0;
  for (const CheckReport& report : reports) {
    nlohmann::ordered_json entry{{"name", report.name},
                                 {"result", verdictWord(report.outcome.verdict)},
                                 {"detail", report.outcome.detail},
                                 {"seconds", std::round(report.seconds * 1000.0) / 1000.0}};
    if (report.outcome.outputBytes > 0) {
      entry["output"] = report.outcome.output;
      entry["outputBytes"] = report.outcome.outputBytes;
    }
    checks.push_back(entry);
    seconds += report.seconds;
  }
  return {{"module", modulePath},
          {"checks", checks},
          {"failures", countOf(reports, Verdict::fail)},
          {"warnings", countOf(reports, Verdict::warn)},
          {"skipped", countOf(reports, Verdict::skip)},
          {"seconds", std::round(seconds * 1000.0) / 1000.0}};
}

// Texts from the module may hold any bytes; invalid UTF-8 is replaced, as
// in every JSON the tool writes (common/json_text.hpp).
void printDocument(const nlohmann::ordered_json& document, std::ostream& out) {
  out << tandrel::cli::documentText(document) << '\n';
}

// One module's report as a document of its own; several as a list with the
// number of modules that failed.
void printRunsJson(const std::vector<ModuleRun>& runs, std::uint32_t seed, std::ostream& out) {
  if (runs.size() == 1) {
    nlohmann::ordered_json document = moduleDocument(runs[0].path, runs[0].reports);
    document["seed"] = seed;
    printDocument(document, out);
    return;
  }
  nlohmann::ordered_json modules = nlohmann::ordered_json::array();
  for (const ModuleRun& run : runs)
    modules.push_back(moduleDocument(run.path, run.reports));
  const auto failedModules =
      std::count_if(runs.begin(), runs.end(), [](const ModuleRun& r) { return r.failed(); });
  printDocument({{"seed", seed}, {"modules", modules}, {"failed modules", failedModules}}, out);
}

// The checks chosen by --only and --skip, in the order they run.
std::vector<CheckDefinition> selectedChecks(const CheckOptions& options) {
  const auto named = [](const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  std::vector<CheckDefinition> selected;
  for (const CheckDefinition& check : allChecks())
    if ((options.only.empty() || named(options.only, check.name)) && !named(options.skip, check.name))
      selected.push_back(check);
  return selected;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the chosen checks on one module, each in a child of its own, until
// `runEnds` (the whole run's time limit); checks left then are skipped.
ModuleRun checkModule(const std::string& modulePath, const std::vector<CheckDefinition>& checks,
                      const CheckOptions& options, std::chrono::steady_clock::time_point runEnds) {
  // Each check runs in a working directory of its own: the path must not
  // depend on the tool's.
  std::error_code error;
  CheckContext context{
      std::filesystem::absolute(modulePath, error).string(), options.quick, {}, {}, options.seed};
  ModuleRun run{modulePath, {}, 0.0};
  const auto moduleStart = std::chrono::steady_clock::now();
  bool loads = true;
  for (const CheckDefinition& check : checks) {
    if (check.loading == Loading::needed && !loads) {
      run.reports.push_back({check.name, skipped(notLoadedDetail)});
      continue;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(runEnds - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) {
      run.reports.push_back(
          {check.name,
           skipped("not run: the run's total time limit of " +
                   std::to_string(static_cast<long>(options.totalTimeLimitSeconds)) + " s was reached")});
      continue;
    }
    const std::chrono::milliseconds timeLimit = std::min(timeLimitFor(check, options), left);
    context.timeLimit = timeLimit;
    context.deadline = std::chrono::steady_clock::now() + timeLimit;
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome = runInChild([&] { return runStoppable(check, context); }, timeLimit);
    if (check.loading == Loading::decides && outcome.ownVerdict() == Verdict::fail) loads = false;
    run.reports.push_back({check.name, std::move(outcome), secondsSince(start)});
  }
  run.seconds = secondsSince(moduleStart);
  return run;
}

void writeJUnit(const std::string& path, const std::vector<ModuleRun>& runs, std::uint32_t seed) {
  std::ofstream file(path);
  if (!file) throw cli::CliError("cannot write the JUnit report " + path);
  printJUnit(runs, seed, file);
  if (!file.flush()) throw cli::CliError("cannot write the JUnit report " + path);
}

} // namespace

void printCheckJson(const std::string& modulePath, const std::vector<CheckReport>& reports,
                    std::ostream& out) {
  printDocument(moduleDocument(modulePath, reports), out);
}

int runCheck(const CheckOptions& options) {
  const std::vector<std::string> modules = modulesToCheck(
      options.modules.empty() ? std::vector<std::string>{cli::defaultModulePath()} : options.modules);
  const std::vector<CheckDefinition> checks = selectedChecks(options);
  if (checks.empty()) throw cli::UsageError("--only and --skip leave no check to run");
  becomeSubreaper();
  const auto runEnds = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long>(options.totalTimeLimitSeconds * 1000.0));
  std::vector<ModuleRun> runs;
  for (const std::string& module : modules) {
    runs.push_back(checkModule(module, checks, options, runEnds));
    if (!options.json) {
      if (runs.size() > 1) std::cout << '\n';
      printCheckText(module, runs.back().reports, std::cout, options.verbose);
      std::cout.flush();
    }
  }
  if (options.json) {
    printRunsJson(runs, options.seed, std::cout);
  } else {
    std::cout << "Seed: " << options.seed << " (--seed " << options.seed << " repeats the random choices)\n";
    if (runs.size() > 1) printSummaryTable(runs, std::cout);
  }
  std::cout.flush();
  if (!options.junitPath.empty()) writeJUnit(options.junitPath, runs, options.seed);
  return std::any_of(runs.begin(), runs.end(), [](const ModuleRun& r) { return r.failed(); }) ? 1 : 0;
}

std::string checkListText() {
  std::ostringstream text;
  text << "Checks, in the order they run:\n";
  std::size_t width = 0;
  for (const CheckDefinition& check : allChecks())
    width = std::max(width, std::string(check.name).size());
  for (const CheckDefinition& check : allChecks())
    text << "  " << std::left << std::setw(static_cast<int>(width)) << check.name << "  " << check.description
         << '\n';
  return text.str();
}

void add(CLI::App& app) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* check =
      app.add_subcommand("check", "Run a battery of checks on an effect module, each in a child process");
  check->add_option(
      "modules", options->modules,
      "Effect modules (.so) or folders to search for them; default: the tandrel.so beside the tool");
  check->add_flag("--json", options->json, "Print JSON instead of text");
  check->add_flag("--quick", options->quick, "Fewer repeats: a run of a few seconds");
  check->add_flag("--verbose", options->verbose, "Show what the module printed during each check");
  check
      ->add_option("--time-limit", options->timeLimitSeconds,
                   "Seconds each check may take (default: its own)")
      ->check(CLI::PositiveNumber);
  std::vector<std::string> names;
  for (const CheckDefinition& definition : allChecks())
    names.emplace_back(definition.name);
  check->add_option("--only", options->only, "Run only these checks (names separated by commas)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::IsMember(names));
  check->add_option("--skip", options->skip, "Leave these checks out (names separated by commas)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::IsMember(names));
  check->add_option(
      "--seed", options->seed,
      "Seed of the random parameter values and changes and of the notes played to instruments (default 1)");
  check->add_option("--junit", options->junitPath, "Also write a JUnit XML report to this file");
  check
      ->add_option("--total-time-limit", options->totalTimeLimitSeconds,
                   "Seconds the whole run may take; checks left when it is reached are skipped")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  check->footer(checkListText());
  check->callback([options] { cli::runCommand([&] { return runCheck(*options); }, cli::Interruptible::no); });
}

} // namespace tandrel::check
