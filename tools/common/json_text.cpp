#include "json_text.hpp"

#include <charconv>
#include <cmath>

namespace tandrel::cli {

Json jsonNumber(float value) {
  if (!std::isfinite(value)) return nullptr;
  constexpr float integerLimit = 9007199254740992.0f; // 2^53
  if (std::trunc(value) == value && std::fabs(value) < integerLimit && !std::signbit(value))
    return static_cast<std::int64_t>(value);
  return value;
}

std::string quoteJson(std::string_view text) {
  const std::string literal = Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
  // The library escapes the other control characters; DEL, which JSON
  // allows as it is, is escaped too, so that every control character shows.
  std::string quoted;
  for (const char c : literal) {
    if (c == '\x7f')
      quoted += "\\u007f";
    else
      quoted += c;
  }
  return quoted;
}

std::string formatFloat(float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

} // namespace tandrel::cli
