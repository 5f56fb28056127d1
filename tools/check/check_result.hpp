// What one check concludes: pass, warn or fail, with one line of detail.
#pragma once

#include <string>

namespace tandrel::check {

enum class Verdict { pass, warn, fail };

struct Outcome {
  Verdict verdict = Verdict::pass;
  std::string detail;
};

inline Outcome passed(std::string detail) { return {Verdict::pass, std::move(detail)}; }
inline Outcome warned(std::string detail) { return {Verdict::warn, std::move(detail)}; }
inline Outcome failed(std::string detail) { return {Verdict::fail, std::move(detail)}; }

// "pass", "warn" or "fail".
const char* verdictWord(Verdict verdict);

} // namespace tandrel::check
