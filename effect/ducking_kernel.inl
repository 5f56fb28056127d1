// The call kernel, written once over vectors of `Lanes` frames and compiled
// once per instruction set: each kernel source includes this file inside a
// namespace of its own, with its own compiler flags, so the instantiations
// never mix. It relies on GCC and Clang vector types, which lower to
// whatever registers the target has.
//
// A call is cut at block ends. Inside a block every frame's gain is known in
// advance and the delay line's read and write slots never overlap, so the
// frames are independent of each other: one pass over the block's frames
// tracks the control's extremes, enters the audio into the delay line and
// writes the outputs, `Lanes` frames at a time, with the per-frame
// arithmetic operation for operation (ducking_run.hpp); the peak rules use
// the comparisons themselves (c > high ? c : high), which is exactly what
// max/min instructions compute, NaN included. Frames left over go as a
// vector of half the width if there are enough of them, the rest one by one.
//
// No includes: this file is included inside a namespace, after the
// intrinsics of the kernel's instruction set (see loadWidened). It defines
// that namespace's processCall, the kernel's entry (a CallKernel).

// Vectors of `Lanes` doubles fill one register of the target, those of
// `Lanes` floats half of one.
template <int Lanes> struct Vectors {
  typedef float Floats __attribute__((vector_size(Lanes * sizeof(float))));
  typedef double Doubles __attribute__((vector_size(Lanes * sizeof(double))));
};

template <typename Vector, typename Element> inline Vector loadVector(const Element* source) {
  Vector vector;
  __builtin_memcpy(&vector, source, sizeof vector);
  return vector;
}

template <typename Vector, typename Element> inline void storeVector(Element* destination, Vector vector) {
  __builtin_memcpy(destination, &vector, sizeof vector);
}

// `Lanes` floats from memory, widened to doubles lane by lane.
template <int Lanes> inline typename Vectors<Lanes>::Doubles loadWidened(const float* source) {
  return __builtin_convertvector(loadVector<typename Vectors<Lanes>::Floats>(source),
                                 typename Vectors<Lanes>::Doubles);
}

// Where GCC lowers that generic conversion poorly (into two halves and a
// merge, or lane by lane through memory), one instruction of the kernel's
// instruction set does it; the kernel source includes that set's intrinsics.
// The eight-lane one keeps all lanes by its mask: its plain form trips a
// false uninitialised-value warning in GCC 12's own header. The two-lane one
// is the baseline kernel's own: the wider kernels' half-width tails keep the
// generic conversion, the code they were timed with.
#if defined(__SSE2__) && !defined(__AVX2__)
template <> inline Vectors<2>::Doubles loadWidened<2>(const float* source) {
  const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source));
  return reinterpret_cast<Vectors<2>::Doubles>(_mm_cvtps_pd(_mm_castsi128_ps(low)));
}
#endif
#if defined(__AVX2__)
template <> inline Vectors<4>::Doubles loadWidened<4>(const float* source) {
  return reinterpret_cast<Vectors<4>::Doubles>(_mm256_cvtps_pd(_mm_loadu_ps(source)));
}
#endif
#if defined(__AVX512F__)
template <> inline Vectors<8>::Doubles loadWidened<8>(const float* source) {
  return reinterpret_cast<Vectors<8>::Doubles>(_mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(source)));
}
#endif

// The largest and the smallest lane, halving the vector at each step. Lanes
// hold the extremes of their own frames and 0; combined by the same rules,
// in any order, they give the extremes of all frames and 0, as the running
// rules do: no lane holds a NaN or a negative zero, so ties are equal bits.
// (Vectors go by reference: passed by value, those wider than 16 bytes would
// differ in ABI between the kernels' instruction sets.)
inline float highestLane(const Vectors<2>::Floats& v) { return v[1] > v[0] ? v[1] : v[0]; }
inline float lowestLane(const Vectors<2>::Floats& v) { return v[1] < v[0] ? v[1] : v[0]; }

template <int Lanes> struct Halves {
  using Whole = typename Vectors<Lanes>::Floats;
  using Half = typename Vectors<Lanes / 2>::Floats;
  static Half low(const Whole& v);
  static Half high(const Whole& v);
  // `whole` with its low half replaced by `half`.
  static void putLow(Whole& whole, const Half& half);
};
template <> inline Vectors<2>::Floats Halves<4>::low(const Whole& v) {
  return __builtin_shufflevector(v, v, 0, 1);
}
template <> inline Vectors<2>::Floats Halves<4>::high(const Whole& v) {
  return __builtin_shufflevector(v, v, 2, 3);
}
template <> inline void Halves<4>::putLow(Whole& whole, const Half& half) {
  whole = __builtin_shufflevector(__builtin_shufflevector(half, half, 0, 1, 0, 1), whole, 0, 1, 6, 7);
}
template <> inline Vectors<4>::Floats Halves<8>::low(const Whole& v) {
  return __builtin_shufflevector(v, v, 0, 1, 2, 3);
}
template <> inline Vectors<4>::Floats Halves<8>::high(const Whole& v) {
  return __builtin_shufflevector(v, v, 4, 5, 6, 7);
}
template <> inline void Halves<8>::putLow(Whole& whole, const Half& half) {
  whole = __builtin_shufflevector(__builtin_shufflevector(half, half, 0, 1, 2, 3, 0, 1, 2, 3), whole, 0, 1, 2,
                                  3, 12, 13, 14, 15);
}

template <int Lanes> inline float highestLane(const typename Vectors<Lanes>::Floats& v) {
  const typename Vectors<Lanes / 2>::Floats low = Halves<Lanes>::low(v), high = Halves<Lanes>::high(v);
  return highestLane<Lanes / 2>(high > low ? high : low);
}
template <> inline float highestLane<2>(const Vectors<2>::Floats& v) { return highestLane(v); }
template <int Lanes> inline float lowestLane(const typename Vectors<Lanes>::Floats& v) {
  const typename Vectors<Lanes / 2>::Floats low = Halves<Lanes>::low(v), high = Halves<Lanes>::high(v);
  return lowestLane<Lanes / 2>(high < low ? high : low);
}
template <> inline float lowestLane<2>(const Vectors<2>::Floats& v) { return lowestLane(v); }

// Asks for the cache line at `bytes` past `address`, which may lie outside
// any buffer: the address is computed as an integer, and a prefetch never
// faults.
inline void prefetchAhead(const void* address, uintptr_t bytes, bool forWriting) {
  const auto* ahead = reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(address) + bytes);
  if (forWriting)
    __builtin_prefetch(ahead, 1);
  else
    __builtin_prefetch(ahead, 0);
}

// A call's buffers may lie beyond the first-level cache: a long call's
// always do, and so do those of a render that walks through a long signal
// in calls of a few hundred frames. The processor's own prefetching lags
// behind the one pass, so calls from prefetchingCall frames on ask for the
// samples prefetchBytes ahead (the next calls' samples, when a render walks
// on), one cache line per stream every 64 bytes. That costs some 5 to 10 %
// when a host reuses buffers that the first-level cache keeps, and gains
// some 30 % when it walks through memory. Shorter calls, whose requests
// would mostly fetch what no call needs, do not ask.
constexpr int32_t prefetchingCall = 256;
constexpr uintptr_t prefetchBytes = 2048;
constexpr int32_t lineBytes = 64;

// Processes the first frames of a stretch within one block, a whole number
// of vectors of them, updating the running extremes `highs` and `lows`, one
// lane per frame of a vector; answers how many.
template <int Lanes, bool Prefetch>
inline int32_t processVectorsOfOneBlock(::tandrel::ducking::State& state, const float* audio,
                                        const float* control, float* out0, float* out1, int32_t frames,
                                        typename Vectors<Lanes>::Floats& highs,
                                        typename Vectors<Lanes>::Floats& lows) {
  using Floats = typename Vectors<Lanes>::Floats;
  using Doubles = typename Vectors<Lanes>::Doubles;
  const int32_t vectorFrames = frames - frames % Lanes;
  if (vectorFrames == 0) return 0;
  float* const lineIn = state.line + ::tandrel::ducking::writePosition(state);
  const float* const lineOut = state.line + state.readPosition;
  const double* const positions =
      ::tandrel::ducking::rampPositions.at + ::tandrel::ducking::blockCounter(state);
  const Doubles startGains = state.rampStart - Doubles{};
  const Doubles gainSpans = state.rampSpan - Doubles{};
  for (int32_t i = 0; i < vectorFrames; i += Lanes) {
    if (Prefetch && (i * static_cast<int32_t>(sizeof(float))) % lineBytes == 0) {
      prefetchAhead(control + i, prefetchBytes, false);
      prefetchAhead(audio + i, prefetchBytes, false);
      prefetchAhead(out0 + i, prefetchBytes, true);
      prefetchAhead(out1 + i, prefetchBytes, true);
    }
    const Floats c = loadVector<Floats>(control + i);
    const Floats a = loadVector<Floats>(audio + i);
    const Doubles delayed = loadWidened<Lanes>(lineOut + i);
    storeVector(lineIn + i, a);
    const Doubles gains = startGains + gainSpans * loadVector<Doubles>(positions + i);
    const Floats y = __builtin_convertvector(gains * delayed, Floats);
    storeVector(out0 + i, y);
    storeVector(out1 + i, y);
    highs = c > highs ? c : highs;
    lows = c < lows ? c : lows;
  }
  state.readPosition = (state.readPosition + vectorFrames) & (::tandrel::ducking::lineFrames - 1);
  return vectorFrames;
}

// The running extremes of the call's lanes stay in registers for the whole
// call: the state's first `Lanes` lanes are read at its start and stored at
// its end (the others are 0, see State), and combined at each block end
// without a round trip through memory.
//
// A call narrower than the kernel's vectors runs on half of them
// (`Narrowed`): the state's other lanes may then hold extremes of this block
// from the kernel's earlier calls, and join at the block's end.
//
// Flattened: everything it calls is inlined, the vector pass above too,
// which the half-width pass and the narrowed calls share and which out of
// line would keep the extremes in memory. (Marking that pass always_inline
// instead made GCC 12 drop its prefetch requests.)
template <int Lanes, bool Prefetch, bool Narrowed = false>
[[gnu::flatten]] void processStretches(::tandrel::ducking::State& state, const float* audio,
                                       const float* control, float* out0, float* out1, int32_t frames) {
  using namespace ::tandrel::ducking;
  using Floats = typename Vectors<Lanes>::Floats;
  static_assert((Narrowed ? 2 * Lanes : Lanes) <= peakLanes);
  Floats highs = loadVector<Floats>(state.peakHighs), lows = loadVector<Floats>(state.peakLows);
  while (frames > 0) {
    const int32_t toBlockEnd = blockFrames - blockCounter(state);
    const int32_t stretch = frames < toBlockEnd ? frames : toBlockEnd;
    int32_t done =
        processVectorsOfOneBlock<Lanes, Prefetch>(state, audio, control, out0, out1, stretch, highs, lows);
    // Half a register's worth left over (4 to 7 frames on AVX-512) still goes
    // as one vector, on the low half of the lanes.
    if constexpr (Lanes > 2) {
      if (stretch - done >= Lanes / 2) {
        typename Vectors<Lanes / 2>::Floats halfHighs = Halves<Lanes>::low(highs),
                                            halfLows = Halves<Lanes>::low(lows);
        done += processVectorsOfOneBlock<Lanes / 2, false>(state, audio + done, control + done, out0 + done,
                                                           out1 + done, stretch - done, halfHighs, halfLows);
        Halves<Lanes>::putLow(highs, halfHighs);
        Halves<Lanes>::putLow(lows, halfLows);
      }
    }
    if (done < stretch) {
      float high = highs[0], low = lows[0];
      processFramesOfOneBlock(state, audio + done, control + done, out0 + done, out1 + done, stretch - done,
                              high, low);
      highs[0] = high;
      lows[0] = low;
    }
    if (blockCounter(state) == 0) {
      if constexpr (Narrowed) {
        const Floats otherHighs = loadVector<Floats>(state.peakHighs + Lanes),
                     otherLows = loadVector<Floats>(state.peakLows + Lanes);
        highs = otherHighs > highs ? otherHighs : highs;
        lows = otherLows < lows ? otherLows : lows;
        storeVector(state.peakHighs + Lanes, Floats{});
        storeVector(state.peakLows + Lanes, Floats{});
      }
      endBlock(state, highestLane<Lanes>(highs), lowestLane<Lanes>(lows));
      highs = Floats{};
      lows = Floats{};
    }
    audio += stretch;
    control += stretch;
    out0 += stretch;
    out1 += stretch;
    frames -= stretch;
  }
  storeVector(state.peakHighs, highs);
  storeVector(state.peakLows, lows);
}

template <int Lanes>
void processCallInVectors(::tandrel::ducking::State& state, const float* audio, const float* control,
                          float* out0, float* out1, int32_t frames) {
  if constexpr (Lanes > 4) {
    // Fewer frames than one vector holds: half-width vectors, without the
    // set-up of the full width's.
    if (frames < Lanes) {
      processStretches<Lanes / 2, false, true>(state, audio, control, out0, out1, frames);
      return;
    }
  }
  if (frames >= prefetchingCall)
    processStretches<Lanes, true>(state, audio, control, out0, out1, frames);
  else
    processStretches<Lanes, false>(state, audio, control, out0, out1, frames);
}

// The kernel: vectors as wide as one register of doubles of the instruction
// set this file is compiled for.
#if defined(__AVX512F__)
constexpr int kernelLanes = 8;
#elif defined(__AVX2__)
constexpr int kernelLanes = 4;
#else
constexpr int kernelLanes = 2;
#endif

void processCall(::tandrel::ducking::State& state, const float* audio, const float* control, float* out0,
                 float* out1, int32_t frames) {
  processCallInVectors<kernelLanes>(state, audio, control, out0, out1, frames);
}
