// The run kernel for the baseline instruction set of the target (SSE2 on
// x86-64), and the one used on processors without a faster kernel.
#include "ducking_run.hpp"

namespace tandrel::ducking::baseline {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::baseline

namespace tandrel::ducking {
void processRunBaseline(Run& run) { baseline::processRunInVectors<2>(run); }
} // namespace tandrel::ducking
