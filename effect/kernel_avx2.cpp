// The call kernel for processors with AVX2; this file is compiled with -mavx2
// (and without fused multiply-add, which would change the bits).
#include "ducking_run.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace tandrel::ducking::avx2 {
#include "ducking_kernel.inl"

// GCC lowers the generic conversion of four floats into two halves and a
// merge; one instruction does it.
template <> inline Vectors<4>::Doubles loadWidened<4>(const float* source) {
  return reinterpret_cast<Vectors<4>::Doubles>(_mm256_cvtps_pd(_mm_loadu_ps(source)));
}
} // namespace tandrel::ducking::avx2

namespace tandrel::ducking {
void processCallAvx2(State& state, const float* audio, const float* control, float* out0, float* out1,
                     int32_t frames) {
  avx2::processCallInVectors<4>(state, audio, control, out0, out1, frames);
}
} // namespace tandrel::ducking
#endif
