// The call kernel for processors with AVX-512 (foundation, double-word and
// quad-word, vector-length); this file is compiled with those flags only,
// on x86 only.
#include <immintrin.h>

#include "ducking_run.hpp"

namespace tandrel::ducking::avx512 {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::avx512
