// What one check concludes: pass, skip (not run, or not applicable to this
// module), warn or fail, with one line of detail.
#pragma once

#include <cstddef>
#include <string>

namespace tandrel::check {

// In rising order of concern: a series of findings takes the largest.
enum class Verdict { pass, skip, warn, fail };

struct Outcome {
  Verdict verdict = Verdict::pass;
  std::string detail;
  // What the module printed on its standard output and error during the
  // check (the first outputCap bytes), and how many bytes in all.
  std::string output = {};
  std::size_t outputBytes = 0;
  // Findings about the module's conduct (addFinding) and the verdict the
  // check itself reached before them.
  int findings = 0;
  Verdict verdictBeforeFindings = Verdict::pass;
  Verdict ownVerdict() const { return findings > 0 ? verdictBeforeFindings : verdict; }
};

// The part of a check's printed output that is kept.
constexpr std::size_t outputCap = 64 * 1024;

// Adds a finding to an outcome: its text joins the detail, and the verdict
// becomes the worse of the two.
void addFinding(Outcome& outcome, Verdict verdict, const std::string& text);

inline Outcome passed(std::string detail) { return {Verdict::pass, std::move(detail)}; }
inline Outcome skipped(std::string detail) { return {Verdict::skip, std::move(detail)}; }
inline Outcome warned(std::string detail) { return {Verdict::warn, std::move(detail)}; }
inline Outcome failed(std::string detail) { return {Verdict::fail, std::move(detail)}; }

// "pass", "skip", "warn" or "fail".
const char* verdictWord(Verdict verdict);

} // namespace tandrel::check
