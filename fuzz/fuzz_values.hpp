// Values drawn from a fuzzer's input: floats that favour the awkward cases
// (not-a-number, infinities, subnormals, the formatting limits), and the
// check that stops a run when a property fails.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <fuzzer/FuzzedDataProvider.h>

// Prints what failed and stops the run, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition, ...)                                                                           \
  do {                                                                                                       \
    if (!(condition)) {                                                                                      \
      std::fprintf(stderr, "property failed at %s:%d: %s\n  ", __FILE__, __LINE__, #condition);              \
      std::fprintf(stderr, __VA_ARGS__);                                                                     \
      std::fprintf(stderr, "\n");                                                                            \
      std::abort();                                                                                          \
    }                                                                                                        \
  } while (false)

namespace tandrel::fuzz {

inline float floatFromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }
inline std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

// Floats a host or a signal may hold that are most likely to break something.
inline constexpr std::uint32_t specialFloatBits[] = {
    0x00000000u, // 0
    0x80000000u, // -0
    0x3F800000u, // 1
    0xBF800000u, // -1
    0x3F000000u, // 0.5
    0x3E800000u, // 0.25
    0x3EFFFFFFu, // just below 0.5
    0x7FC00000u, // quiet NaN
    0xFFC00000u, // negative quiet NaN
    0x7FA00001u, // signalling NaN
    0x7F800000u, // +infinity
    0xFF800000u, // -infinity
    0x7F7FFFFFu, // largest finite
    0xFF7FFFFFu, // most negative finite
    0x00800000u, // smallest normal
    0x80800000u, // minus the smallest normal
    0x00000001u, // smallest subnormal
    0x80000001u, // minus the smallest subnormal
    0x007FFFFFu, // largest subnormal
    0x806FFFFFu, // a negative subnormal
    0x4CBEBC20u, // 100000000, above the formatting limit
    0x4CBEBC1Fu, // just below it
    0x4B189680u, // 10000000
    0xCB189680u, // -10000000
    0x4B18967Fu, // 9999999
    0xCB18967Fu, // -9999999
    0x40800000u, // 4
    0x4E6E6B28u, // 1e9
    0x7149F2CAu, // 1e30
    0x0DA24260u, // 1e-30
    0x3F7FFFFFu, // just below 1
    0x3F800001u, // just above 1
};

// A special value, a raw bit pattern, or an ordinary value in [-2, 2].
inline float anyFloat(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
  case 0:
    return floatFromBits(input.PickValueInArray(specialFloatBits));
  case 1:
    return floatFromBits(input.ConsumeIntegral<std::uint32_t>());
  default:
    return static_cast<float>(input.ConsumeFloatingPointInRange<double>(-2.0, 2.0));
  }
}

// Small values most of the time, any value of the type otherwise.
template <typename Integer> Integer anyInteger(FuzzedDataProvider& input, Integer low, Integer high) {
  if (input.ConsumeBool()) return input.ConsumeIntegral<Integer>();
  return input.ConsumeIntegralInRange<Integer>(low, high);
}

} // namespace tandrel::fuzz
