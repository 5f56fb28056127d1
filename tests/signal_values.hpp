// What the processing tests share for their signals: the type, the
// non-finite samples they feed and deterministic noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace tandrel::test {

using Signal = std::vector<float>;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// Uniform noise within [-amplitude, amplitude], the same for the same seed.
inline Signal noise(std::size_t frames, std::uint32_t seed, float amplitude = 1.0f) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> distribution(-amplitude, amplitude);
  Signal signal(frames);
  for (float& sample : signal)
    sample = distribution(generator);
  return signal;
}

} // namespace tandrel::test
