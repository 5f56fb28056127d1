// The effect that every test module of `tandrel check` is built from: two
// inputs passed to two outputs through one gain parameter, on the project's
// own frame. On its own it passes every check; each test module changes one
// thing of it to plant one defect.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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

// The defect-free effect with one defect planted at the moments the defect
// type names, each optional:
// - `afterProcessing(inputs, outputs, frameCount)` after every clean
//   processing call (it may change the outputs) [audio];
// - `whenSwitchedOn()` each time the host switches processing on [main].
// A test module is then its defect type alone:
// CHECK_TEST_MODULE(check_test::Planted<Defect>).
template <typename Defect> class Planted : public CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if constexpr (requires { defect_.afterProcessing(inputs, outputs, frameCount); })
      defect_.afterProcessing(inputs, outputs, frameCount);
  }
  void resume() noexcept override {
    CheckTestEffect::resume();
    if constexpr (requires { defect_.whenSwitchedOn(); }) defect_.whenSwitchedOn();
  }

private:
  Defect defect_;
};

// A defect in processing: every call takes a scratch buffer of the call's
// size through `take`, which gives back the previous one (or resizes it) and
// answers the new one or null.
// The buffer outlives the call and its first sample reaches output 0 (as a
// 0 added), so no optimiser can drop the calls.
using ScratchTaker = void* (*)(void* previous, std::size_t bytes);
template <ScratchTaker take> struct ScratchEveryCall {
  ScratchEveryCall() = default;
  ScratchEveryCall(const ScratchEveryCall&) = delete;
  ScratchEveryCall& operator=(const ScratchEveryCall&) = delete;
  ~ScratchEveryCall() { std::free(scratch); }
  void afterProcessing(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept {
    scratch = static_cast<float*>(take(scratch, sizeof(float) * (static_cast<std::size_t>(frameCount) + 1)));
    if (scratch == nullptr || frameCount <= 0) return;
    scratch[0] = 0.0f;
    outputs[0][0] += scratch[0];
  }
  float* scratch = nullptr;
};

} // namespace check_test

// Each test module names its effect class here.
#define CHECK_TEST_MODULE(Effect)                                                                            \
  namespace tandrel {                                                                                        \
  EffectBase* createEffect(HostCallback callback) { return new Effect(callback); }                           \
  }
