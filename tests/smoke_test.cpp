#include "host/module_host.hpp"
#include <gtest/gtest.h>
TEST(Smoke, Loads) {
  std::string error;
  auto module = tandrel::host::Module::load(TANDREL_MODULE_PATH, error);
  ASSERT_NE(module, nullptr) << error;
  auto instance = tandrel::host::Instance::create(*module, error);
  ASSERT_NE(instance, nullptr) << error;
  EXPECT_EQ(instance->record().initialDelay, 256);
}
