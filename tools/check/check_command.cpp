#include "check_command.hpp"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include "checks.hpp"
#include "child_process.hpp"
#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/module_locator.hpp"

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

void printCheckJson(const std::string& modulePath, const std::vector<CheckReport>& reports,
                    std::ostream& out) {
  nlohmann::ordered_json checks = nlohmann::ordered_json::array();
  for (const CheckReport& report : reports) {
    nlohmann::ordered_json entry{{"name", report.name},
                                 {"result", verdictWord(report.outcome.verdict)},
                                 {"detail", report.outcome.detail}};
    if (report.outcome.outputBytes > 0) {
      entry["output"] = report.outcome.output;
      entry["outputBytes"] = report.outcome.outputBytes;
    }
    checks.push_back(entry);
  }
  const nlohmann::ordered_json document{{"module", modulePath},
                                        {"checks", checks},
                                        {"failures", countOf(reports, Verdict::fail)},
                                        {"warnings", countOf(reports, Verdict::warn)},
                                        {"skipped", countOf(reports, Verdict::skip)}};
  // Texts from the module may hold any bytes; invalid UTF-8 is replaced.
  out << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

int runCheck(const CheckOptions& options) {
  const std::string shownPath = options.modulePath.empty() ? cli::defaultModulePath() : options.modulePath;
  std::error_code error;
  if (!std::filesystem::is_regular_file(shownPath, error)) throw cli::CliError("no module file " + shownPath);
  // Each check runs in a working directory of its own.
  CheckContext context{std::filesystem::absolute(shownPath, error).string(), options.quick, {}, {}};
  becomeSubreaper();
  const auto runEnds = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long>(options.totalTimeLimitSeconds * 1000.0));
  std::vector<CheckReport> reports;
  bool loads = true;
  for (const CheckDefinition& check : allChecks()) {
    if (check.loading == Loading::needed && !loads) {
      reports.push_back({check.name, skipped(notLoadedDetail)});
      continue;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(runEnds - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) {
      reports.push_back(
          {check.name,
           skipped("not run: the run's total time limit of " +
                   std::to_string(static_cast<long>(options.totalTimeLimitSeconds)) + " s was reached")});
      continue;
    }
    const std::chrono::milliseconds timeLimit = std::min(timeLimitFor(check, options), left);
    context.timeLimit = timeLimit;
    context.deadline = std::chrono::steady_clock::now() + timeLimit;
    Outcome outcome = runInChild([&] { return runStoppable(check, context); }, timeLimit);
    if (check.loading == Loading::decides && outcome.ownVerdict() == Verdict::fail) loads = false;
    reports.push_back({check.name, std::move(outcome)});
  }
  if (options.json)
    printCheckJson(shownPath, reports, std::cout);
  else
    printCheckText(shownPath, reports, std::cout, options.verbose);
  std::cout.flush();
  return countOf(reports, Verdict::fail) > 0 ? 1 : 0;
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
  check->add_option("module", options->modulePath,
                    "Effect module (.so); default: the tandrel.so beside the tool");
  check->add_flag("--json", options->json, "Print JSON instead of text");
  check->add_flag("--quick", options->quick, "Fewer repeats: a run of a few seconds");
  check->add_flag("--verbose", options->verbose, "Show what the module printed during each check");
  check
      ->add_option("--time-limit", options->timeLimitSeconds,
                   "Seconds each check may take (default: its own)")
      ->check(CLI::PositiveNumber);
  check
      ->add_option("--total-time-limit", options->totalTimeLimitSeconds,
                   "Seconds the whole run may take; checks left when it is reached are skipped")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  check->footer(checkListText());
  check->callback([options] { cli::runCommand([&] { return runCheck(*options); }, cli::Interruptible::no); });
}

} // namespace tandrel::check
