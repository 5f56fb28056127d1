// Number texts of EffectBase: exact texts, buffer discipline, truncation,
// locale independence and the virtual routing through formatFloat and
// getSampleRate.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "float_format_recorder.hpp"
#include "frame/effect_base.hpp"

namespace {

using tandrel::EffectBase;

class PlainEffect : public EffectBase {
public:
  PlainEffect() : EffectBase(nullptr, 1, 1) {}
  void processAudio(float**, float**, std::int32_t) noexcept override {}
};

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

// A buffer with guard bytes before and after the N + 1 bytes an operation may
// write; every byte starts as the guard.
constexpr char guard = '\x5a';
constexpr int frontGuard = 4;
constexpr int bufferSize = 64;

struct Guarded {
  std::array<char, bufferSize> bytes;
  Guarded() { bytes.fill(guard); }
  char* text() { return bytes.data() + frontGuard; }
};

// Checks the rule every text answer keeps: at most N characters, zeros from
// the end of the text through index N, nothing written outside [0, N].
testing::AssertionResult keepsDiscipline(const Guarded& buffer, std::int32_t n) {
  for (int i = 0; i < frontGuard; ++i) {
    if (buffer.bytes[i] != guard)
      return testing::AssertionFailure() << "wrote before the text at " << i - frontGuard;
  }
  const char* text = buffer.bytes.data() + frontGuard;
  int length = 0;
  while (length < n && text[length] != '\0')
    ++length;
  for (int i = length; i <= n; ++i) {
    if (text[i] != '\0')
      return testing::AssertionFailure() << "byte " << i << " is not zero (N = " << n << ")";
  }
  for (int i = frontGuard + n + 1; i < bufferSize; ++i) {
    if (buffer.bytes[i] != guard) return testing::AssertionFailure() << "wrote past index N = " << n;
  }
  return testing::AssertionSuccess();
}

// One of EffectBase's number formatters: its name, whether it takes an
// integer, and a call of it with the value converted to its argument type.
struct Formatter {
  const char* name;
  bool takesInteger;
  void (*write)(EffectBase& effect, double value, char* text, std::int32_t n);
};

template <typename Argument>
Argument argumentOf(void (EffectBase::*)(Argument, char*, std::int32_t) noexcept);

template <auto member> constexpr Formatter formatterOf(const char* name) {
  using Argument = decltype(argumentOf(member));
  return {name, std::is_integral_v<Argument>,
          [](EffectBase& effect, double value, char* text, std::int32_t n) {
            (effect.*member)(static_cast<Argument>(value), text, n);
          }};
}

namespace format {
constexpr Formatter decibels = formatterOf<&EffectBase::formatDecibels>("formatDecibels");
constexpr Formatter hertz = formatterOf<&EffectBase::formatHertz>("formatHertz");
constexpr Formatter milliseconds = formatterOf<&EffectBase::formatMilliseconds>("formatMilliseconds");
constexpr Formatter floating = formatterOf<&EffectBase::formatFloat>("formatFloat");
constexpr Formatter integer = formatterOf<&EffectBase::formatInteger>("formatInteger");
constexpr Formatter all[] = {decibels, hertz, milliseconds, floating, integer};
} // namespace format

// The text of one call, after checking the buffer discipline.
std::string textOf(EffectBase& effect, const Formatter& op, double value, std::int32_t n) {
  Guarded buffer;
  op.write(effect, value, buffer.text(), n);
  EXPECT_TRUE(keepsDiscipline(buffer, n)) << op.name << "(" << value << ")";
  return std::string(buffer.text());
}

std::string floatText(float value, std::int32_t n = 8) {
  PlainEffect effect;
  return textOf(effect, format::floating, value, n);
}

struct Case {
  float value;
  const char* text;
};

TEST(FormatFloat, DocumentedTexts) {
  const Case cases[] = {
      {0.0f, "0.000000"},      {-0.0f, "0.000000"},       {1.0f, "1.000000"},       {4.0f, "4.000000"},
      {0.25f, "0.250000"},     {-2.5f, "-2.50000"},       {-0.5f, "-0.50000"},      {123.456f, "123.4560"},
      {3.14159f, "3.141590"},  {0.7f, "0.699999"},        {9.99f, "9.989999"},      {12345.678f, "12345.67"},
      {65536.0f, "65536.00"},  {9999999.0f, "9999999."},  {-999999.0f, "-999999."}, {100000000.0f, "Huge!"},
      {-10000000.0f, "Huge!"}, {-9999999.0f, "-9999999"}, {1234567.5f, "1234567."}, {-123456.7f, "-123456."},
      {1e-30f, "0.000000"},    {-1e-30f, "-0.00000"},     {0.1f, "0.100000"},       {2.0f, "2.000000"},
      {99.99f, "99.98999"},    {-0.001f, "-0.00100"},     {infinity, "Huge!"},      {-infinity, "Huge!"},
      {3.4e38f, "Huge!"},      {1.4e-45f, "0.000000"},    {100.0f, "100.0000"},     {1000000.0f, "1000000."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(floatText(c.value), c.text) << "value " << c.value;
}

// Integer parts longer than the budget show every digit and drop the point,
// instead of losing their leading digit.
TEST(FormatFloat, LongIntegerPartsKeepEveryDigit) {
  const Case cases[] = {
      {12345678.0f, "12345678"}, {10000000.0f, "10000000"}, {99999992.0f, "99999992"},
      {99999999.0f, "Huge!"},    {-1234567.0f, "-1234567"}, {-1000000.0f, "-1000000"},
      {-9999999.0f, "-9999999"}, {-1000000.5f, "-1000000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(floatText(c.value), c.text) << "value " << c.value;
}

TEST(FormatFloat, NotANumberShowsAFixedText) {
  EXPECT_EQ(floatText(nan), "NaN");
  EXPECT_EQ(floatText(-nan), "NaN");
  EXPECT_EQ(floatText(std::numeric_limits<float>::signaling_NaN()), "NaN");
  EXPECT_EQ(floatText(nan, 2), "Na");
}

TEST(FormatFloat, ShortBuffersCutTheText) {
  EXPECT_EQ(floatText(0.25f, 5), "0.250");
  EXPECT_EQ(floatText(0.25f, 1), "0");
  EXPECT_EQ(floatText(0.25f, 0), "");
  EXPECT_EQ(floatText(-2.5f, 2), "-2");
  EXPECT_EQ(floatText(-2.5f, 3), "-2.");
  EXPECT_EQ(floatText(1e9f, 3), "Hug");
  EXPECT_EQ(floatText(123.456f, 16), "123.4560");
}

TEST(FormatDecibels, DocumentedTexts) {
  PlainEffect effect;
  const Case cases[] = {
      {1.0f, "0.000000"},  {2.0f, "6.020599"}, {0.5f, "-6.02059"},  {0.1f, "-20.0000"},
      {10.0f, "20.00000"}, {0.0f, "-oo"},      {-0.0f, "-oo"},      {-1.0f, "-oo"},
      {nan, "-oo"},        {-infinity, "-oo"}, {infinity, "Huge!"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(textOf(effect, format::decibels, c.value, 8), c.text) << "value " << c.value;
  EXPECT_EQ(textOf(effect, format::decibels, 0.0, 2), "-o");
}

TEST(FormatHertz, DocumentedTexts) {
  PlainEffect effect;
  const Case cases[] = {
      {441.0f, "100.0000"},  {100.0f, "441.0000"}, {1.0f, "44100.00"},
      {0.0f, "0.000000"},    {-0.0f, "0.000000"},  {nan, "0.000000"},
      {-441.0f, "-100.000"}, {1e-4f, "Huge!"},     {infinity, "0.000000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(textOf(effect, format::hertz, c.value, 8), c.text) << "value " << c.value;
}

TEST(FormatMilliseconds, DocumentedTexts) {
  PlainEffect effect;
  const Case cases[] = {
      {44100.0f, "1000.000"}, {441.0f, "10.00000"}, {256.0f, "5.804988"}, {0.0f, "0.000000"},
      {-441.0f, "-10.0000"},  {nan, "NaN"},         {1e30f, "Huge!"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textOf(effect, format::milliseconds, c.value, 8), c.text) << "value " << c.value;
  }
}

// The division by the sample rate is not guarded: an infinite quotient is too
// large, and 0 / 0 is not a number; neither may show digits.
TEST(FormatMilliseconds, ZeroSampleRate) {
  PlainEffect effect;
  effect.setSampleRate(0.0f);
  EXPECT_EQ(textOf(effect, format::milliseconds, 0.0, 8), "NaN");
  EXPECT_EQ(textOf(effect, format::milliseconds, 100.0, 8), "Huge!");
  EXPECT_EQ(textOf(effect, format::milliseconds, -100.0, 8), "Huge!");
  // The frequency of a period at rate 0 is plainly 0.
  EXPECT_EQ(textOf(effect, format::hertz, 441.0, 8), "0.000000");
  EXPECT_EQ(textOf(effect, format::hertz, -441.0, 8), "0.000000");
}

TEST(FormatInteger, DocumentedTexts) {
  PlainEffect effect;
  const struct {
    std::int32_t value;
    const char* text;
  } cases[] = {
      {7, "7"},
      {10, "10"},
      {12345, "12345"},
      {-12345, "-12345"},
      {99999999, "99999999"},
      {100000000, "Huge!"},
      {-123456789, "-123456789"},
      {0, "0"},
      {-1, "-1"},
      {1000, "1000"},
      {-100000, "-100000"},
      {-999999999, "-999999999"},
      {-1000000000, "Huge!"},
      {std::numeric_limits<std::int32_t>::min(), "Huge!"},
      {std::numeric_limits<std::int32_t>::max(), "Huge!"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(textOf(effect, format::integer, c.value, 16), c.text) << "value " << c.value;
  EXPECT_EQ(textOf(effect, format::integer, -12345, 3), "-12");
  EXPECT_EQ(textOf(effect, format::integer, -12345, 1), "-");
  EXPECT_EQ(textOf(effect, format::integer, 12345, 0), "");
  EXPECT_EQ(textOf(effect, format::integer, 0, 0), "");
}

// Every operation, every N from 0 to 16: the discipline holds and a short
// buffer holds exactly the first N characters of the full text.
TEST(FormatBuffers, EveryLengthKeepsTheDiscipline) {
  PlainEffect effect;
  const std::vector<double> values = {
      0.0,        -0.0,       1.0,         -1.0,         0.25,  -2.5,     123.456,   0.7,     9.99,
      2.0,        0.5,        441.0,       44100.0,      256.0, 1e-7,     -1e-7,     1e7,     -1e7,
      12345678.0, -1234567.0, 1e9,         -1e9,         nan,   infinity, -infinity, 65536.0, 9999999.0,
      -999999.0,  99999999.0, 100000000.0, -123456789.0, 7.0,   10.0};
  for (const Formatter& op : format::all) {
    for (double value : values) {
      if (op.takesInteger && !(std::fabs(value) < 2147483647.0)) continue;
      const std::string full = textOf(effect, op, value, 16);
      for (std::int32_t n = 0; n <= 16; ++n) {
        Guarded buffer;
        op.write(effect, value, buffer.text(), n);
        ASSERT_TRUE(keepsDiscipline(buffer, n)) << op.name << "(" << value << ")";
        EXPECT_EQ(std::string(buffer.text()), full.substr(0, static_cast<std::size_t>(n)))
            << op.name << "(" << value << ") N = " << n;
      }
    }
  }
}

// A negative N or a null text writes nothing at all.
TEST(FormatBuffers, NegativeLengthAndNullTextWriteNothing) {
  PlainEffect effect;
  for (const Formatter& op : format::all) {
    for (std::int32_t n : {-1, -8, std::numeric_limits<std::int32_t>::min()}) {
      Guarded buffer;
      op.write(effect, 2.0, buffer.text(), n);
      for (char byte : buffer.bytes)
        ASSERT_EQ(byte, guard) << op.name << " N = " << n;
    }
    op.write(effect, 2.0, nullptr, 8);
    op.write(effect, 0.0, nullptr, 0);
  }
}

// Reads a formatFloat text: sign, digits, optional point and fraction.
struct ParsedText {
  bool ok = false;
  bool negative = false;
  std::int64_t digits = 0; // all digits as one integer
  int fractionDigits = 0;
};

ParsedText parse(const std::string& text) {
  ParsedText parsed;
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') {
    parsed.negative = true;
    ++i;
  }
  bool point = false;
  int digitCount = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      parsed.digits = parsed.digits * 10 + (c - '0');
      ++digitCount;
      if (point) ++parsed.fractionDigits;
    } else {
      return parsed;
    }
  }
  parsed.ok = digitCount > 0;
  return parsed;
}

// The text of any float within the size limits is eight characters that read
// back to the value cut after the last digit: never above it in magnitude,
// less than one unit of the last digit below it, with the right sign.
TEST(FormatFloat, TextsAreTheTruncatedValue) {
  std::vector<float> values;
  for (float base = 1e-8f; base < 2e8f; base *= 10.0f) {
    for (float v :
         {base, std::nextafter(base, 0.0f), std::nextafter(base, infinity), base * 0.5f, base * 9.99f}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  for (float v : {9999999.0f, 99999992.0f, 1e7f, 1e6f, 0.5f, 0.1f, 0.9f, 0.99999994f, 1.0000001f}) {
    values.push_back(v);
    values.push_back(-v);
  }
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> exponent(-9.0, 8.2);
  std::uniform_int_distribution<std::uint32_t> bits;
  for (int i = 0; i < 60000; ++i) {
    const float magnitude = static_cast<float>(std::pow(10.0, exponent(random)));
    values.push_back((i & 1) != 0 ? -magnitude : magnitude);
    values.push_back(std::bit_cast<float>(bits(random))); // any pattern, NaNs included
  }

  for (float value : values) {
    const std::string text = floatText(value);
    const double v = value;
    if (std::isnan(v)) {
      ASSERT_EQ(text, "NaN");
      continue;
    }
    if (v > 99999999.0 || v < -9999999.0) {
      ASSERT_EQ(text, "Huge!") << "value " << value;
      continue;
    }
    ASSERT_EQ(text.size(), 8u) << "value " << value << " text " << text;
    const ParsedText parsed = parse(text);
    ASSERT_TRUE(parsed.ok) << "value " << value << " text " << text;
    ASSERT_EQ(parsed.negative, v < 0.0) << "value " << value << " text " << text;
    // |v| x 10^k is exact in a double: 24 significant bits times 5^k with k <= 7.
    const double scaled = std::fabs(v) * std::pow(10.0, parsed.fractionDigits);
    const double shown = static_cast<double>(parsed.digits);
    ASSERT_LE(shown, scaled) << "value " << value << " text " << text;
    ASSERT_LT(scaled, shown + 1.0) << "value " << value << " text " << text;
  }
}

TEST(FormatInteger, TextsMatchTheDecimalDigits) {
  PlainEffect effect;
  std::mt19937 random(7);
  std::uniform_int_distribution<std::int32_t> any(std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max());
  std::uniform_int_distribution<std::int32_t> small(-999999999, 99999999);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t value = (i & 1) != 0 ? any(random) : small(random);
    char text[17];
    effect.formatInteger(value, text, 16);
    if (value >= 100000000 || value < -999999999) {
      ASSERT_STREQ(text, "Huge!") << value;
      continue;
    }
    char expected[16] = {};
    std::to_chars(expected, expected + sizeof expected, value);
    ASSERT_STREQ(text, expected);
  }
}

// A process whose locale writes "," as the decimal point still gets ".".
TEST(FormatLocale, DecimalPointIgnoresTheLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      chosen = name;
      break;
    }
  }
  if (chosen == nullptr) {
    GTEST_SKIP() << "no locale with a comma decimal point is installed (scripts/install-deps.sh generates "
                    "de_DE.UTF-8)";
  }
  const bool comma = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
  PlainEffect effect;
  const std::string floating = textOf(effect, format::floating, -2.5, 8);
  const std::string decibels = textOf(effect, format::decibels, 2.0, 8);
  const std::string hertz = textOf(effect, format::hertz, 1.0, 8);
  const std::string milliseconds = textOf(effect, format::milliseconds, 256.0, 8);
  std::setlocale(LC_ALL, previous.c_str());
  ASSERT_TRUE(comma) << chosen << " does not use a comma";
  EXPECT_EQ(floating, "-2.50000");
  EXPECT_EQ(decibels, "6.020599");
  EXPECT_EQ(hertz, "44100.00");
  EXPECT_EQ(milliseconds, "5.804988");
}

std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

// A class that replaces formatFloat sees every converted value, rounded to a
// 32-bit float, and its text is what the other three write.
TEST(FormatVirtuals, ReplacedFormatFloatChangesTheOtherTexts) {
  tandrel::text_test::FloatFormatRecorder<PlainEffect> effect;
  EffectBase& base = effect;
  char text[9];
  base.formatDecibels(2.0f, text, 8);
  EXPECT_STREQ(text, tandrel::text_test::recordedFloatText);
  base.formatHertz(441.0f, text, 8);
  EXPECT_STREQ(text, tandrel::text_test::recordedFloatText);
  base.formatMilliseconds(256.0f, text, 7);
  EXPECT_STREQ(text, tandrel::text_test::recordedFloatText);
  base.formatHertz(0.0f, text, 8);
  EXPECT_STREQ(text, tandrel::text_test::recordedFloatText);
  base.formatDecibels(0.0f, text, 8); // no logarithm, no formatFloat
  EXPECT_STREQ(text, "-oo");

  ASSERT_EQ(effect.values.size(), 4u);
  EXPECT_EQ(bitsOf(effect.values[0]), bitsOf(static_cast<float>(20.0 * std::log10(2.0))));
  EXPECT_EQ(bitsOf(effect.values[1]), bitsOf(100.0f));
  EXPECT_EQ(bitsOf(effect.values[2]), bitsOf(static_cast<float>(256000.0 / 44100.0)));
  EXPECT_EQ(bitsOf(effect.values[3]), bitsOf(0.0f));
  EXPECT_EQ(effect.lengths, (std::vector<std::int32_t>{8, 8, 7, 8}));
}

class OwnRate : public PlainEffect {
public:
  float getSampleRate() noexcept override { return 48000.0f; }
};

TEST(FormatVirtuals, ReplacedSampleRateChangesHertzAndMilliseconds) {
  OwnRate effect;
  EXPECT_EQ(textOf(effect, format::hertz, 480.0, 8), "100.0000");
  EXPECT_EQ(textOf(effect, format::hertz, 1.0, 8), "48000.00");
  EXPECT_EQ(textOf(effect, format::milliseconds, 48.0, 8), "1.000000");
  EXPECT_EQ(textOf(effect, format::milliseconds, 48000.0, 8), "1000.000");
}

TEST(FormatVirtuals, StoredSampleRateIsUsed) {
  PlainEffect effect;
  effect.setSampleRate(96000.0f);
  EXPECT_EQ(textOf(effect, format::hertz, 960.0, 8), "100.0000");
  EXPECT_EQ(textOf(effect, format::milliseconds, 96.0, 8), "1.000000");
}

} // namespace
