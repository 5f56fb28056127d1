// The table of every check, joined from the files' rows, and what the
// checks share: verdict words, findings, lists in pass texts.
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
  // The files in the order their checks run. The interface's come first:
  // their `load` decides whether the module loads, and the checks after it
  // that need the module are skipped when it does not.
  static const std::vector<CheckDefinition> checks = [] {
    std::vector<CheckDefinition> all;
    for (const CheckRows rows :
         {interfaceChecks, audioChecks, hostConditionChecks, runtimeChecks, realtimeCallChecks})
      all.insert(all.end(), rows.begin(), rows.end());
    return all;
  }();
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
