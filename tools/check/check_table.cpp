#include <algorithm>
#include <iterator>

#include "checks.hpp"

namespace tandrel::check {

const char* verdictWord(Verdict verdict) {
  constexpr const char* words[] = {"pass", "skip", "warn", "fail"};
  const auto index = static_cast<std::size_t>(verdict);
  return index < std::size(words) ? words[index] : "fail";
}

void addFinding(Outcome& outcome, Verdict verdict, const std::string& text) {
  outcome.detail += (outcome.detail.empty() ? "" : "; ") + text;
  if (outcome.findings++ == 0) outcome.verdictBeforeFindings = outcome.verdict;
  outcome.verdict = std::max(outcome.verdict, verdict);
}

const std::vector<CheckDefinition>& allChecks() {
  using std::chrono::seconds;
  static const std::vector<CheckDefinition> checks{
      // The record and the requests of the interface.
      {"load",
       "loads the file and calls the entry point: a record with the right magic, its entries and sane counts",
       checkLoad, seconds(30), Loading::decides},
      {"record", "reads the record's fields from two instances: they agree and the delay is not negative",
       checkRecord, seconds(30)},
      {"opcodes", "sends every opcode with the arguments a host sends, hands a chunk back, then processes",
       checkOpcodes, seconds(30)},
      {"null-pointers",
       "sends the opcodes that take a buffer with a null pointer; processes 0 frames with null arrays",
       checkNullPointers, seconds(30)},
      {"text-bounds",
       "reads every text a host reads into a guarded buffer: no write past its documented size",
       checkTextBounds},
      {"parameters", "sets and gets every parameter at 0, 0.5 and 1 and reads its display across its range",
       checkParameters},
      // What processing gives.
      {"process-sizes", "calls of 0 frames up to the announced block size, with guards behind every buffer",
       checkProcessSizes, seconds(30)},
      {"determinism", "two fresh instances give the same output for the same input", checkDeterminism},
      {"block-independence",
       "calls of one size and of random sizes give the same output (judged when deterministic)",
       checkBlockIndependence},
      {"in-place", "outputs in the inputs' buffers give the same output", checkInPlace},
      {"finite-output", "silence, full-scale noise and impulses give no NaN or infinity", checkFiniteOutput},
      {"subnormal-output", "counts subnormal output samples after the sound stops", checkSubnormalOutput},
      {"latency", "the delay measured after an impulse or by correlation against the reported initial delay",
       checkLatency, seconds(90)},
      // What hosts do besides plain processing.
      {"sample-rates", "44.1, 48 and 96 kHz in calls of 32 to 4096 frames, switched off and on between",
       checkSampleRates},
      {"automation", "random parameter changes between 32-frame calls: output stays finite",
       checkParameterAutomation},
      {"parameter-fuzz", "random values on every parameter, read back with their displays, then processing",
       checkParameterFuzz},
      {"state", "bank and program chunks (opcodes 23, 24) and programs restore every parameter",
       checkStateRoundTrip},
      {"locale", "loading, opening, processing and closing leave the process's locale as it was", checkLocale,
       seconds(30)},
      // Memory, threads, many instances, speed, calls while processing.
      {"allocation", "counts memory allocations and releases on the processing thread while it processes",
       checkAllocation, seconds(30)},
      {"threads", "a second thread sets and reads parameters while processing runs", checkThreads},
      {"lifecycle", "many create, process and close cycles: no crash, no memory growth", checkLifecycle,
       seconds(180)},
      {"speed", "processing cost at 512-frame calls and 48 kHz (a report, never a failure)", checkSpeed,
       seconds(30)},
      {"realtime-calls", "counts locks, system calls and wake-ups on the processing thread",
       checkRealtimeCalls, seconds(30)},
  };
  return checks;
}

std::string listText(const std::vector<long>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
    text += std::to_string(numbers[i]);
  }
  return text;
}

} // namespace tandrel::check
