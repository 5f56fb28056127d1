// The registry of `tandrel check`'s checks. Each checks_*.cpp file writes
// its checks and, beside them, its rows: one CheckDefinition per check, in
// the order they run. check_table.cpp joins the files' rows in one fixed
// order into allChecks(). Each check runs inside a child process
// (child_process.hpp) and loads the module for itself.
//
// Adding a check: its function and its row in the file of its subject; the
// table, --help, --only and --skip take it from there.
#pragma once

#include <chrono>
#include <span>
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

// One row: a literal type, so that a file's rows are constants, in place
// before any code runs.
struct CheckDefinition {
  const char* name;
  const char* description; // one line, for --help and the README
  CheckFunction run;
  std::chrono::seconds timeLimit = std::chrono::seconds(60); // the default time limit of its child
  Loading loading = Loading::needed;
};

// The rows of one file, in the order they run.
using CheckRows = std::span<const CheckDefinition>;

// Each file's rows, defined (constinit) beside the checks they name.
// checks_interface.cpp: the record and the requests of the interface.
extern const CheckRows interfaceChecks;
// checks_audio.cpp: what processing gives.
extern const CheckRows audioChecks;
// checks_host_conditions.cpp: what hosts do besides plain processing.
extern const CheckRows hostConditionChecks;
// checks_runtime.cpp: memory, threads, many instances, speed.
extern const CheckRows runtimeChecks;
// checks_realtime_calls.cpp: locks, system calls and wake-ups on the
// processing thread.
extern const CheckRows realtimeCallChecks;

// Every check, in the order they run: the files' rows in check_table.cpp's
// order. [any]
const std::vector<CheckDefinition>& allChecks();

// "0, 1, 7 and 64": a list of numbers as a pass text names them.
std::string listText(const std::vector<long>& numbers);

} // namespace tandrel::check
