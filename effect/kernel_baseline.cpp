// The call kernel for the baseline instruction set of the target (SSE2 on
// x86-64), and the one used on processors without a faster kernel.
#include "ducking_run.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tandrel::ducking::baseline {
#include "ducking_kernel.inl"

#if defined(__SSE2__)
// GCC lowers the generic conversion of two floats lane by lane through
// memory; one load of eight bytes and one conversion do it.
template <> inline Vectors<2>::Doubles loadWidened<2>(const float* source) {
  const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source));
  return reinterpret_cast<Vectors<2>::Doubles>(_mm_cvtps_pd(_mm_castsi128_ps(low)));
}
#endif
} // namespace tandrel::ducking::baseline

namespace tandrel::ducking {
void processCallBaseline(State& state, const float* audio, const float* control, float* out0, float* out1,
                         int32_t frames) {
  baseline::processCallInVectors<2>(state, audio, control, out0, out1, frames);
}
} // namespace tandrel::ducking
