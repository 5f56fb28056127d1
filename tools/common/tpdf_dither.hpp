// Reducing floating-point samples to whole numbers of a given bit depth with
// triangular (TPDF) dither: before rounding, each sample gets the difference
// of two independent uniform values of one step (LSB) each, a value from -1
// to +1 step with a triangular distribution. The rounding error then no
// longer depends on the signal: it is noise with mean 0 and a variance of a
// quarter step squared (1/6 from the dither, 1/12 from the rounding), and
// signals far below one step survive as signal in that noise instead of
// vanishing or turning into distortion.
//
// The dither comes from a seeded generator, so the same samples in the
// same order give the same whole numbers: the same job writes the same
// file.
//
// Thread: one thread at a time.
#pragma once

#include <cstdint>

namespace tandrel::cli {

class TpdfQuantizer {
public:
  // `bits` from 2 to 24: full scale (1.0) is 2^(bits - 1) steps.
  explicit TpdfQuantizer(int bits, std::uint64_t seed = 0x7a6e64726c2d3234u);

  // The whole number for the next sample: round(sample x 2^(bits - 1) +
  // dither), held within -2^(bits - 1) to 2^(bits - 1) - 1 (beyond full
  // scale the sample is clipped). A non-finite sample gives 0.
  std::int32_t quantize(float sample);

  // The dither value for the next sample, in steps (-1, 1), as quantize()
  // would add it; advances the generator the same way.
  double nextDither();

  // The size of one step relative to full scale: 2^-(bits - 1).
  double step() const { return 1.0 / scale_; }
  std::int32_t highest() const { return highest_; }
  std::int32_t lowest() const { return -highest_ - 1; }

private:
  std::uint64_t next();

  double scale_;
  std::int32_t highest_;
  std::uint64_t state_;
};

} // namespace tandrel::cli
