// Number texts of EffectBase: the short texts a host shows for parameter
// values. Every operation writes into the caller's buffer of maxLength + 1
// bytes: at most maxLength characters of text, then zeros up to and including
// index maxLength, and nothing past it. The decimal point is always ".": the
// digits are made with arithmetic alone, never with a library conversion that
// follows the process's locale.
//
// A null text or a negative maxLength writes nothing at all.
//
// The texts are composed right to left in a scratch area on the stack; no
// memory is obtained. All operations are stateless and may run on any thread;
// the only object state read is the sample rate, through getSampleRate().
#include <cmath>
#include <cstring>

#include "effect_base.hpp"
#include "text_copy.hpp"

// glibc 2.29 gave pow a new default version, pow@GLIBC_2.29, and a module
// bound to it does not load on an older glibc. The first version of pow,
// which every glibc has, computes the same values (since 2.28 both run the
// same code; the old one also sets errno on overflow and domain errors,
// which 10 raised to a small whole power never meets), so this file, the
// only one of the module that calls pow, binds to that one.
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver pow,pow@GLIBC_2.2.5");
#elif defined(__GLIBC__) && defined(__i386__)
__asm__(".symver pow,pow@GLIBC_2.0");
#endif

namespace tandrel {

namespace {

constexpr const char* hugeText = "Huge!";
constexpr const char* minusInfinityText = "-oo";
// Shown for a value that is not a number; it cannot be read as one.
constexpr const char* notANumberText = "NaN";

// The characters that formatFloat spends on sign, digits, point and fraction.
constexpr int floatBudget = 8;
constexpr double largestPositive = 99999999.0;
constexpr double largestNegativeMagnitude = 9999999.0;
constexpr std::int32_t integerLimit = 100000000;
// The nine digit places of formatInteger hold magnitudes up to this.
constexpr std::int32_t smallestInteger = -999999999;

constexpr int scratchSize = 32;

bool writable(const char* text, std::int32_t maxLength) { return text != nullptr && maxLength >= 0; }

// The integer part of the remainder of x divided by 10, as a digit character.
char digitOf(double x) { return static_cast<char>('0' + static_cast<int>(std::fmod(x, 10.0))); }

} // namespace

void EffectBase::formatDecibels(float amplitude, char* text, std::int32_t maxLength) noexcept {
  if (!writable(text, maxLength)) return;
  if (amplitude > 0.0f) {
    const double decibels = 20.0 * std::log10(static_cast<double>(amplitude));
    formatFloat(static_cast<float>(decibels), text, maxLength);
    return;
  }
  // Zero, negative or not a number: no logarithm.
  copyText(text, minusInfinityText, maxLength);
}

void EffectBase::formatHertz(float periodSamples, char* text, std::int32_t maxLength) noexcept {
  if (!writable(text, maxLength)) return;
  const double rate = static_cast<double>(getSampleRate());
  // A period that is zero or not a number shows as 0 rather than dividing.
  if (periodSamples == 0.0f || std::isnan(periodSamples)) {
    formatFloat(0.0f, text, maxLength);
    return;
  }
  formatFloat(static_cast<float>(rate / static_cast<double>(periodSamples)), text, maxLength);
}

void EffectBase::formatMilliseconds(float durationSamples, char* text, std::int32_t maxLength) noexcept {
  if (!writable(text, maxLength)) return;
  const double product = static_cast<double>(durationSamples) * 1000.0;
  const double rate = static_cast<double>(getSampleRate());
  // The rate is not tested: with a rate of zero the quotient is infinite
  // ("Huge!") or, for a zero duration, not a number ("NaN").
  formatFloat(static_cast<float>(product / rate), text, maxLength);
}

// Sign, integer digits, point and fraction digits, eight characters in all.
// Digits are truncated, never rounded. The value is scaled by multiplying
// with 0.1 (never re-rounded to a whole number between digits), so the digits
// are exactly those of the 32-bit value, cut after the eighth character.
void EffectBase::formatFloat(float value, char* text, std::int32_t maxLength) noexcept {
  if (!writable(text, maxLength)) return;
  double v = static_cast<double>(value);
  if (std::isnan(v)) {
    copyText(text, notANumberText, maxLength);
    return;
  }

  int used = 0;
  bool negative = false;
  if (v < 0.0) {
    v = -v;
    negative = true;
    used = 1;
    if (v > largestNegativeMagnitude) {
      copyText(text, hugeText, maxLength);
      return;
    }
  } else if (v > largestPositive) { // negative zero takes this branch: no sign
    copyText(text, hugeText, maxLength);
    return;
  }

  char scratch[scratchSize];
  int position = scratchSize - 1;
  scratch[position] = '\0';
  const int pointPosition = --position;
  scratch[pointPosition] = '.';

  double x = std::floor(v);
  scratch[--position] = digitOf(x);
  x = x * 0.1;
  used += 2;
  while (x >= 1.0 && used < floatBudget) {
    scratch[--position] = digitOf(x);
    x = x * 0.1;
    ++used;
  }
  const bool integerTooLong = x >= 1.0;
  if (integerTooLong) {
    // Eight integer digits (seven after a sign) leave no room for the point.
    // Rather than lose the leading digit, the point goes and every integer
    // digit is shown: "12345678", "-1234567", still eight characters.
    scratch[pointPosition] = '\0';
    while (x >= 1.0) {
      scratch[--position] = digitOf(x);
      x = x * 0.1;
    }
  }
  if (negative) scratch[--position] = '-';
  copyText(text, scratch + position, maxLength);
  if (integerTooLong || used >= floatBudget) return;

  const int fractionDigits = floatBudget - used;
  double m = std::fmod(v, 1.0) * std::pow(10.0, fractionDigits);
  position = scratchSize - 1;
  scratch[position] = '\0';
  for (int i = 0; i < fractionDigits; ++i) {
    if (m > 0.0) {
      scratch[--position] = digitOf(m);
      m = m * 0.1;
    } else {
      scratch[--position] = '0';
    }
  }
  appendText(text, scratch + position, maxLength);
}

// "-" for a negative value, then the decimal digits without leading zeros.
// Zero shows as "0". Magnitudes that the nine digit places cannot hold
// (below -999999999, the most negative 32-bit value included) show "Huge!",
// as do values of 100000000 and more.
void EffectBase::formatInteger(std::int32_t value, char* text, std::int32_t maxLength) noexcept {
  if (!writable(text, maxLength)) return;
  if (value >= integerLimit || value < smallestInteger) {
    copyText(text, hugeText, maxLength);
    return;
  }
  std::int32_t magnitude = value;
  if (value < 0) {
    copyText(text, "-", maxLength);
    magnitude = -value;
  } else {
    copyText(text, "", maxLength);
  }

  bool written = false;
  for (std::int32_t divisor = integerLimit; divisor > 0; divisor /= 10) {
    const std::int32_t digit = magnitude / divisor;
    magnitude %= divisor;
    if (written || digit > 0 || divisor == 1) { // the units digit always shows
      const char digitText[2] = {static_cast<char>('0' + digit), '\0'};
      appendText(text, digitText, maxLength);
      written = true;
    }
  }
}

} // namespace tandrel
