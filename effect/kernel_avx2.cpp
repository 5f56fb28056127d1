// The call kernel for processors with AVX2; this file is compiled with -mavx2
// (and without fused multiply-add, which would change the bits), on x86 only.
#include <immintrin.h>

#include "ducking_run.hpp"

namespace tandrel::ducking::avx2 {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::avx2
