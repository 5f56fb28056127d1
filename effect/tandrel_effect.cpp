#include "tandrel_effect.hpp"

#include <new>

#include "frame/text_copy.hpp"

namespace tandrel {

static_assert(TandrelEffect::blockLengthFrames == ducking::blockFrames);
static_assert(TandrelEffect::blockLengthFrames == product::blockFrames);

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
  assignUniqueIdentifier(uniqueId);
  setReplacingProcess(true);
  setInitialDelay(latencyFrames);
  source_.store(1.0f, std::memory_order_relaxed);
  copyText(programName_, "Default", programNameLength);
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
  ratio_.store(0.25f, std::memory_order_relaxed);
}

TandrelEffect::~TandrelEffect() { delete[] delayLine_; }

void TandrelEffect::setParameter(std::int32_t index, float value) noexcept {
  if (index == product::parameter::source) {
    source_.store(value, std::memory_order_relaxed);
  } else if (index == product::parameter::ratio) {
    ratio_.store(value, std::memory_order_relaxed);
  }
}

float TandrelEffect::getParameter(std::int32_t index) noexcept {
  return index == product::parameter::ratio ? ratio() : source();
}

void TandrelEffect::processAudio64(double** /*inputs*/, double** /*outputs*/,
                                   std::int32_t /*frameCount*/) noexcept {}

namespace {

// Silence in every output channel that exists, for a host that passed no
// usable input.
void silence(float** outputs, std::int32_t frameCount) {
  if (outputs == nullptr) return;
  for (int channel = 0; channel < 2; ++channel) {
    if (float* out = outputs[channel])
      for (std::int32_t i = 0; i < frameCount; ++i)
        out[i] = 0.0f;
  }
}

std::int32_t smallest(std::int32_t a, std::int32_t b) { return a < b ? a : b; }

} // namespace

// Splits the call into runs that end at a block end or at a wrap of either
// delay-line position, so that the kernel sees frames that are independent
// of each other; block counting and positions carry across calls.
void TandrelEffect::processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept {
  channelSwap_ = routesControlFromInputZero(source());
  // Hosts may pass null channel arrays with an empty block.
  if (frameCount <= 0) return;
  if (inputs == nullptr || outputs == nullptr || inputs[0] == nullptr || inputs[1] == nullptr ||
      outputs[0] == nullptr || outputs[1] == nullptr) {
    silence(outputs, frameCount);
    return;
  }
  ducking::Run run{};
  run.audio = inputs[channelSwap_ ? 1 : 0];
  run.control = inputs[channelSwap_ ? 0 : 1];
  run.out0 = outputs[0];
  run.out1 = outputs[1];

  for (std::int32_t done = 0; done < frameCount;) {
    const std::int32_t frames =
        smallest(smallest(frameCount - done, blockLength_ - blockCounter_),
                 smallest(delayLength_ - readPosition_, delayLength_ - writePosition_));
    run.lineIn = delayLine_ + writePosition_;
    run.lineOut = delayLine_ + readPosition_;
    run.frames = frames;
    run.firstCounter = blockCounter_;
    run.startGain = startGain_;
    run.targetGain = targetGain_;
    run.peakHigh = peakHigh_;
    run.peakLow = peakLow_;
    kernel_->process(run);
    peakHigh_ = run.peakHigh;
    peakLow_ = run.peakLow;

    readPosition_ += frames;
    if (readPosition_ == delayLength_) readPosition_ = 0;
    writePosition_ += frames;
    if (writePosition_ == delayLength_) writePosition_ = 0;
    blockCounter_ += frames;
    if (blockCounter_ == blockLength_) endBlock();

    run.audio += frames;
    run.control += frames;
    run.out0 += frames;
    run.out1 += frames;
    done += frames;
  }
}

namespace {

// Ratio as the gain computation uses it: within [0, 1], and 0 (no ducking)
// for a value that is not a number. Values within [0, 1] pass unchanged.
double usableRatio(float ratio) {
  if (!(ratio > 0.0f)) return 0.0; // zero, negative or not a number
  return ratio < 1.0f ? static_cast<double>(ratio) : 1.0;
}

} // namespace

// The block's peak is the larger of its highest sample and the magnitude of
// its lowest; it sets the target that the next block ramps to:
// 1 - Ratio x peak x 4, at least 0. A Ratio of 0 leaves the gain at 1 even
// for an infinite peak (where the product would not be a number).
void TandrelEffect::endBlock() {
  peakLow_ = -peakLow_;
  startGain_ = targetGain_;
  if (peakLow_ > peakHigh_) peakHigh_ = peakLow_;
  const double ratio = usableRatio(this->ratio());
  const double reduction = ratio == 0.0 ? 0.0 : ratio * static_cast<double>(peakHigh_) * product::ratioScale;
  targetGain_ = static_cast<float>(1.0 - reduction);
  if (!(targetGain_ >= 0.0f)) targetGain_ = 0.0f;
  peakHigh_ = 0.0f;
  peakLow_ = 0.0f;
  blockCounter_ = 0;
}

} // namespace tandrel
