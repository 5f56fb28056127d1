#include "checks.hpp"

namespace tandrel::check {

const char* verdictWord(Verdict verdict) {
  switch (verdict) {
  case Verdict::pass:
    return "pass";
  case Verdict::warn:
    return "warn";
  case Verdict::fail:
    return "fail";
  }
  return "fail";
}

const std::vector<CheckDefinition>& allChecks() {
  using std::chrono::seconds;
  static const std::vector<CheckDefinition> checks{
      {"load", checkLoad, seconds(30)},
      {"record", checkRecord, seconds(30)},
      {"opcodes", checkOpcodes, seconds(30)},
      {"null-pointers", checkNullPointers, seconds(30)},
      {"text-bounds", checkTextBounds, seconds(60)},
      {"parameters", checkParameters, seconds(60)},
      {"process-sizes", checkProcessSizes, seconds(30)},
      {"block-independence", checkBlockIndependence, seconds(60)},
      {"in-place", checkInPlace, seconds(60)},
      {"finite-output", checkFiniteOutput, seconds(60)},
      {"subnormal-output", checkSubnormalOutput, seconds(60)},
      {"latency", checkLatency, seconds(90)},
      {"determinism", checkDeterminism, seconds(60)},
      {"allocation", checkAllocation, seconds(30)},
      {"threads", checkThreads, seconds(60)},
      {"lifecycle", checkLifecycle, seconds(180)},
      {"speed", checkSpeed, seconds(30)},
  };
  return checks;
}

} // namespace tandrel::check
