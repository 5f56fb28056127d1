// The registry of `tandrel check`'s checks. Each checks_*.cpp contributes its
// own rows through one function (interfaceChecks(), audioChecks(), ...), and
// check_table.cpp lists those functions once. Each check runs inside a child
// process (child_process.hpp) and loads the module for itself.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "check_result.hpp"
#include "check_session.hpp"

namespace tandrel::check {

using CheckFunction = Outcome (*)(const CheckContext&);

// What a check needs of the module before it can run.
enum class Loading {
  decides,   // it loads the module itself; its failure means the module does not load
  needed,    // skipped when a deciding check found that the module does not load
  notNeeded, // runs whether or not the module loads
};

struct CheckDefinition {
  const char* name;
  const char* description; // one line, for --help and the README
  Loading loading;
  CheckFunction run;
  std::chrono::seconds timeLimit; // the default time limit of its child
};

// Every check, in the order they run: the rows that decide loading first,
// then the others in the order of their files' lists. [any]
const std::vector<CheckDefinition>& allChecks();

// The rows of each file, in the order they run.
std::vector<CheckDefinition> interfaceChecks(); // checks_interface.cpp
std::vector<CheckDefinition> audioChecks();     // checks_audio.cpp
std::vector<CheckDefinition> runtimeChecks();   // checks_runtime.cpp

// "0, 1, 7 and 64": a list of numbers as a pass text names them.
std::string listText(const std::vector<long>& numbers);

} // namespace tandrel::check
