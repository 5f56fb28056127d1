// The run kernel for processors with AVX-512 (foundation, double-word and
// quad-word, vector-length); this file is compiled with those flags only.
#include "ducking_run.hpp"

#if defined(__x86_64__) || defined(__i386__)
namespace tandrel::ducking::avx512 {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::avx512

namespace tandrel::ducking {
void processRunAvx512(Run& run) { avx512::processRunInVectors<8>(run); }
} // namespace tandrel::ducking
#endif
