// Any effect module live: its inputs and outputs become ports in_1 ..
// in_K and out_1 .. out_M, its parameters set once before processing as
// `tandrel render` sets them.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/loaded_effect.hpp"
#include "live_processor.hpp"

namespace tandrel::cli {

class ModuleEngine final : public LiveProcessor {
public:
  // Loads the module and sets the parameters. Throws CliError. [main]
  ModuleEngine(const std::string& modulePath, std::vector<std::pair<std::string, float>> parameters,
               double sampleRate, int periodFrames);
  ~ModuleEngine() override;

  std::vector<std::string> inputNames() const override;
  std::vector<std::string> outputNames() const override;
  int latency() const override { return latency_.load(std::memory_order_relaxed); }
  void setPeriod(int frames) override;
  void process(const float* const* inputs, float* const* outputs, int frames,
               std::uint64_t frameTime) noexcept override;

  std::string effectName() { return effect_->effectName(); }

private:
  void loadInstance();

  std::string modulePath_;
  std::vector<std::pair<std::string, float>> parameters_;
  double sampleRate_;
  int periodFrames_ = 0;
  int inputCount_ = 0;
  int outputCount_ = 0;
  std::atomic<int> latency_{0}; // set when the module is prepared, read by any thread
  std::unique_ptr<LoadedEffect> effect_;
  // The inputs copied, so that the module never reads a buffer it writes.
  std::vector<std::vector<float>> inputCopies_;
  std::vector<float*> inputPointers_;
  std::vector<float*> outputPointers_;
};

} // namespace tandrel::cli
