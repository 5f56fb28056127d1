// The reports of a run over several modules: the summary table that ends the
// text report, and the JUnit XML file that CI systems read (one test suite
// per module, one test case per check).
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "check_command.hpp"

namespace tandrel::check {

// One module's checks as a run gave them.
struct ModuleRun {
  std::string path;
  std::vector<CheckReport> reports;
  double seconds = 0.0;
  bool failed() const;
};

// A table of modules with their passes, skips, warnings, failures and
// seconds, and a total line.
void printSummaryTable(const std::vector<ModuleRun>& runs, std::ostream& out);

// The JUnit XML report: a warning is a passing test case with its detail in
// its output, a skipped check a skipped one, a failure a failure.
void printJUnit(const std::vector<ModuleRun>& runs, std::uint32_t seed, std::ostream& out);

// Text as XML may hold it in an attribute or element: markup characters
// escaped, control characters and invalid UTF-8 bytes replaced by '?'.
std::string xmlText(const std::string& text);

} // namespace tandrel::check
