// An effect on the project's frame with three inputs and two outputs, for
// what a host shows of counts that differ and for how it feeds inputs that
// no file channel reaches. Output 0 is the sum of inputs 1 and 2, output 1
// a copy of input 0. Afterwards it fills its input buffers with 1.0, as an
// effect that uses them for scratch work may: a host must not rely on them
// keeping what it wrote.
#include "frame/extended_effect_base.hpp"

namespace tandrel {

namespace {

class CountsEffect : public ExtendedEffectBase {
public:
  explicit CountsEffect(HostCallback callback) : ExtendedEffectBase(callback, 1, 0) {
    setInputCount(3);
    setOutputCount(2);
  }

  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    for (std::int32_t i = 0; i < frameCount; ++i) {
      outputs[0][i] = inputs[1][i] + inputs[2][i];
      outputs[1][i] = inputs[0][i];
    }
    for (int input = 0; input < 3; ++input)
      for (std::int32_t i = 0; i < frameCount; ++i)
        inputs[input][i] = 1.0f;
  }
};

} // namespace

EffectBase* createEffect(HostCallback callback) { return new CountsEffect(callback); }

} // namespace tandrel
