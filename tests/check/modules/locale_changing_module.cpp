// Defect: loading the module switches the process's number formatting to
// another locale (as code that wants a fixed decimal point has done), which
// changes how the host itself reads and writes numbers.
#include <clocale>
#include <cstring>

#include "check_test_effect.hpp"

namespace {
struct LocaleSwitch {
  LocaleSwitch() {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, current != nullptr && std::strcmp(current, "C") == 0 ? "C.UTF-8" : "C");
  }
};
const LocaleSwitch switchedOnLoad;
} // namespace

CHECK_TEST_MODULE(check_test::CheckTestEffect)
