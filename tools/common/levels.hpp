// Levels in decibels and the linear factors they stand for.
//
// Thread: [any].
#pragma once

#include <cmath>
#include <limits>

namespace tandrel::cli {

// The linear factor of a gain in decibels.
inline double decibelsToFactor(double decibels) { return std::pow(10.0, decibels / 20.0); }

// 20 log10 of a linear level; -inf for 0.
inline double factorToDecibels(double factor) {
  return factor > 0.0 ? 20.0 * std::log10(factor) : -std::numeric_limits<double>::infinity();
}

} // namespace tandrel::cli
