// Defect: the record the entry point answers has null entries (dispatcher,
// processing, parameters), so every call a host makes through them would
// jump to address 0.
#include "check_test_effect.hpp"

namespace {
class NullEntries : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  tandrel::EffectRecord* getRecordAddress() noexcept override {
    tandrel::EffectRecord* record = CheckTestEffect::getRecordAddress();
    record->dispatcherEntry = nullptr;
    record->replacingProcessEntry = nullptr;
    record->setParameterEntry = nullptr;
    record->getParameterEntry = nullptr;
    return record;
  }
};
} // namespace

CHECK_TEST_MODULE(NullEntries)
