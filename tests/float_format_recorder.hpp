// Test helper for the number-text tests: an effect whose formatFloat records
// every value and length it is given and writes its own text, to show which
// texts go through the object's formatFloat and with what.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace tandrel::text_test {

inline constexpr char recordedFloatText[] = "own";

template <typename Effect> class FloatFormatRecorder : public Effect {
public:
  using Effect::Effect;
  std::vector<float> values;
  std::vector<std::int32_t> lengths;
  void formatFloat(float value, char* text, std::int32_t maxLength) noexcept override {
    values.push_back(value);
    lengths.push_back(maxLength);
    std::strncpy(text, recordedFloatText, static_cast<std::size_t>(maxLength));
    text[maxLength] = '\0';
  }
};

} // namespace tandrel::text_test
