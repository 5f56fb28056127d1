// A test fixture that loads the built module once per test suite, from its
// file, as an audio host does, and makes instances of it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/module_host.hpp"

namespace tandrel::test {

class LoadedModuleFixture : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    std::string error;
    module_ = host::ModuleLibrary::load(TANDREL_MODULE_PATH, error).release();
    ASSERT_NE(module_, nullptr) << error;
  }
  static void TearDownTestSuite() {
    delete module_;
    module_ = nullptr;
  }
  // A new instance through the module's entry point; null (and a failed
  // expectation) when the module answers null.
  static std::unique_ptr<host::EffectInstance> create(host::Answerer answer = host::plainHostAnswer) {
    std::string error;
    auto instance = host::EffectInstance::create(*module_, error, std::move(answer));
    EXPECT_NE(instance, nullptr) << error;
    return instance;
  }
  static inline host::ModuleLibrary* module_ = nullptr;
};

} // namespace tandrel::test
