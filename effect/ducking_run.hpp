// One run of the ducker: the work of up to one block of frames, handed to a
// kernel compiled for one instruction set. The effect splits every call into
// runs that end at a block end or at a wrap of either delay-line position;
// within such a run the gains of all frames are known in advance and the
// delay line's read and write ranges never overlap, so the frames are
// independent of each other and can be processed in vectors.
//
// This header is shared by the effect and by its kernels, which are compiled
// with different instruction-set flags; it includes only <stdint.h>.
#pragma once

#include <stdint.h>

namespace tandrel::ducking {

// The state variables of one run:
//   audio, control  the run's input samples (frames of them)
//   out0, out1      the run's output samples; may be the same memory as the
//                   inputs: every input sample is read before any output
//                   sample is written
//   lineIn          the delay-line slots that the run's audio enters
//   lineOut         the delay-line slots that the run's output is read from,
//                   written 256 frames earlier; never overlaps lineIn
//   firstCounter    the block counter at the run's first frame (0..127)
//   startGain,      the current block's gain ramp: frame k of the block gets
//   targetGain      start + (target - start) x k / 128, in double precision
//   peakHigh,       the block's running extremes of the control signal:
//   peakLow         high only grows, low only falls, a NaN changes neither
struct Run {
  const float* audio;
  const float* control;
  float* out0;
  float* out1;
  float* lineIn;
  const float* lineOut;
  int32_t frames;
  int32_t firstCounter;
  float startGain;
  float targetGain;
  float peakHigh;
  float peakLow;
};

// Frames per peak-measuring block. A power of two, so that scaling by its
// reciprocal rounds exactly like dividing by it.
constexpr int32_t blockFrames = 128;
constexpr double inverseBlockFrames = 1.0 / blockFrames;
static_assert((blockFrames & (blockFrames - 1)) == 0);

// Processes one run and updates its peaks. Must not be called with 0 frames.
// [audio] never allocates, locks or calls the library.
using RunKernel = void (*)(Run& run);

struct Kernel {
  const char* name;
  RunKernel process;
};

// The kernels this build carries, portable first; and whether the processor
// we run on can execute each.
int32_t kernelCount();
const Kernel& kernelAt(int32_t index);
bool kernelRunsHere(int32_t index);
// The fastest kernel that runs here. Chosen once; cheap to call.
const Kernel& bestKernel();
// The kernel a new instance uses: the one the environment variable
// TANDREL_KERNEL names ("sse2", "avx2", "avx512"; "portable" off x86) when
// it runs here, otherwise the fastest. All give the same bits; the choice
// lets benchmarks compare them through the loaded module. [main]
const Kernel& instanceKernel();

} // namespace tandrel::ducking
