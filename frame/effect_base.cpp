#include "effect_base.hpp"

#include <cstring>

#include "dispatch_support.hpp"
#include "entry.hpp"

namespace tandrel {

using dispatch::low32;

EffectBase::EffectBase(HostCallback callback, std::int32_t programCount, std::int32_t parameterCount)
    : hostCallback_(callback), programCount_(programCount), parameterCount_(parameterCount) {
  std::memset(&record_, 0, sizeof record_);
  record_.magic = recordMagic;
  installRecordEntries(record_);
  record_.programCount = programCount;
  record_.parameterCount = parameterCount;
  record_.inputCount = 1;
  record_.outputCount = 2;
  record_.flags = flag::replacingProcess;
  record_.inputOutputRatio = 1.0f;
  record_.owningObject = this;
  record_.uniqueIdentifier = defaultUniqueIdentifier;
  record_.recordVersion = 1;
}

EffectBase::~EffectBase() { delete editor_; }

// --- Host services ---
//
// One callback call each, with the record's address; without a callback
// each returns its fallback. [main] unless marked.

void EffectBase::setParameterAndNotify(std::int32_t index, float value) noexcept {
  setParameter(index, value); // the effect's state changes before the host hears of it
  if (hostCallback_ != nullptr) callHost(hostOpcode::parameterChanged, index, 0, nullptr, value);
}

std::int32_t EffectBase::askHostVersion() noexcept {
  if (hostCallback_ == nullptr) return 1;
  // Zero is tested on the whole answer, as in every other service; a
  // non-zero answer gives its low 32 bits.
  const std::intptr_t answer = callHost(hostOpcode::version, 0, 0, nullptr, 0.0f);
  return answer == 0 ? 1 : low32(answer);
}

std::int32_t EffectBase::askHostLoadingId() noexcept {
  return hostCallback_ == nullptr ? 0 : low32(callHost(hostOpcode::loadingId, 0, 0, nullptr, 0.0f));
}

std::int32_t EffectBase::giveHostIdleTime() noexcept {
  return hostCallback_ == nullptr ? 0 : low32(callHost(hostOpcode::idle, 0, 0, nullptr, 0.0f));
}

bool EffectBase::inputPinConnected(std::int32_t pin) noexcept {
  return hostCallback_ == nullptr || callHost(hostOpcode::pinConnected, pin, 0, nullptr, 0.0f) == 0;
}

bool EffectBase::outputPinConnected(std::int32_t pin) noexcept {
  return hostCallback_ == nullptr || callHost(hostOpcode::pinConnected, pin, 1, nullptr, 0.0f) == 0;
}

} // namespace tandrel
