// LoadedEffect: one effect as the command-line tool drives it, a module
// file (host::ModuleLibrary) and one instance of it (host::EffectInstance) with the
// tool's answers to the module's callback: loading, the queries a host
// makes, parameters by name or index, and the processing lifecycle, which
// host::EffectInstance carries out (prepare, start, process, stop, close).
//
// Thread: [main] throughout; the tool processes on its main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/module_host.hpp"

namespace tandrel::cli {

struct ParameterInfo {
  int index = 0;
  std::string name; // as the module reports it, blanks kept
  std::string label;
  std::string display;
  float value = 0.0f;
};

// What a host learns about an effect from its record and its answers.
struct EffectInfo {
  std::string modulePath;
  std::string effectName;
  std::string vendor;
  std::string product;
  std::int64_t vendorVersion = 0;
  std::int32_t uniqueIdentifier = 0;
  int inputs = 0;
  int outputs = 0;
  int initialDelay = 0;
  std::int32_t flags = 0;
  std::int64_t category = 0;
  std::int64_t interfaceVersion = 0;
  std::string programName;
  std::vector<ParameterInfo> parameters;
};

// Which inputs carry the audio to be processed and which the control (side
// chain) signal, for pictures and gain estimates. A command that knows the
// effect says; otherwise signalRoles() guesses from the counts alone.
struct SignalRoles {
  std::vector<int> audioInputs;
  std::vector<int> controlInputs;
};

class LoadedEffect {
public:
  // Loads the module and creates one instance. Throws CliError with the
  // loader's or the module's reason when either fails.
  static std::unique_ptr<LoadedEffect> load(const std::string& modulePath);
  // Switches processing off if it is on, then closes the instance.
  ~LoadedEffect();
  LoadedEffect(const LoadedEffect&) = delete;
  LoadedEffect& operator=(const LoadedEffect&) = delete;

  // Sends the sample rate, the block size, then open.
  void prepare(double sampleRate, int blockSize);
  // Processing switched on, then "processing starts"; and "processing
  // stops", then switched off.
  void startProcessing() { instance_->start(); }
  void stopProcessing() { instance_->stop(); }
  void process(float** inputs, float** outputs, int frameCount) {
    instance_->processReplacing(inputs, outputs, frameCount);
  }

  // The parameter that `nameOrIndex` designates: a name as the module
  // reports it, compared with blanks trimmed from both ends, or else a
  // decimal index. Throws UsageError listing the names when none matches.
  int findParameter(std::string_view nameOrIndex);
  void setParameter(int index, float value) { instance_->setParameter(index, value); }
  float parameter(int index) { return instance_->getParameter(index); }
  std::string parameterName(int index) { return instance_->text(opcode::parameterName, index); }
  std::string parameterDisplay(int index) { return instance_->text(opcode::parameterDisplay, index); }

  EffectInfo describe();
  // The first inputs pair with the outputs; inputs beyond the output count
  // are taken as the side chain.
  SignalRoles signalRoles();
  std::string effectName() { return instance_->text(opcode::effectName); }

  const std::string& modulePath() const { return modulePath_; }
  int inputCount() { return instance_->record().inputCount; }
  int outputCount() { return instance_->record().outputCount; }
  int parameterCount() { return instance_->record().parameterCount; }
  int initialDelay() { return instance_->record().initialDelay; }
  std::int32_t uniqueIdentifier() { return instance_->record().uniqueIdentifier; }

  // The host's side of the callback: what it answers the module.
  struct HostState {
    double sampleRate = 48000.0;
    int blockSize = 512;
  };

private:
  LoadedEffect() = default;

  std::string modulePath_;
  std::unique_ptr<HostState> state_ = std::make_unique<HostState>();
  std::unique_ptr<host::ModuleLibrary> module_;
  std::unique_ptr<host::EffectInstance> instance_;
};

// The blanks (spaces and tabs) at both ends removed.
std::string_view trimBlanks(std::string_view text);

// Parses a normalised parameter value: a decimal number from 0 to 1. Throws
// UsageError naming `what` otherwise.
float parseParameterValue(std::string_view text, std::string_view what);

// One --param argument split into the parameter (name or index) and its
// value. Throws UsageError when it is not NAME=VALUE with a value from 0 to 1.
std::pair<std::string, float> parseParameterSetting(const std::string& setting);

// Finds each parameter named in `settings` and sets it, in order. Throws
// UsageError for a name or index the effect does not have.
void applyParameters(LoadedEffect& effect, const std::vector<std::pair<std::string, float>>& settings);

} // namespace tandrel::cli
