// `tandrel check`: loads an effect module as a host does and runs every
// check on it (checks.hpp), each in a child process, then prints one line per
// check, or JSON.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "check_result.hpp"

namespace tandrel::check {

struct CheckOptions {
  std::vector<std::string> modules; // files or folders; empty: the tandrel.so beside the tool
  bool json = false;
  bool quick = false;
  double timeLimitSeconds = 0.0; // per check; 0: each check's own default
  std::vector<std::string> only; // run only these checks; empty: all
  std::vector<std::string> skip; // leave these checks out
  std::uint32_t seed = 1;        // of the checks' random choices
  std::string junitPath;         // where to write a JUnit XML report; empty: none
  double totalTimeLimitSeconds = 600.0;
  bool verbose = false; // the text report shows what the module printed
};

struct CheckReport {
  std::string name;
  Outcome outcome;
  double seconds = 0.0; // how long the check took
};

// Runs every selected check on every module and prints the reports (with a
// summary table when there are several modules). Answers 0 when no check
// failed, 1 when one did (a module that does not load is the one failure of its
// loading check; the checks that need it are skipped). Throws cli::CliError
// when no module was given and none is found, a file or folder does not
// exist, or the JUnit file cannot be written.
// [main]
int runCheck(const CheckOptions& options);

// Every check's name and one-line description, one a line, for --help.
std::string checkListText();

void printCheckText(const std::string& modulePath, const std::vector<CheckReport>& reports, std::ostream& out,
                    bool showOutput = false);
void printCheckJson(const std::string& modulePath, const std::vector<CheckReport>& reports,
                    std::ostream& out);

} // namespace tandrel::check
