// A straightforward per-frame model of the ducker, written independently of
// the effect, for comparing outputs bit for bit. It works on plain arrays:
// audio and control in, one output out.
//
// Besides the per-frame algorithm it models the effect's guards against the
// values the algorithm has no gain within [0, 1] for: a Ratio that is not a
// number or is negative, and the products 0 x infinity (Ratio 0 with an
// infinite peak, an infinite Ratio with peak 0) get no reduction (target
// gain 1). Every other Ratio, above 1 and +infinity included, follows
// 1 - Ratio x peak x 4 floored at 0; outputs are stored as they round,
// subnormals included.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace tandrel::test {

class ReferenceDucker {
public:
  float source = 1.0f;
  float ratio = 0.25f;

  ReferenceDucker() : line_(16384, 0.0f) {}

  // Processes `frames` frames of inputs 0 and 1; writes the result to `out`.
  void process(const float* input0, const float* input1, float* out, std::int32_t frames) {
    const bool swap = source < 0.5f;
    const float* audio = swap ? input1 : input0;
    const float* control = swap ? input0 : input1;
    for (std::int32_t i = 0; i < frames; ++i) {
      const float c = control[i];
      line_[static_cast<std::size_t>((read_ + 256) % 16384)] = audio[i];
      const double gain = double(start_) + (double(target_) - double(start_)) * double(counter_) / 128.0;
      const double y = gain * double(line_[static_cast<std::size_t>(read_)]);
      out[i] = static_cast<float>(y);
      read_ = (read_ + 1) % 16384;
      if (c > high_) high_ = c;
      if (c < low_) low_ = c;
      if (++counter_ == 128) {
        const float magnitudeOfLow = -low_;
        const float peak = magnitudeOfLow > high_ ? magnitudeOfLow : high_;
        start_ = target_;
        const bool faulty = std::isnan(ratio) || ratio < 0.0f || (ratio == 0.0f && std::isinf(peak)) ||
                            (std::isinf(ratio) && peak == 0.0f);
        target_ = faulty ? 1.0f : static_cast<float>(1.0 - double(ratio) * double(peak) * 4.0);
        if (target_ < 0.0f) target_ = 0.0f;
        high_ = low_ = 0.0f;
        counter_ = 0;
      }
    }
  }

private:
  std::vector<float> line_;
  std::int32_t read_ = 0;
  std::int32_t counter_ = 0;
  float start_ = 0.0f, target_ = 0.0f, high_ = 0.0f, low_ = 0.0f;
};

} // namespace tandrel::test
