#include "effect_base.hpp"

#include <cstring>

namespace tandrel {

// Fills in the record's entries; defined beside them at the C boundary.
void installRecordEntries(EffectRecord& record);

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
  setReplacingProcess(true);
}

EffectBase::~EffectBase() { delete editor_; }

} // namespace tandrel
