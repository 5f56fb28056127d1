// The call kernel for the baseline instruction set of the target (SSE2 on
// x86-64), and the one used on processors without a faster kernel.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ducking_run.hpp"

namespace tandrel::ducking::baseline {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::baseline
