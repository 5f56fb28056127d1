// The effect that every test module of `tandrel check` is built from: two
// inputs passed to two outputs through one gain parameter, on the project's
// own frame. On its own it passes every check; each test module changes one
// thing of it to plant one defect.
#pragma once

#include <atomic>
#include <cstdint>

#include "frame/extended_effect_base.hpp"
#include "frame/text_copy.hpp"

namespace check_test {

class CheckTestEffect : public tandrel::ExtendedEffectBase {
public:
  explicit CheckTestEffect(tandrel::HostCallback callback) : ExtendedEffectBase(callback, 1, 1) {
    setInputCount(2);
    setOutputCount(2);
    assignUniqueIdentifier(tandrel::fourCharacters('C', 'k', 'T', 's'));
    setReplacingProcess(true);
  }

  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    const float gain = gain_.load(std::memory_order_relaxed);
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] = inputs[c][i] * gain;
  }

  void setParameter(std::int32_t index, float value) noexcept override {
    if (index == 0) gain_.store(value, std::memory_order_relaxed);
  }
  float getParameter(std::int32_t index) noexcept override { return index == 0 ? gain_.load() : 0.0f; }
  void getParameterName(std::int32_t index, char* text) noexcept override {
    if (index == 0) tandrel::copyText(text, "Gain", 8);
  }
  void getParameterLabel(std::int32_t index, char* text) noexcept override {
    if (index == 0) tandrel::copyText(text, "x", 8);
  }
  void getParameterDisplay(std::int32_t index, char* text) noexcept override {
    if (index == 0) formatFloat(gain_.load(), text, 8);
  }
  void getProgramName(char* text) noexcept override { tandrel::copyText(text, "Default", 24); }
  bool getEffectName(char* text) noexcept override {
    tandrel::copyText(text, "Check test", 32);
    return true;
  }

private:
  std::atomic<float> gain_{1.0f};
};

} // namespace check_test

// Each test module names its effect class here.
#define CHECK_TEST_MODULE(Effect)                                                                            \
  namespace tandrel {                                                                                        \
  EffectBase* createEffect(HostCallback callback) { return new Effect(callback); }                           \
  }
