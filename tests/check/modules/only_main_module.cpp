// A shape: the entry point is exported only under its older name, main
// (built with the frame's alias and a version script that exports main
// alone). Hosts load it; so must every command of the tool.
#include "check_test_effect.hpp"

CHECK_TEST_MODULE(check_test::CheckTestEffect)
