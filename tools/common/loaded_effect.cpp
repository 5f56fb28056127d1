#include "loaded_effect.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {

constexpr std::intptr_t hostVersionNumber = 1000;
constexpr const char* hostVendor = "Mirvex";
constexpr const char* hostProduct = "Tandrel command-line host";
// The host's text answers hold at most 64 characters and a terminator.
constexpr std::size_t hostTextLength = textCapacity::identityText;

std::intptr_t writeHostText(void* pointer, const char* text) {
  if (pointer == nullptr) return 0;
  char* buffer = static_cast<char*>(pointer);
  std::strncpy(buffer, text, hostTextLength);
  buffer[hostTextLength] = '\0';
  return 1;
}

// A plain offline host: it knows its sample rate and block size and names
// itself; everything else is answered with 0.
std::intptr_t answerModule(const LoadedEffect::HostState& state, const host::HostCall& call) {
  switch (call.opcode) {
  case hostOpcode::version:
    return interfaceVersion;
  case hostOpcode::sampleRate:
    return static_cast<std::intptr_t>(std::lround(state.sampleRate));
  case hostOpcode::blockSize:
    return state.blockSize;
  case hostOpcode::vendorText:
    return writeHostText(call.pointer, hostVendor);
  case hostOpcode::productText:
    return writeHostText(call.pointer, hostProduct);
  case hostOpcode::vendorVersion:
    return hostVersionNumber;
  default:
    return 0;
  }
}

bool isDecimalIndex(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string quoteName(std::string_view name) { return "'" + std::string(name) + "'"; }

} // namespace

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

float parseParameterValue(std::string_view text, std::string_view what) {
  const std::string_view trimmed = trimBlanks(text);
  double value = 0.0;
  const auto result = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  if (trimmed.empty() || result.ec != std::errc() || result.ptr != trimmed.data() + trimmed.size())
    throw UsageError("the value '" + std::string(text) + "' for " + std::string(what) +
                     " is not a number; give a normalised value from 0 to 1");
  if (!(value >= 0.0 && value <= 1.0))
    throw UsageError("the value " + std::string(trimmed) + " for " + std::string(what) +
                     " is outside 0 to 1; parameters take normalised values from 0 to 1");
  return static_cast<float>(value);
}

std::unique_ptr<LoadedEffect> LoadedEffect::load(const std::string& modulePath) {
  std::unique_ptr<LoadedEffect> effect(new LoadedEffect());
  effect->modulePath_ = modulePath;
  std::string error;
  effect->module_ = host::ModuleLibrary::load(modulePath, error);
  if (!effect->module_) throw CliError(error + "; pass the path of a VST 2 effect module (.so)");
  const HostState* state = effect->state_.get();
  effect->instance_ = host::EffectInstance::create(
      *effect->module_, error, [state](const host::HostCall& call) { return answerModule(*state, call); });
  if (!effect->instance_) throw CliError("module '" + modulePath + "': " + error);
  // Recording the module's calls allocates; this host never reads them.
  effect->instance_->setRecording(false);
  effect->instance_->clearCalls();
  return effect;
}

LoadedEffect::~LoadedEffect() {
  if (!instance_) return;
  if (instance_->processing()) instance_->stop();
  instance_->close();
  instance_.reset();
}

void LoadedEffect::prepare(double sampleRate, int blockSize) {
  state_->sampleRate = sampleRate;
  state_->blockSize = blockSize;
  instance_->prepare(sampleRate, blockSize);
}

int LoadedEffect::findParameter(std::string_view nameOrIndex) {
  const std::string_view wanted = trimBlanks(nameOrIndex);
  const int count = parameterCount();
  int found = -1;
  for (int index = 0; index < count; ++index) {
    if (trimBlanks(parameterName(index)) != wanted) continue;
    if (found >= 0)
      throw UsageError("parameter name " + quoteName(wanted) + " is shared by parameters " +
                       std::to_string(found) + " and " + std::to_string(index) + "; give the index instead");
    found = index;
  }
  if (found >= 0) return found;
  if (isDecimalIndex(wanted)) {
    const int index = std::stoi(std::string(wanted));
    if (index < count) return index;
    throw UsageError("parameter index " + std::string(wanted) + " is out of range; the module has " +
                     std::to_string(count) + " parameters (0 to " + std::to_string(count - 1) + ")");
  }
  std::string names;
  for (int index = 0; index < count; ++index) {
    names += (index == 0 ? "" : ", ") + quoteName(trimBlanks(parameterName(index)));
  }
  if (count == 0) names = "none";
  throw UsageError("unknown parameter " + quoteName(wanted) + "; the module's parameters are " + names +
                   " (or give an index)");
}

EffectInfo LoadedEffect::describe() {
  EffectInfo info;
  info.modulePath = modulePath_;
  info.effectName = instance_->text(opcode::effectName);
  info.vendor = instance_->text(opcode::vendorString);
  info.product = instance_->text(opcode::productString);
  info.vendorVersion = instance_->dispatch(opcode::vendorVersion);
  const EffectRecord& record = instance_->record();
  info.uniqueIdentifier = record.uniqueIdentifier;
  info.inputs = record.inputCount;
  info.outputs = record.outputCount;
  info.initialDelay = record.initialDelay;
  info.flags = record.flags;
  info.category = instance_->dispatch(opcode::category);
  info.interfaceVersion = instance_->dispatch(opcode::interfaceVersion);
  info.programName = instance_->text(opcode::programName);
  for (int index = 0; index < record.parameterCount; ++index) {
    ParameterInfo parameter;
    parameter.index = index;
    parameter.name = parameterName(index);
    parameter.label = instance_->text(opcode::parameterLabel, index);
    parameter.display = instance_->text(opcode::parameterDisplay, index);
    parameter.value = instance_->getParameter(index);
    info.parameters.push_back(std::move(parameter));
  }
  return info;
}

SignalRoles LoadedEffect::signalRoles() {
  SignalRoles roles;
  const int inputs = inputCount();
  const int outputs = outputCount();
  for (int input = 0; input < inputs; ++input) {
    if (input < outputs || outputs == 0)
      roles.audioInputs.push_back(input);
    else
      roles.controlInputs.push_back(input);
  }
  return roles;
}

std::pair<std::string, float> parseParameterSetting(const std::string& setting) {
  const auto equals = setting.rfind('=');
  if (equals == std::string::npos || trimBlanks(std::string_view(setting).substr(0, equals)).empty())
    throw UsageError("'" + setting + "' is not NAME=VALUE; write e.g. --param Source=1 or --param 1=0.5");
  const std::string name(trimBlanks(std::string_view(setting).substr(0, equals)));
  const float value =
      parseParameterValue(std::string_view(setting).substr(equals + 1), "parameter '" + name + "'");
  return {name, value};
}

void applyParameters(LoadedEffect& effect, const std::vector<std::pair<std::string, float>>& settings) {
  for (const auto& [name, value] : settings)
    effect.setParameter(effect.findParameter(name), value);
}

} // namespace tandrel::cli
