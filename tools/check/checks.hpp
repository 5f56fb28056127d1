// The registry of `tandrel check`'s checks: every check function, declared
// here by the file that defines it, and one table (check_table.cpp) that
// names, describes and orders them. Each check runs inside a child process
// (child_process.hpp) and loads the module for itself.
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
  CheckFunction run;
  std::chrono::seconds timeLimit = std::chrono::seconds(60); // the default time limit of its child
  Loading loading = Loading::needed;
};

// Every check, in the order they run (the one that decides loading first).
// [any]
const std::vector<CheckDefinition>& allChecks();

// checks_interface.cpp: the record and the requests of the interface.
Outcome checkLoad(const CheckContext& context);
Outcome checkRecord(const CheckContext& context);
Outcome checkOpcodes(const CheckContext& context);
Outcome checkNullPointers(const CheckContext& context);
Outcome checkTextBounds(const CheckContext& context);
Outcome checkParameters(const CheckContext& context);

// checks_audio.cpp: what processing gives.
Outcome checkProcessSizes(const CheckContext& context);
Outcome checkDeterminism(const CheckContext& context);
Outcome checkBlockIndependence(const CheckContext& context);
Outcome checkInPlace(const CheckContext& context);
Outcome checkFiniteOutput(const CheckContext& context);
Outcome checkSubnormalOutput(const CheckContext& context);
Outcome checkLatency(const CheckContext& context);

// checks_host_conditions.cpp: what hosts do to a module besides plain
// processing.
// 44.1, 48 and 96 kHz and block sizes of 32 to 4096 frames, with processing
// switched off and on between them.
Outcome checkSampleRates(const CheckContext& context);
// Parameters moved between 32-frame calls while processing.
Outcome checkParameterAutomation(const CheckContext& context);
// Random parameter values, each read back with its display text.
Outcome checkParameterFuzz(const CheckContext& context);
// Chunks (opcodes 23 and 24) and programs restore every parameter.
Outcome checkStateRoundTrip(const CheckContext& context);
// Loading, opening, processing and closing leave the locale as it was.
Outcome checkLocale(const CheckContext& context);

// checks_runtime.cpp: memory, threads, many instances, speed.
Outcome checkAllocation(const CheckContext& context);
Outcome checkThreads(const CheckContext& context);
Outcome checkLifecycle(const CheckContext& context);
Outcome checkSpeed(const CheckContext& context);

// checks_realtime_calls.cpp: locks, system calls and wake-ups on the
// processing thread.
Outcome checkRealtimeCalls(const CheckContext& context);

// "0, 1, 7 and 64": a list of numbers as a pass text names them.
std::string listText(const std::vector<long>& numbers);

} // namespace tandrel::check
