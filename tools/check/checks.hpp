// The checks of `tandrel check`, one function each, and their table. Each
// runs inside a child process (child_process.hpp) and loads the module for
// itself.
#pragma once

#include <chrono>
#include <vector>

#include "check_result.hpp"
#include "check_session.hpp"

namespace tandrel::check {

using CheckFunction = Outcome (*)(const CheckContext&);

struct CheckDefinition {
  const char* name;
  CheckFunction run;
  std::chrono::seconds timeLimit; // the default time limit of its child
};

// Every check, in the order they run; "load" first.
const std::vector<CheckDefinition>& allChecks();

// The interface: checks_interface.cpp.
Outcome checkLoad(const CheckContext& context);
Outcome checkRecord(const CheckContext& context);
Outcome checkOpcodes(const CheckContext& context);
Outcome checkNullPointers(const CheckContext& context);
Outcome checkTextBounds(const CheckContext& context);
Outcome checkParameters(const CheckContext& context);

// The audio: checks_audio.cpp.
Outcome checkProcessSizes(const CheckContext& context);
Outcome checkBlockIndependence(const CheckContext& context);
Outcome checkInPlace(const CheckContext& context);
Outcome checkFiniteOutput(const CheckContext& context);
Outcome checkSubnormalOutput(const CheckContext& context);
Outcome checkLatency(const CheckContext& context);
Outcome checkDeterminism(const CheckContext& context);

// The run-time behaviour: checks_runtime.cpp.
Outcome checkAllocation(const CheckContext& context);
Outcome checkThreads(const CheckContext& context);
Outcome checkLifecycle(const CheckContext& context);
Outcome checkSpeed(const CheckContext& context);

} // namespace tandrel::check
