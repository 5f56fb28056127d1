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

// Vectors of `Lanes` doubles fill one register of the target; the floats of
// the gain pass fill half of one, those of the peak pass a whole one.
template <int Lanes> struct Vectors {
  typedef float HalfFloats __attribute__((vector_size(Lanes * sizeof(float))));
  typedef float Floats __attribute__((vector_size(2 * Lanes * sizeof(float))));
  typedef double Doubles __attribute__((vector_size(Lanes * sizeof(double))));
};

template <typename Vector> inline Vector loadVector(const float* source) {
  Vector vector;
  __builtin_memcpy(&vector, source, sizeof vector);
  return vector;
}

template <typename Vector> inline void storeVector(float* destination, Vector vector) {
  __builtin_memcpy(destination, &vector, sizeof vector);
}

inline float outputSample(double startGain, double gainSpan, int32_t counter, float delayed) {
  const double gain =
      startGain + gainSpan * static_cast<double>(counter) * ::tandrel::ducking::inverseBlockFrames;
  return static_cast<float>(gain * static_cast<double>(delayed));
}

template <int Lanes> void processRunInVectors(::tandrel::ducking::Run& run) {
  using Floats = typename Vectors<Lanes>::Floats;
  using HalfFloats = typename Vectors<Lanes>::HalfFloats;
  using Doubles = typename Vectors<Lanes>::Doubles;
  constexpr int peakLanes = 2 * Lanes;
  const int32_t frames = run.frames;

  // 1. Peaks: every control sample is read before any output is written.
  float high = run.peakHigh, low = run.peakLow;
  const int32_t peakFrames = frames - frames % peakLanes;
  if (peakFrames > 0) {
    Floats highs = high - Floats{}, lows = low - Floats{};
    for (int32_t i = 0; i < peakFrames; i += peakLanes) {
      const Floats c = loadVector<Floats>(run.control + i);
      highs = c > highs ? c : highs;
      lows = c < lows ? c : lows;
    }
    // Lanes hold the extremes of their own frames; combined by the same
    // rules, in any order, they give the extremes of all frames: no lane
    // holds a NaN or a negative zero, so ties are equal bits. The two halves
    // first, then lane by lane.
    HalfFloats highHalves[2], lowHalves[2];
    __builtin_memcpy(highHalves, &highs, sizeof highs);
    __builtin_memcpy(lowHalves, &lows, sizeof lows);
    const HalfFloats halfHighs = highHalves[1] > highHalves[0] ? highHalves[1] : highHalves[0];
    const HalfFloats halfLows = lowHalves[1] < lowHalves[0] ? lowHalves[1] : lowHalves[0];
    for (int lane = 0; lane < Lanes; ++lane) {
      if (halfHighs[lane] > high) high = halfHighs[lane];
      if (halfLows[lane] < low) low = halfLows[lane];
    }
  }
  for (int32_t i = peakFrames; i < frames; ++i) {
    const float c = run.control[i];
    if (c > high) high = c;
    if (c < low) low = c;
  }
  run.peakHigh = high;
  run.peakLow = low;

  // 2. The audio enters the delay line.
  for (int32_t i = 0; i < peakFrames; i += peakLanes)
    storeVector(run.lineIn + i, loadVector<Floats>(run.audio + i));
  for (int32_t i = peakFrames; i < frames; ++i)
    run.lineIn[i] = run.audio[i];

  // 3. The gain ramp scales the delayed audio into both outputs.
  const double startGain = run.startGain;
  const double gainSpan = static_cast<double>(run.targetGain) - startGain;
  const int32_t vectorFrames = frames - frames % Lanes;
  if (vectorFrames > 0) {
    // counter / 128 is exact, so span x (counter / 128) rounds once, exactly
    // like (span x counter) / 128.
    Doubles positions;
    for (int lane = 0; lane < Lanes; ++lane)
      positions[lane] = static_cast<double>(run.firstCounter + lane) * ::tandrel::ducking::inverseBlockFrames;
    const Doubles step = static_cast<double>(Lanes) * ::tandrel::ducking::inverseBlockFrames - Doubles{};
    for (int32_t i = 0; i < vectorFrames; i += Lanes) {
      const Doubles gains = startGain + gainSpan * positions;
      const Doubles delayed = __builtin_convertvector(loadVector<HalfFloats>(run.lineOut + i), Doubles);
      const HalfFloats out = __builtin_convertvector(gains * delayed, HalfFloats);
      storeVector(run.out0 + i, out);
      storeVector(run.out1 + i, out);
      positions += step;
    }
  }
  for (int32_t i = vectorFrames; i < frames; ++i) {
    const float y = outputSample(startGain, gainSpan, run.firstCounter + i, run.lineOut[i]);
    run.out0[i] = y;
    run.out1[i] = y;
  }
}
