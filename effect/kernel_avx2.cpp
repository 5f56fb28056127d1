// The run kernel for processors with AVX2; this file is compiled with -mavx2
// (and without fused multiply-add, which would change the bits).
#include "ducking_run.hpp"

#if defined(__x86_64__) || defined(__i386__)
namespace tandrel::ducking::avx2 {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::avx2

namespace tandrel::ducking {
void processRunAvx2(Run& run) { avx2::processRunInVectors<4>(run); }
} // namespace tandrel::ducking
#endif
