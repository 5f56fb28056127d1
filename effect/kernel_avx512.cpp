// The call kernel for processors with AVX-512 (foundation, double-word and
// quad-word, vector-length); this file is compiled with those flags only.
#include "ducking_run.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace tandrel::ducking::avx512 {
#include "ducking_kernel.inl"

// GCC lowers the generic conversion of eight floats into two halves and a
// merge; one instruction does it (all eight lanes kept by the mask: the
// plain form of this conversion trips a false uninitialised-value warning
// in GCC 12's own header).
template <> inline Vectors<8>::Doubles widen<8>(Vectors<8>::Floats floats) {
  return reinterpret_cast<Vectors<8>::Doubles>(_mm512_maskz_cvtps_pd(0xFF, reinterpret_cast<__m256>(floats)));
}
} // namespace tandrel::ducking::avx512

namespace tandrel::ducking {
void processCallAvx512(State& state, const float* audio, const float* control, float* out0, float* out1,
                       int32_t frames) {
  avx512::processCallInVectors<8>(state, audio, control, out0, out1, frames);
}
} // namespace tandrel::ducking
#endif
