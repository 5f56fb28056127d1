// TandrelEffect's parameter texts, program name and identity, on the class
// itself and through the loaded module as a host sees them.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "effect/tandrel_effect.hpp"
#include "float_format_recorder.hpp"
#include "host/module_host.hpp"

namespace {

using tandrel::TandrelEffect;

constexpr char guard = '\x71';
constexpr int bufferSize = 80;

struct Guarded {
  std::array<char, bufferSize> bytes;
  Guarded() { bytes.fill(guard); }
  char* text() { return bytes.data(); }
  bool untouched() const {
    for (char byte : bytes) {
      if (byte != guard) return false;
    }
    return true;
  }
};

// The exact bytes of a bounded copy of `expected` with maximum length n: the
// text, zeros through index n, and nothing written after.
testing::AssertionResult holdsExactly(const Guarded& buffer, const std::string& expected, int n) {
  for (int i = 0; i <= n; ++i) {
    const char want = i < static_cast<int>(expected.size()) ? expected[static_cast<std::size_t>(i)] : '\0';
    if (buffer.bytes[static_cast<std::size_t>(i)] != want) {
      return testing::AssertionFailure()
             << "byte " << i << " is '" << buffer.bytes[static_cast<std::size_t>(i)] << "', expected '"
             << want << "' (text \"" << expected << "\")";
    }
  }
  for (int i = n + 1; i < bufferSize; ++i) {
    if (buffer.bytes[static_cast<std::size_t>(i)] != guard) {
      return testing::AssertionFailure() << "wrote past index " << n;
    }
  }
  return testing::AssertionSuccess();
}

class EffectTexts : public testing::Test {
protected:
  TandrelEffect effect{nullptr};

  std::string name(std::int32_t index) { return call(&TandrelEffect::getParameterName, index); }
  std::string label(std::int32_t index) { return call(&TandrelEffect::getParameterLabel, index); }
  std::string display(std::int32_t index) { return call(&TandrelEffect::getParameterDisplay, index); }

  std::string call(void (TandrelEffect::*operation)(std::int32_t, char*), std::int32_t index) {
    Guarded buffer;
    (effect.*operation)(index, buffer.text());
    std::string text(buffer.text(), ::strnlen(buffer.text(), 8));
    EXPECT_TRUE(holdsExactly(buffer, text, 8));
    return text;
  }
};

TEST_F(EffectTexts, FreshInstance) {
  EXPECT_EQ(name(0), "Source");
  EXPECT_EQ(label(0), "Control");
  EXPECT_EQ(display(0), "L-R");
  EXPECT_EQ(name(1), "Ratio x ");
  EXPECT_EQ(label(1), " ");
  EXPECT_EQ(display(1), "1.000000");
}

TEST_F(EffectTexts, TextsFillTheirEightPlaces) {
  Guarded buffer;
  effect.getParameterName(0, buffer.text());
  EXPECT_TRUE(holdsExactly(buffer, "Source", 8));
  Guarded ratio;
  effect.getParameterName(1, ratio.text());
  EXPECT_TRUE(holdsExactly(ratio, "Ratio x ", 8));
  Guarded blank;
  effect.getParameterLabel(1, blank.text());
  EXPECT_TRUE(holdsExactly(blank, " ", 8));
}

TEST_F(EffectTexts, SourceDisplayFollowsTheHalfWayPoint) {
  const struct {
    float source;
    const char* text;
  } cases[] = {
      {0.5f, "L-R"},
      {std::nextafter(0.5f, 0.0f), "R-L"},
      {0.49f, "R-L"},
      {0.0f, "R-L"},
      {1.0f, "L-R"},
      {-1.0f, "R-L"},
      {7.0f, "L-R"},
      {std::numeric_limits<float>::infinity(), "L-R"},
      {-std::numeric_limits<float>::infinity(), "R-L"},
      {std::numeric_limits<float>::quiet_NaN(), "L-R"},
  };
  for (const auto& c : cases) {
    effect.setParameter(0, c.source);
    EXPECT_EQ(display(0), c.text) << "Source " << c.source;
  }
}

// The text names the routing that processing uses: "L-R" exactly when the
// audio comes from input 0 (and the control from input 1).
TEST_F(EffectTexts, SourceDisplayAgreesWithTheRouting) {
  constexpr int frames = 512;
  std::vector<float> rising(frames), silent(frames, 0.0f), out0(frames), out1(frames);
  for (int i = 0; i < frames; ++i)
    rising[static_cast<std::size_t>(i)] = static_cast<float>(i + 1) / 2048.0f;
  for (float source : {0.5f, 0.49f, 1.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(),
                       -std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()}) {
    TandrelEffect fresh(nullptr);
    fresh.setParameter(0, source);
    float* inputs[] = {rising.data(), silent.data()};
    float* outputs[] = {out0.data(), out1.data()};
    fresh.processAudio(inputs, outputs, frames);
    // With a silent control the gain is 1 from frame 256 on.
    const bool audioFromInput0 = out0[300] == rising[300 - 256];
    Guarded buffer;
    fresh.getParameterDisplay(0, buffer.text());
    EXPECT_STREQ(buffer.text(), audioFromInput0 ? "L-R" : "R-L") << "Source " << source;
  }
}

TEST_F(EffectTexts, RatioDisplayIsFourTimesRatio) {
  const struct {
    float ratio;
    const char* text;
  } cases[] = {
      {0.25f, "1.000000"}, {0.5f, "2.000000"},
      {1.0f, "4.000000"},  {0.0f, "0.000000"},
      {0.3f, "1.200000"},  {-0.625f, "-2.50000"},
      {1e9f, "Huge!"},     {std::numeric_limits<float>::quiet_NaN(), "NaN"},
  };
  for (const auto& c : cases) {
    effect.setParameter(1, c.ratio);
    EXPECT_EQ(display(1), c.text) << "Ratio " << c.ratio;
  }
}

// The Ratio display goes through the object's own formatFloat.
TEST(EffectTextsVirtual, RatioDisplayCallsTheObjectsFormatFloat) {
  tandrel::text_test::FloatFormatRecorder<TandrelEffect> effect(nullptr);
  effect.setParameter(1, 0.3f);
  char text[9];
  effect.getParameterDisplay(1, text);
  EXPECT_STREQ(text, tandrel::text_test::recordedFloatText);
  ASSERT_EQ(effect.values.size(), 1u);
  const float expected = 4.0f * 0.3f; // computed as a 32-bit float
  EXPECT_EQ(std::bit_cast<std::uint32_t>(effect.values[0]), std::bit_cast<std::uint32_t>(expected));
  EXPECT_EQ(effect.lengths[0], 8);
  effect.getParameterDisplay(0, text); // Source does not use it
  EXPECT_EQ(effect.values.size(), 1u);
}

TEST_F(EffectTexts, OtherIndicesLeaveTheTextUntouched) {
  for (std::int32_t index : {2, 3, -1, 100, std::numeric_limits<std::int32_t>::min()}) {
    Guarded a, b, c;
    effect.getParameterName(index, a.text());
    effect.getParameterLabel(index, b.text());
    effect.getParameterDisplay(index, c.text());
    EXPECT_TRUE(a.untouched()) << "name " << index;
    EXPECT_TRUE(b.untouched()) << "label " << index;
    EXPECT_TRUE(c.untouched()) << "display " << index;
  }
}

TEST_F(EffectTexts, ProgramNameKeepsTwentyFourCharacters) {
  Guarded initial;
  effect.getProgramName(initial.text());
  EXPECT_TRUE(holdsExactly(initial, "Default", 24));

  char shortName[] = "Live room";
  effect.setProgramName(shortName);
  Guarded got;
  effect.getProgramName(got.text());
  EXPECT_TRUE(holdsExactly(got, "Live room", 24));

  char longName[] = "A name far longer than twenty-four characters";
  effect.setProgramName(longName);
  Guarded cut;
  effect.getProgramName(cut.text());
  EXPECT_TRUE(holdsExactly(cut, std::string(longName, 24), 24));

  char empty[] = "";
  effect.setProgramName(empty);
  Guarded none;
  effect.getProgramName(none.text());
  EXPECT_TRUE(holdsExactly(none, "", 24));
}

// Setting reads no further than 24 characters: a name of exactly 24
// characters without a terminator, in a block of 24 bytes (the address
// sanitizer build reports any read past it).
TEST_F(EffectTexts, SettingReadsAtMostTwentyFourCharacters) {
  auto block = std::make_unique<char[]>(24);
  std::memcpy(block.get(), "abcdefghijklmnopqrstuvwx", 24);
  effect.setProgramName(block.get());
  Guarded got;
  effect.getProgramName(got.text());
  EXPECT_TRUE(holdsExactly(got, "abcdefghijklmnopqrstuvwx", 24));
}

TEST_F(EffectTexts, Identity) {
  Guarded name, vendor, product;
  EXPECT_TRUE(effect.getEffectName(name.text()));
  EXPECT_TRUE(holdsExactly(name, "Tandrel", 32));
  EXPECT_TRUE(effect.getVendorString(vendor.text()));
  EXPECT_TRUE(holdsExactly(vendor, "Mirvex", 64));
  EXPECT_TRUE(effect.getProductString(product.text()));
  EXPECT_TRUE(holdsExactly(product, "Tandrel", 64));
  EXPECT_EQ(effect.getVendorVersion(), 1000);
}

TEST_F(EffectTexts, NullTextsAreNotWrittenThrough) {
  effect.getParameterName(0, nullptr);
  effect.getParameterLabel(1, nullptr);
  effect.getParameterDisplay(0, nullptr);
  effect.getParameterDisplay(1, nullptr);
  effect.getProgramName(nullptr);
  effect.setProgramName(nullptr);
  EXPECT_FALSE(effect.getEffectName(nullptr));
  EXPECT_FALSE(effect.getVendorString(nullptr));
  EXPECT_FALSE(effect.getProductString(nullptr));
  Guarded got; // the name survives a null rename
  effect.getProgramName(got.text());
  EXPECT_TRUE(holdsExactly(got, "Default", 24));
}

// --- Through the loaded module, as a host sees it. ---

namespace opcode = tandrel::opcode;

class ModuleTexts : public testing::Test {
protected:
  void SetUp() override {
    std::string error;
    module = tandrel::host::ModuleLibrary::load(TANDREL_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
    instance = tandrel::host::EffectInstance::create(*module, error);
    ASSERT_NE(instance, nullptr) << error;
  }
  void TearDown() override { instance.reset(); }

  // The answer and the exact bytes of a text opcode into a guarded buffer.
  std::intptr_t ask(std::int32_t op, std::int32_t index, Guarded& buffer) {
    return instance->dispatch(op, index, 0, buffer.text(), 0.0f);
  }

  std::unique_ptr<tandrel::host::ModuleLibrary> module;
  std::unique_ptr<tandrel::host::EffectInstance> instance;
};

TEST_F(ModuleTexts, FreshInstance) {
  EXPECT_EQ(instance->text(opcode::parameterName, 0), "Source");
  EXPECT_EQ(instance->text(opcode::parameterDisplay, 0), "L-R");
  EXPECT_EQ(instance->text(opcode::parameterLabel, 0), "Control");
  EXPECT_EQ(instance->text(opcode::parameterName, 1), "Ratio x ");
  EXPECT_EQ(instance->text(opcode::parameterDisplay, 1), "1.000000");
  EXPECT_EQ(instance->text(opcode::parameterLabel, 1), " ");
  EXPECT_EQ(instance->text(opcode::programName), "Default");
}

TEST_F(ModuleTexts, ParameterTextsAnswerZeroAndKeepTheirBounds) {
  for (std::int32_t op : {opcode::parameterName, opcode::parameterLabel, opcode::parameterDisplay}) {
    for (std::int32_t index : {0, 1}) {
      Guarded buffer;
      EXPECT_EQ(ask(op, index, buffer), 0) << "opcode " << op;
      EXPECT_TRUE(holdsExactly(buffer, std::string(buffer.text(), ::strnlen(buffer.text(), 8)), 8))
          << "opcode " << op << " index " << index;
    }
  }
}

TEST_F(ModuleTexts, SourceHalfWayPoint) {
  instance->setParameter(0, 0.5f);
  EXPECT_EQ(instance->text(opcode::parameterDisplay, 0), "L-R");
  instance->setParameter(0, 0.49f);
  EXPECT_EQ(instance->text(opcode::parameterDisplay, 0), "R-L");
  instance->setParameter(0, std::nextafter(0.5f, 0.0f));
  EXPECT_EQ(instance->text(opcode::parameterDisplay, 0), "R-L");
  instance->setParameter(1, 0.5f);
  EXPECT_EQ(instance->text(opcode::parameterDisplay, 1), "2.000000");
}

TEST_F(ModuleTexts, ProgramNameKeepsTwentyFourCharacters) {
  char longName[] = "Program names are cut after twenty-four characters";
  EXPECT_EQ(instance->dispatch(opcode::renameProgram, 0, 0, longName, 0.0f), 0);
  Guarded buffer;
  EXPECT_EQ(ask(opcode::programName, 0, buffer), 0);
  EXPECT_TRUE(holdsExactly(buffer, std::string(longName, 24), 24));
}

TEST_F(ModuleTexts, OtherIndexLeavesTheBufferAsItWas) {
  for (std::int32_t op : {opcode::parameterName, opcode::parameterLabel, opcode::parameterDisplay}) {
    Guarded buffer;
    EXPECT_EQ(ask(op, 2, buffer), 0);
    EXPECT_TRUE(buffer.untouched()) << "opcode " << op;
  }
}

TEST_F(ModuleTexts, Identity) {
  Guarded name, vendor, product;
  EXPECT_EQ(ask(opcode::effectName, 0, name), 1);
  EXPECT_TRUE(holdsExactly(name, "Tandrel", 32));
  EXPECT_EQ(ask(opcode::vendorString, 0, vendor), 1);
  EXPECT_TRUE(holdsExactly(vendor, "Mirvex", 64));
  EXPECT_EQ(ask(opcode::productString, 0, product), 1);
  EXPECT_TRUE(holdsExactly(product, "Tandrel", 64));
  EXPECT_EQ(instance->dispatch(opcode::vendorVersion), 1000);
}

} // namespace
