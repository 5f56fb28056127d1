// The test effect without a defect: it passes every check.
#include "check_test_effect.hpp"

CHECK_TEST_MODULE(check_test::CheckTestEffect)
