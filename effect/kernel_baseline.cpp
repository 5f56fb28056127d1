// The call kernel for the baseline instruction set of the target (SSE2 on
// x86-64), and the one used on processors without a faster kernel.
#include "ducking_run.hpp"

namespace tandrel::ducking::baseline {
#include "ducking_kernel.inl"
} // namespace tandrel::ducking::baseline

namespace tandrel::ducking {
void processCallBaseline(State& state, const float* audio, const float* control, float* out0, float* out1,
                         int32_t frames) {
  baseline::processCallInVectors<2>(state, audio, control, out0, out1, frames);
}
} // namespace tandrel::ducking
