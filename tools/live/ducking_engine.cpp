#include "ducking_engine.hpp"

#include <algorithm>
#include <cmath>

#include "common/cli_error.hpp"
#include "common/levels.hpp"
#include "common/option_declaration.hpp"
#include "duck/duck_mix.hpp"
#include "effect/depth_law.hpp"
#include "effect/tandrel_vocabulary.hpp"
#include "live_options.hpp"

namespace tandrel::cli {

namespace {

// Source at 1 ("L-R"): each instance reads its music channel as the audio
// and the presence envelope as the control.
constexpr float sourceAudioFirst = 1.0f;
constexpr int audioInput = product::audioInput(sourceAudioFirst);
constexpr int controlInput = product::controlInput(sourceAudioFirst);

void checkIsTandrel(LoadedEffect& effect) {
  if (effect.uniqueIdentifier() == product::uniqueIdentifier && effect.inputCount() == 2 &&
      effect.outputCount() >= 1)
    return;
  throw CliError("module '" + effect.modulePath() + "' is not Tandrel");
}

} // namespace

void checkLiveShape(const LiveShape& shape) {
  namespace o = live_options;
  checkOption(o::channels, shape);
  checkOption(o::depth, shape);
  for (const auto* option : {&o::threshold, &o::attack, &o::hold, &o::release})
    checkOption(*option, shape.presence);
  for (const auto* option : {&o::lookahead, &o::voiceGain, &o::musicGain})
    checkOption(*option, shape);
}

DuckingEngine::DuckingEngine(const std::string& modulePath, const LiveShape& shape, double sampleRate,
                             int periodFrames)
    : modulePath_(modulePath), shape_(shape), sampleRate_(sampleRate),
      lookaheadFrames_(static_cast<int>(std::lround(shape.lookaheadMs * sampleRate / 1000.0))),
      musicGain_(static_cast<float>(decibelsToFactor(shape.musicGainDb))),
      voiceGain_(static_cast<float>(decibelsToFactor(shape.voiceGainDb))),
      presence_(shape.presence, sampleRate), voiceDelay_(0) {
  controls_.depthDb.store(static_cast<float>(shape.depthDb));
  setPeriod(periodFrames);
}

DuckingEngine::~DuckingEngine() {
  for (const auto& effect : effects_)
    effect->stopProcessing();
}

// The module learns its block size only before it is opened, so a new
// period size means new instances; the delays keep their contents.
void DuckingEngine::loadInstances() {
  for (const auto& effect : effects_)
    effect->stopProcessing();
  effects_.clear();
  for (int c = 0; c < shape_.channels; ++c) {
    effects_.push_back(LoadedEffect::load(modulePath_));
    LoadedEffect& effect = *effects_.back();
    if (c == 0) checkIsTandrel(effect);
    effect.prepare(sampleRate_, periodFrames_);
    effect.setParameter(product::parameter::source, sourceAudioFirst);
  }
  appliedDepthDb_ = -1.0f;
  applyDepth(controls_.depthDb.load());
  for (const auto& effect : effects_)
    effect->startProcessing();
  // The module settles its delay once processing is on.
  moduleLatency_.store(std::max(0, effects_.front()->initialDelay()));
}

void DuckingEngine::setPeriod(int frames) {
  if (frames < 1) throw CliError("the JACK period of " + std::to_string(frames) + " frames is not usable");
  if (frames == periodFrames_) return;
  periodFrames_ = frames;
  const auto size = static_cast<std::size_t>(frames);
  for (auto* buffer : {&presenceBuffer_, &musicBuffer_, &delayedBuffer_, &voiceBuffer_, &spareBuffer_})
    buffer->assign(size, 0.0f);
  loadInstances();
  if (musicDelays_.empty()) {
    musicDelays_.assign(static_cast<std::size_t>(shape_.channels), SampleDelay(lookaheadFrames_));
    voiceDelay_ = SampleDelay(latency());
  }
}

std::vector<std::string> DuckingEngine::inputNames() const {
  std::vector<std::string> names;
  for (int c = 1; c <= shape_.channels; ++c)
    names.push_back("music_" + std::to_string(c));
  names.emplace_back("voice");
  return names;
}

std::vector<std::string> DuckingEngine::outputNames() const {
  std::vector<std::string> names;
  for (int c = 1; c <= shape_.channels; ++c)
    names.push_back("out_" + std::to_string(c));
  return names;
}

void DuckingEngine::applyDepth(float depthDb) noexcept {
  if (depthDb == appliedDepthDb_) return;
  appliedDepthDb_ = depthDb;
  const auto ratio = static_cast<float>(product::ratioForDepth(depthDb));
  for (const auto& effect : effects_)
    effect->setParameter(product::parameter::ratio, ratio);
}

void DuckingEngine::process(const float* const* inputs, float* const* outputs, int frames,
                            std::uint64_t frameTime) noexcept {
  if (inputs == nullptr || outputs == nullptr || frames <= 0) return;
  const auto channels = static_cast<std::size_t>(shape_.channels);
  bool usable = frames <= periodFrames_ && inputs[channels] != nullptr;
  for (std::size_t c = 0; c < channels; ++c)
    usable = usable && inputs[c] != nullptr && outputs[c] != nullptr;
  if (!usable) {
    for (std::size_t c = 0; c < channels; ++c)
      if (outputs[c] != nullptr) std::fill_n(outputs[c], frames, 0.0f);
    return;
  }

  presence_.follow(static_cast<std::uint32_t>(frameTime));
  presence_.setForced(controls_.talk.load(std::memory_order_relaxed));
  applyDepth(controls_.depthDb.load(std::memory_order_relaxed));
  presence_.process(inputs[channels], presenceBuffer_.data(), frames);

  for (std::size_t c = 0; c < channels; ++c) {
    std::copy_n(inputs[c], frames, musicBuffer_.data());
    applyGain(musicBuffer_.data(), frames, musicGain_);
    musicDelays_[c].process(musicBuffer_.data(), delayedBuffer_.data(), frames);
    float* moduleInputs[2];
    moduleInputs[audioInput] = delayedBuffer_.data();
    moduleInputs[controlInput] = presenceBuffer_.data();
    float* moduleOutputs[2] = {outputs[c], spareBuffer_.data()};
    effects_[c]->process(moduleInputs, moduleOutputs, frames);
  }
  if (shape_.mix) {
    voiceDelay_.process(inputs[channels], voiceBuffer_.data(), frames);
    for (std::size_t c = 0; c < channels; ++c)
      addScaled(outputs[c], voiceBuffer_.data(), frames, voiceGain_);
  }
  updateMeters(frames);
}

void DuckingEngine::updateMeters(int frames) noexcept {
  const float presence = presenceBuffer_[static_cast<std::size_t>(frames) - 1];
  const double depthFactor = decibelsToFactor(-appliedDepthDb_);
  const double gain = 1.0 - static_cast<double>(presence) * (1.0 - depthFactor);
  controls_.presence.store(presence, std::memory_order_relaxed);
  controls_.musicGainDb.store(static_cast<float>(factorToDecibels(gain)), std::memory_order_relaxed);
  controls_.voiceDbfs.store(static_cast<float>(presence_.lastWindowDbfs()), std::memory_order_relaxed);
}

} // namespace tandrel::cli
