#include "tpdf_dither.hpp"

#include <cmath>

namespace tandrel::cli {

TpdfQuantizer::TpdfQuantizer(int bits, std::uint64_t seed)
    : scale_(std::ldexp(1.0, bits - 1)), highest_(static_cast<std::int32_t>(std::ldexp(1.0, bits - 1)) - 1),
      state_(seed) {}

// SplitMix64: a 64-bit counter through a mixing function; every seed gives
// a full-period sequence whose halves pass the usual tests of independence.
std::uint64_t TpdfQuantizer::next() {
  std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

double TpdfQuantizer::nextDither() {
  // The two uniform values are the two 32-bit halves of one draw.
  const std::uint64_t bits = next();
  constexpr double unit = 1.0 / 4294967296.0;
  const double first = static_cast<double>(bits >> 32) * unit;
  const double second = static_cast<double>(bits & 0xffffffffu) * unit;
  return first - second;
}

std::int32_t TpdfQuantizer::quantize(float sample) {
  const double dither = nextDither();
  if (!std::isfinite(sample)) return 0;
  const double level = std::floor(static_cast<double>(sample) * scale_ + dither + 0.5);
  if (level > static_cast<double>(highest_)) return highest_;
  if (level < static_cast<double>(lowest())) return lowest();
  return static_cast<std::int32_t>(level);
}

} // namespace tandrel::cli
