// The call kernel for processors with AVX-512 (foundation, double-word and
// quad-word, vector-length); this file is compiled with those flags only.
#include "ducking_run.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace tandrel::ducking::avx512 {
#include "ducking_kernel.inl"

// GCC lowers the generic conversion of four or eight floats into two halves
// and a merge; one instruction does it (the eight-lane one keeps all lanes
// by its mask: its plain form trips a false uninitialised-value warning in
// GCC 12's own header).
template <> inline Vectors<4>::Doubles loadWidened<4>(const float* source) {
  return reinterpret_cast<Vectors<4>::Doubles>(_mm256_cvtps_pd(_mm_loadu_ps(source)));
}
template <> inline Vectors<8>::Doubles loadWidened<8>(const float* source) {
  return reinterpret_cast<Vectors<8>::Doubles>(_mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(source)));
}
} // namespace tandrel::ducking::avx512

namespace tandrel::ducking {
void processCallAvx512(State& state, const float* audio, const float* control, float* out0, float* out1,
                       int32_t frames) {
  avx512::processCallInVectors<8>(state, audio, control, out0, out1, frames);
}
} // namespace tandrel::ducking
#endif
