#include "module_engine.hpp"

#include <algorithm>

#include "common/cli_error.hpp"

namespace tandrel::cli {

namespace {

std::vector<std::string> numberedNames(const char* stem, int count) {
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i)
    names.push_back(stem + std::to_string(i));
  return names;
}

} // namespace

ModuleEngine::ModuleEngine(const std::string& modulePath,
                           std::vector<std::pair<std::string, float>> parameters, double sampleRate,
                           int periodFrames)
    : modulePath_(modulePath), parameters_(std::move(parameters)), sampleRate_(sampleRate) {
  setPeriod(periodFrames);
}

ModuleEngine::~ModuleEngine() {
  if (effect_) effect_->stopProcessing();
}

// The module learns its block size only before it is opened, so a new
// period size means a new instance.
void ModuleEngine::loadInstance() {
  if (effect_) effect_->stopProcessing();
  effect_.reset();
  effect_ = LoadedEffect::load(modulePath_);
  inputCount_ = std::max(0, effect_->inputCount());
  outputCount_ = std::max(0, effect_->outputCount());
  if (outputCount_ == 0)
    throw CliError("module '" + modulePath_ + "' has no outputs; live needs an effect that gives audio");
  effect_->prepare(sampleRate_, periodFrames_);
  applyParameters(*effect_, parameters_);
  effect_->startProcessing();
  latency_.store(std::max(0, effect_->initialDelay()));
}

void ModuleEngine::setPeriod(int frames) {
  if (frames < 1) throw CliError("the JACK period of " + std::to_string(frames) + " frames is not usable");
  if (frames == periodFrames_) return;
  periodFrames_ = frames;
  loadInstance();
  inputCopies_.assign(static_cast<std::size_t>(inputCount_),
                      std::vector<float>(static_cast<std::size_t>(frames)));
  inputPointers_.clear();
  for (auto& copy : inputCopies_)
    inputPointers_.push_back(copy.data());
  // One slot more than needed, so that data() is never null.
  outputPointers_.assign(static_cast<std::size_t>(outputCount_) + 1, nullptr);
  inputPointers_.push_back(nullptr);
}

std::vector<std::string> ModuleEngine::inputNames() const { return numberedNames("in_", inputCount_); }
std::vector<std::string> ModuleEngine::outputNames() const { return numberedNames("out_", outputCount_); }

void ModuleEngine::process(const float* const* inputs, float* const* outputs, int frames,
                           std::uint64_t) noexcept {
  if (outputs == nullptr || frames <= 0) return;
  bool usable = frames <= periodFrames_ && (inputCount_ == 0 || inputs != nullptr);
  for (int i = 0; usable && i < inputCount_; ++i)
    usable = inputs[i] != nullptr;
  for (int o = 0; o < outputCount_; ++o)
    usable = usable && outputs[o] != nullptr;
  if (!usable) {
    for (int o = 0; o < outputCount_; ++o)
      if (outputs[o] != nullptr) std::fill_n(outputs[o], frames, 0.0f);
    return;
  }
  for (int i = 0; i < inputCount_; ++i)
    std::copy_n(inputs[i], frames, inputCopies_[static_cast<std::size_t>(i)].data());
  for (int o = 0; o < outputCount_; ++o)
    outputPointers_[static_cast<std::size_t>(o)] = outputs[o];
  effect_->process(inputPointers_.data(), outputPointers_.data(), frames);
}

} // namespace tandrel::cli
