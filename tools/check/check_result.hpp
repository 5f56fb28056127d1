// What one check concludes: pass, skip (not run, or not applicable to this
// module), warn or fail, with one line of detail.
#pragma once

#include <string>

namespace tandrel::check {

// In rising order of concern: a series of findings takes the largest.
enum class Verdict { pass, skip, warn, fail };

struct Outcome {
  Verdict verdict = Verdict::pass;
  std::string detail;
};

inline Outcome passed(std::string detail) { return {Verdict::pass, std::move(detail)}; }
inline Outcome skipped(std::string detail) { return {Verdict::skip, std::move(detail)}; }
inline Outcome warned(std::string detail) { return {Verdict::warn, std::move(detail)}; }
inline Outcome failed(std::string detail) { return {Verdict::fail, std::move(detail)}; }

// "pass", "skip", "warn" or "fail".
const char* verdictWord(Verdict verdict);

} // namespace tandrel::check
