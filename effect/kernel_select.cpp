// The kernels this build carries and the choice among them, made once from
// what the processor reports.
#include "ducking_run.hpp"

namespace tandrel::ducking {

// Each kernel source's entry (ducking_kernel.inl).
namespace baseline {
CallFunction processCall;
}
#if defined(__x86_64__) || defined(__i386__)
namespace avx2 {
CallFunction processCall;
}
namespace avx512 {
CallFunction processCall;
}
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr Kernel kernels[] = {
    {"sse2", baseline::processCall},
    {"avx2", avx2::processCall},
    {"avx512", avx512::processCall},
};

// The compiler's processor query also checks that the operating system saves
// the wider registers.
bool runsHere(int32_t index) {
  __builtin_cpu_init();
  switch (index) {
  case 0:
    return true;
  case 1:
    return __builtin_cpu_supports("avx2");
  case 2:
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
  default:
    return false;
  }
}
#else
constexpr Kernel kernels[] = {{"portable", baseline::processCall}};
bool runsHere(int32_t index) { return index == 0; }
#endif

constexpr int32_t count = static_cast<int32_t>(sizeof kernels / sizeof kernels[0]);

} // namespace

int32_t kernelCount() { return count; }

const Kernel& kernelAt(int32_t index) { return kernels[index < 0 || index >= count ? 0 : index]; }

bool kernelRunsHere(int32_t index) { return index >= 0 && index < count && runsHere(index); }

const Kernel& bestKernel() {
  static const int32_t best = [] {
    int32_t chosen = 0;
    for (int32_t i = 0; i < count; ++i)
      if (runsHere(i)) chosen = i;
    return chosen;
  }();
  return kernels[best];
}

} // namespace tandrel::ducking
