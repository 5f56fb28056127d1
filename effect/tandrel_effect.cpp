#include "tandrel_effect.hpp"

#include <cstring>
#include <new>

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

TandrelEffect::TandrelEffect(HostCallback callback) : ExtendedEffectBase(callback, 1, 2) {
  setInputCount(2);
  setOutputCount(2);
  setUniqueIdentifier(uniqueId);
  setReplacingProcess(true);
  setInitialDelay(latencyFrames);
  source_ = 1.0f;
  std::strncpy(programName_, "Default", programNameLength);
  programName_[programNameLength] = '\0';
  blockLength_ = blockLengthFrames;
  blockCounter_ = 0;
  delayLength_ = delayLineLength;
  startGain_ = 0.0f;
  // Zero-filled, so the frames before the first audio leaves the line are silent.
  delayLine_ = new (std::nothrow) float[delayLineLength]();
  writePosition_ = 2 * blockLength_;
  readPosition_ = 0;
  channelSwap_ = false;
  peakHigh_ = 0.0f;
  peakLow_ = 0.0f;
  targetGain_ = 0.0f;
  ratio_ = 0.25f;
}

TandrelEffect::~TandrelEffect() { delete[] delayLine_; }

void TandrelEffect::setParameter(std::int32_t index, float value) {
  if (index == 0) {
    source_ = value;
  } else if (index == 1) {
    ratio_ = value;
  }
}

float TandrelEffect::getParameter(std::int32_t index) { return index == 1 ? ratio_ : source_; }

void TandrelEffect::processAudio64(double** /*inputs*/, double** /*outputs*/, std::int32_t /*frameCount*/) {}

void TandrelEffect::processAudio(float** inputs, float** outputs, std::int32_t frameCount) {
  channelSwap_ = source_ < 0.5f;
  // Hosts may pass null channel arrays with an empty block.
  if (frameCount <= 0) return;
  const float* audio = inputs[channelSwap_ ? 1 : 0];
  const float* control = inputs[channelSwap_ ? 0 : 1];
  float* out0 = outputs[0];
  float* out1 = outputs[1];

  for (std::int32_t i = 0; i < frameCount; ++i) {
    const float c = control[i];
    const float a = audio[i];
    delayLine_[writePosition_] = a;
    const double gain = static_cast<double>(startGain_) +
                        (static_cast<double>(targetGain_) - static_cast<double>(startGain_)) *
                            static_cast<double>(blockCounter_) / static_cast<double>(blockLength_);
    const float y = static_cast<float>(gain * static_cast<double>(delayLine_[readPosition_]));
    out0[i] = y;
    out1[i] = y;
    if (++readPosition_ == delayLength_) readPosition_ = 0;
    if (++writePosition_ == delayLength_) writePosition_ = 0;
    if (c > peakHigh_) peakHigh_ = c;
    if (c < peakLow_) peakLow_ = c;
    if (++blockCounter_ == blockLength_) endBlock();
  }
}

// The block's peak is the larger of its highest sample and the magnitude of
// its lowest; it sets the target that the next block ramps to.
void TandrelEffect::endBlock() {
  peakLow_ = -peakLow_;
  startGain_ = targetGain_;
  if (peakLow_ > peakHigh_) peakHigh_ = peakLow_;
  targetGain_ = static_cast<float>(1.0 - static_cast<double>(ratio_) * static_cast<double>(peakHigh_) * 4.0);
  if (targetGain_ < 0.0f) targetGain_ = 0.0f;
  peakHigh_ = 0.0f;
  peakLow_ = 0.0f;
  blockCounter_ = 0;
}

} // namespace tandrel
