#include "tandrel_effect.hpp"

#include <new>

#include "frame/entry.hpp"
#include "frame/text_copy.hpp"

namespace tandrel {

EffectBase* createEffect(HostCallback callback) {
  auto* effect = new (std::nothrow) TandrelEffect(callback);
  if (effect == nullptr) return nullptr;
  if (!effect->isUsable()) { // without its delay line the effect could not process
    delete effect;
    return nullptr;
  }
  return effect;
}

TandrelEffect::TandrelEffect(HostCallback callback)
    : ExtendedEffectBase(callback, 1, product::parameter::count), kernel_(&ducking::bestKernel()) {
  setInputCount(2);
  setOutputCount(2);
  assignUniqueIdentifier(product::uniqueIdentifier);
  setInitialDelay(ducking::latencyFrames);
  source_.store(1.0f, std::memory_order_relaxed);
  copyText(programName_, "Default", programNameLength);
  ducking::start(ducker_); // isUsable() tells whether the delay line was obtained
}

TandrelEffect::~TandrelEffect() { ducking::release(ducker_); }

void TandrelEffect::setParameter(std::int32_t index, float value) noexcept {
  if (index == product::parameter::source) {
    source_.store(value, std::memory_order_relaxed);
  } else if (index == product::parameter::ratio) {
    ducker_.ratio.store(value, std::memory_order_relaxed);
  }
}

float TandrelEffect::getParameter(std::int32_t index) noexcept {
  return index == product::parameter::ratio ? ratio() : source();
}

namespace {

// Silence in every output channel that exists, for a host that passed no
// usable input.
[[gnu::cold, gnu::noinline]] void silence(float** outputs, std::int32_t frameCount) {
  if (outputs == nullptr) return;
  for (int channel = 0; channel < 2; ++channel) {
    if (float* out = outputs[channel])
      for (std::int32_t i = 0; i < frameCount; ++i)
        out[i] = 0.0f;
  }
}

// Calls shorter than this go frame by frame, without the kernel's indirect
// call and vector set-up, which would cost more than they save.
constexpr std::int32_t shortCallFrames = 4;

// One frame of a short call, block end included.
inline void processShortCallFrame(ducking::State& state, const float* audio, const float* control,
                                  float* out0, float* out1) {
  if (ducking::processOneFrame(state, audio, control, out0, out1)) [[unlikely]]
    ducking::endBlock(state);
}

// A short call of two or three frames, frame by frame.
inline void processFrames(ducking::State& state, const float* audio, const float* control, float* out0,
                          float* out1, std::int32_t frames) {
  for (std::int32_t i = 0; i < frames; ++i)
    processShortCallFrame(state, audio + i, control + i, out0 + i, out1 + i);
}

} // namespace

// Block counting, gains, peaks and positions carry across calls, so the
// output does not depend on how the host divides the audio into calls.
void TandrelEffect::processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept {
  const bool controlFromInputZero = routesControlFromInputZero(source());
  // Hosts may pass null channel arrays with an empty block.
  if (frameCount <= 0) return;
  if (inputs == nullptr || outputs == nullptr) [[unlikely]] {
    silence(outputs, frameCount);
    return;
  }
  const float* const input0 = inputs[0];
  const float* const input1 = inputs[1];
  float* const out0 = outputs[0];
  float* const out1 = outputs[1];
  if (input0 == nullptr || input1 == nullptr || out0 == nullptr || out1 == nullptr) [[unlikely]] {
    silence(outputs, frameCount);
    return;
  }
  const float* const audio = controlFromInputZero ? input1 : input0;
  const float* const control = controlFromInputZero ? input0 : input1;
  // One frame runs straight through, with nothing left to decide after it.
  if (frameCount == 1)
    processShortCallFrame(ducker_, audio, control, out0, out1);
  else if (frameCount < shortCallFrames)
    processFrames(ducker_, audio, control, out0, out1, frameCount);
  else
    kernel_->process(ducker_, audio, control, out0, out1, frameCount);
}

} // namespace tandrel
