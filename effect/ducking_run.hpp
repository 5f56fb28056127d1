// The ducker's processing state and the per-frame arithmetic shared by the
// effect and by its kernels, which are compiled with different
// instruction-set flags: every one of them computes each frame and each
// block end with the same operations, so all give the same bits.
//
// Per frame, in double precision, rounded to float once when stored:
//   gain   = start + (target - start) x counter / 128
//   output = gain x the sample that entered the delay line 256 frames ago
// At each block end (every 128 frames), from the block's peak:
//   target = 1 - Ratio x peak x 4, stored as float, at least 0.
//
// This header includes only <atomic>, <new> (for the delay line's
// allocation), <stdint.h> and Tandrel's vocabulary (which includes only
// <cstdint>).
#pragma once

#include <stdint.h>

#include <atomic>
#include <new>

#include "tandrel_vocabulary.hpp"

namespace tandrel::ducking {

// Frames per peak-measuring block. A power of two, so that scaling by its
// reciprocal rounds exactly like dividing by it.
using product::blockFrames;
constexpr int32_t latencyFrames = 2 * blockFrames;
// Slots of the delay line; a multiple of the block, so that both positions
// wrap exactly at block ends (see State).
constexpr int32_t lineFrames = 16384;
static_assert((blockFrames & (blockFrames - 1)) == 0 && (lineFrames & (lineFrames - 1)) == 0);
static_assert(lineFrames % blockFrames == 0 && latencyFrames % blockFrames == 0);
// Lanes of the block's running extremes (see State): as many as the floats
// of the widest kernel's vector.
constexpr int32_t peakLanes = 8;

// counter / 128 for every counter of a block, exact in double: a frame's
// gain is start + (target - start) x rampPositions[counter], which rounds
// once, exactly like (target - start) x counter / 128.
struct RampPositions {
  alignas(64) double at[blockFrames];
  constexpr RampPositions() : at() {
    for (int32_t k = 0; k < blockFrames; ++k)
      at[k] = static_cast<double>(k) / blockFrames;
  }
};
inline constexpr RampPositions rampPositions{};

// The ducker's state between frames, in the order the effect keeps it:
//   startGain      gain at the first frame of the current block
//   line           the delay line, lineFrames slots
//   ratio          parameter 1, written by the host's parameter calls while
//                  processing runs on another thread, so a relaxed atomic;
//                  read at each block end
//   targetGain     gain reached at the end of the current block's ramp
//   readPosition   slot of the sample that leaves the line next
//   rampStart,     the current block's ramp in double precision, start gain
//   rampSpan       and target minus start, kept so that no frame converts
//   peakHighs,     the current block's running extremes of the control,
//   peakLows       kept per lane of the kernel's vectors: each frame updates
//                  one lane, by the running rules (high only grows from 0,
//                  low only falls from 0, a NaN changes neither, so no lane
//                  is ever NaN or -0). Combined by the same rules, in any
//                  order, the lanes give exactly the block's extremes, which
//                  is done once per block end instead of once per call.
//                  Frame by frame, lane 0 is updated. Lanes beyond the width
//                  of the kernel in use are 0 (foldLanes, when the kernel
//                  changes).
// The write position is always latencyFrames slots ahead of the read
// position, and the block counter (frames of the current block processed so
// far, 0..127) is the read position modulo the block: the read position
// starts at 0 with the counter, both advance by one per frame, and the line's
// length is a multiple of the block, so the counter returns to 0 exactly when
// the read position reaches a multiple of the block. Neither position wraps
// inside a block.
struct State {
  float startGain = 0.0f;
  float* line = nullptr;
  std::atomic<float> ratio{0.25f};
  float targetGain = 0.0f;
  int32_t readPosition = 0;
  double rampStart = 0.0;
  double rampSpan = 0.0;
  float peakHighs[peakLanes] = {};
  float peakLows[peakLanes] = {};
};

// The per-frame helpers below have internal linkage: every source that
// includes them, each kernel with its own instruction-set flags, gets its own
// copy, so the linker never substitutes one compiled for wider registers.

static inline int32_t blockCounter(const State& state) { return state.readPosition & (blockFrames - 1); }
static inline int32_t writePosition(const State& state) {
  return (state.readPosition + latencyFrames) & (lineFrames - 1);
}

// The output of a frame at `counter` whose delayed sample is `delayed`.
static inline float frameOutput(const State& state, int32_t counter, float delayed) {
  const double gain = state.rampStart + state.rampSpan * rampPositions.at[counter];
  return static_cast<float>(gain * static_cast<double>(delayed));
}

// Processes `frames` frames frame by frame; they must not reach past the
// current block's end (frames <= blockFrames - counter). `high` and `low`
// are the running extremes of the lane these frames update, which the
// caller keeps. Every input sample of a frame is read before its outputs are
// written, so outputs may share memory with inputs.
static inline void processFramesOfOneBlock(State& state, const float* audio, const float* control,
                                           float* out0, float* out1, int32_t frames, float& high,
                                           float& low) {
  float* const lineIn = state.line + writePosition(state);
  const float* const lineOut = state.line + state.readPosition;
  const int32_t counter = blockCounter(state);
  for (int32_t i = 0; i < frames; ++i) {
    const float c = control[i];
    lineIn[i] = audio[i];
    const float y = frameOutput(state, counter + i, lineOut[i]);
    high = c > high ? c : high;
    low = c < low ? c : low;
    out0[i] = y;
    out1[i] = y;
  }
  state.readPosition = (state.readPosition + frames) & (lineFrames - 1);
}

// Processes one frame; answers whether it was the block's last (the caller
// then ends the block). Written for calls of a few frames, where nothing but
// this frame's work should stand between the host's call and its return:
// the state is read once, written once, and written before the outputs, so
// the compiler need not reload it in case an output aliases it; no loop and
// no branch. The input samples are read before the outputs are written.
static inline bool processOneFrame(State& state, const float* audio, const float* control, float* out0,
                                   float* out1) {
  const int32_t read = state.readPosition;
  const float a = *audio, c = *control;
  float* const line = state.line;
  const float delayed = line[read];
  line[(read + latencyFrames) & (lineFrames - 1)] = a;
  const int32_t counter = read & (blockFrames - 1);
  const float y = frameOutput(state, counter, delayed);
  const float high = state.peakHighs[0], low = state.peakLows[0];
  state.peakHighs[0] = c > high ? c : high;
  state.peakLows[0] = c < low ? c : low;
  const int32_t next = read + 1;
  state.readPosition = next & (lineFrames - 1);
  *out0 = y;
  *out1 = y;
  return (next & (blockFrames - 1)) == 0;
}

// The block's lanes of extremes combined into the block's extremes. No lane
// holds a NaN or a negative zero, so the comparisons combine them exactly as
// the running rules do, in any order.
static_assert(peakLanes == 8);
static inline float higher(float a, float b) { return a > b ? a : b; }
static inline float lower(float a, float b) { return a < b ? a : b; }

// Each lane is read on its own: a frame-by-frame call has just stored one
// lane, and a load that one earlier store contains is forwarded from it at
// once, where a wider load would wait for the store to reach the cache.
static inline float highestLane(const float* v) {
  return higher(higher(higher(v[0], v[1]), higher(v[2], v[3])),
                higher(higher(v[4], v[5]), higher(v[6], v[7])));
}
static inline float lowestLane(const float* v) {
  return lower(lower(lower(v[0], v[1]), lower(v[2], v[3])), lower(lower(v[4], v[5]), lower(v[6], v[7])));
}

// Starts every lane of extremes from 0, as at the start of a block.
static inline void clearLanes(State& state) {
  for (int32_t lane = 0; lane < peakLanes; ++lane) {
    state.peakHighs[lane] = 0.0f;
    state.peakLows[lane] = 0.0f;
  }
}

// Puts the block's extremes so far into lane 0 and sets the others to 0, so
// that a kernel of any width finds every lane it does not use at 0.
static inline void foldLanes(State& state) {
  const float high = highestLane(state.peakHighs), low = lowestLane(state.peakLows);
  clearLanes(state);
  state.peakHighs[0] = high;
  state.peakLows[0] = low;
}

// Ends the block once its last frame is processed (the counter is back at
// 0), from the block's highest and lowest control sample: the block's peak
// is the larger of the highest and the magnitude of the lowest, and sets
// the target that the next block ramps to, 1 - Ratio x peak x 4 in double
// precision, stored as a float, at least 0. Any Ratio above 0 follows that
// rule, a Ratio above 1 (ducking harder) and an infinite one with a
// non-zero peak included. What the rule gives no gain within [0, 1] for
// gets no reduction (gain 1): a Ratio that is not a number or is negative,
// and the products 0 x infinity (Ratio 0 with an infinite peak, an
// infinite Ratio with peak 0). The caller starts the next block's extremes
// from 0.
static inline void endBlock(State& state, float high, float low) {
  const float magnitudeOfLow = -low;
  const float peak = magnitudeOfLow > high ? magnitudeOfLow : high;
  state.startGain = state.targetGain;
  const float ratio = state.ratio.load(std::memory_order_relaxed);
  const double reduction = ratio > 0.0f && peak > 0.0f
                               ? static_cast<double>(ratio) * static_cast<double>(peak) * product::ratioScale
                               : 0.0;
  const float target = static_cast<float>(1.0 - reduction);
  state.targetGain = target < 0.0f ? 0.0f : target;
  state.rampStart = state.startGain;
  state.rampSpan = static_cast<double>(state.targetGain) - state.rampStart;
}

// Ends the block from the extremes kept in the state, and starts the next
// block's from 0.
static inline void endBlock(State& state) {
  endBlock(state, highestLane(state.peakHighs), lowestLane(state.peakLows));
  clearLanes(state);
}

// A new ducker: both gains at 0 (the output starts silent), both positions
// and the block counter at the start, the lanes cleared, Ratio at its
// default of 0.25, and the delay line obtained zero-filled, so the frames
// before the first audio leaves it are silent. False, with a null line,
// when the line's memory cannot be obtained: the ducker cannot process.
// [main] allocates; never while processing.
static inline bool start(State& state) {
  state.startGain = 0.0f;
  state.line = new (std::nothrow) float[lineFrames]();
  state.readPosition = 0; // the write position and the block counter follow it
  state.rampStart = 0.0;
  state.rampSpan = 0.0;
  clearLanes(state);
  state.targetGain = 0.0f;
  state.ratio.store(0.25f, std::memory_order_relaxed);
  return state.line != nullptr;
}

// Gives the delay line back. [main]
static inline void release(State& state) {
  delete[] state.line;
  state.line = nullptr;
}

// Processes a whole call of `frames` frames (at least 1), block ends
// included. Every input sample of a frame is read before any output sample
// of that frame is written, so outputs may share memory with inputs.
// [audio] never allocates, locks or calls the library.
using CallFunction = void(State& state, const float* audio, const float* control, float* out0, float* out1,
                          int32_t frames);
using CallKernel = CallFunction*;

struct Kernel {
  const char* name;
  CallKernel process;
};

// The kernels this build carries, portable first; and whether the processor
// we run on can execute each.
int32_t kernelCount();
const Kernel& kernelAt(int32_t index);
bool kernelRunsHere(int32_t index);
// The fastest kernel that runs here, which every new instance uses. Chosen
// once; cheap to call.
const Kernel& bestKernel();

} // namespace tandrel::ducking
