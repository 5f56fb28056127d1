#include "option_declaration.hpp"

#include <fmt/format.h>

#include <charconv>

namespace tandrel::cli::option_text {

namespace {

std::string withUnit(std::string text, std::string_view unit) {
  if (!unit.empty()) text += " " + std::string(unit);
  return text;
}

} // namespace

std::string spelling(std::string_view names) {
  const auto comma = names.rfind(',');
  return std::string(comma == std::string_view::npos ? names : names.substr(comma + 1));
}

std::string number(double value) { return fmt::format("{}", value); }

std::string range(double low, double high, std::string_view unit) {
  return withUnit(number(low) + " to " + number(high), unit);
}

std::string wholeNumberProblem(const std::string& text, long long low, long long high,
                               std::string_view unit) {
  long long value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (!text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= low &&
      value <= high)
    return "";
  return fmt::format("'{}' is not a whole number {}from {} to {}", text,
                     unit.empty() ? std::string() : "of " + std::string(unit) + " ", low, high);
}

std::string numberProblem(const std::string& text, double low, double high, std::string_view unit) {
  double value = 0.0;
  if (!CLI::detail::lexical_cast(text, value))
    return fmt::format("'{}' is not a number; give one from {}", text, range(low, high, unit));
  return valueProblem(value, low, high, unit);
}

std::string valueProblem(double value, double low, double high, std::string_view unit) {
  if (value >= low && value <= high) return "";
  return number(value) + " is outside " + range(low, high, unit);
}

} // namespace tandrel::cli::option_text
