// The run kernel, written once over vectors of `Lanes` frames and compiled
// once per instruction set: each kernel source includes this file inside a
// namespace of its own, with its own compiler flags, so the instantiations
// never mix. It relies on GCC and Clang vector types, which lower to
// whatever registers the target has.
//
// Every frame's arithmetic is the per-frame algorithm's, operation for
// operation, so every instruction set gives the same bits:
//   gain   = start + (target - start) x counter / 128    (double)
//   output = gain x delayed sample, rounded once to float (double)
// and the peak rules use the comparisons themselves (c > high ? c : high),
// which is exactly what max/min instructions compute, NaN included.
//
// No includes: this file is included inside a namespace.

template <int Lanes> struct Vectors {
  typedef float Floats __attribute__((vector_size(Lanes * sizeof(float))));
  typedef double Doubles __attribute__((vector_size(Lanes * sizeof(double))));
  typedef long long Bits __attribute__((vector_size(Lanes * sizeof(double))));
};

template <typename Vector> inline Vector loadVector(const float* source) {
  Vector vector;
  __builtin_memcpy(&vector, source, sizeof vector);
  return vector;
}

template <typename Vector> inline void storeVector(float* destination, Vector vector) {
  __builtin_memcpy(destination, &vector, sizeof vector);
}

// A zero of the same sign for a magnitude that would round to a subnormal
// float; the value itself otherwise (NaN included).
inline double withoutSubnormal(double y) {
  return __builtin_fabs(y) < ::tandrel::ducking::smallestNormalOutput ? __builtin_copysign(0.0, y) : y;
}

inline float outputSample(double startGain, double gainSpan, int32_t counter, float delayed) {
  const double gain =
      startGain + gainSpan * static_cast<double>(counter) * ::tandrel::ducking::inverseBlockFrames;
  return static_cast<float>(withoutSubnormal(gain * static_cast<double>(delayed)));
}

template <int Lanes> void processRunInVectors(::tandrel::ducking::Run& run) {
  using Floats = typename Vectors<Lanes>::Floats;
  using Doubles = typename Vectors<Lanes>::Doubles;
  using Bits = typename Vectors<Lanes>::Bits;
  const int32_t frames = run.frames;
  const int32_t vectorFrames = frames - frames % Lanes;

  // 1. Peaks: every control sample is read before any output is written.
  float high = run.peakHigh, low = run.peakLow;
  if (vectorFrames > 0) {
    Floats highs = high - Floats{}, lows = low - Floats{};
    for (int32_t i = 0; i < vectorFrames; i += Lanes) {
      const Floats c = loadVector<Floats>(run.control + i);
      highs = c > highs ? c : highs;
      lows = c < lows ? c : lows;
    }
    // Lanes hold the extremes of their own frames; combined by the same
    // rules they give the extremes of all frames (ties are equal values).
    for (int lane = 0; lane < Lanes; ++lane) {
      if (highs[lane] > high) high = highs[lane];
      if (lows[lane] < low) low = lows[lane];
    }
  }
  for (int32_t i = vectorFrames; i < frames; ++i) {
    const float c = run.control[i];
    if (c > high) high = c;
    if (c < low) low = c;
  }
  run.peakHigh = high;
  run.peakLow = low;

  // 2. The audio enters the delay line.
  for (int32_t i = 0; i < vectorFrames; i += Lanes)
    storeVector(run.lineIn + i, loadVector<Floats>(run.audio + i));
  for (int32_t i = vectorFrames; i < frames; ++i)
    run.lineIn[i] = run.audio[i];

  // 3. The gain ramp scales the delayed audio into both outputs.
  const double startGain = run.startGain;
  const double gainSpan = static_cast<double>(run.targetGain) - startGain;
  if (vectorFrames > 0) {
    Doubles counters;
    for (int lane = 0; lane < Lanes; ++lane)
      counters[lane] = static_cast<double>(run.firstCounter + lane);
    const Doubles step = static_cast<double>(Lanes) - Doubles{};
    const Bits signBit = static_cast<long long>(0x8000000000000000ull) - Bits{};
    const Doubles smallest = ::tandrel::ducking::smallestNormalOutput - Doubles{};
    for (int32_t i = 0; i < vectorFrames; i += Lanes) {
      const Doubles gains = startGain + gainSpan * counters * ::tandrel::ducking::inverseBlockFrames;
      const Doubles delayed = __builtin_convertvector(loadVector<Floats>(run.lineOut + i), Doubles);
      const Bits y = reinterpret_cast<Bits>(gains * delayed);
      const Doubles magnitude = reinterpret_cast<Doubles>(y & ~signBit);
      const Bits flushed = magnitude < smallest ? (y & signBit) : y;
      const Floats out = __builtin_convertvector(reinterpret_cast<Doubles>(flushed), Floats);
      storeVector(run.out0 + i, out);
      storeVector(run.out1 + i, out);
      counters += step;
    }
  }
  for (int32_t i = vectorFrames; i < frames; ++i) {
    const float y = outputSample(startGain, gainSpan, run.firstCounter + i, run.lineOut[i]);
    run.out0[i] = y;
    run.out1[i] = y;
  }
}
