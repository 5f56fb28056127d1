#include <algorithm>

#include "checks.hpp"

namespace tandrel::check {

const char* verdictWord(Verdict verdict) {
  switch (verdict) {
  case Verdict::pass:
    return "pass";
  case Verdict::skip:
    return "skip";
  case Verdict::warn:
    return "warn";
  case Verdict::fail:
    return "fail";
  }
  return "fail";
}

void addFinding(Outcome& outcome, Verdict verdict, const std::string& text) {
  outcome.detail += (outcome.detail.empty() ? "" : "; ") + text;
  if (outcome.findings++ == 0) outcome.verdictBeforeFindings = outcome.verdict;
  outcome.verdict = std::max(outcome.verdict, verdict);
}

namespace {

// The files that contribute checks, each listed once.
using CheckRows = std::vector<CheckDefinition> (*)();
constexpr CheckRows checkFiles[] = {interfaceChecks, audioChecks, hostConditionChecks, runtimeChecks,
                                    realtimeCallChecks};

std::vector<CheckDefinition> collectChecks() {
  std::vector<CheckDefinition> checks;
  for (const CheckRows rows : checkFiles) {
    const std::vector<CheckDefinition> added = rows();
    checks.insert(checks.end(), added.begin(), added.end());
  }
  std::stable_partition(checks.begin(), checks.end(),
                        [](const CheckDefinition& check) { return check.loading == Loading::decides; });
  return checks;
}

} // namespace

const std::vector<CheckDefinition>& allChecks() {
  static const std::vector<CheckDefinition> checks = collectChecks();
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
