#include "json_text.hpp"

#include <charconv>
#include <cmath>

namespace tandrel::cli {

namespace {

using ErrorHandler = Json::error_handler_t;

// The text's JSON literal without its quotes; `asciiOnly` escapes every
// character outside printable ASCII.
std::string escaped(std::string_view text, bool asciiOnly) {
  const std::string literal = Json(std::string(text)).dump(-1, ' ', asciiOnly, ErrorHandler::strict);
  return literal.substr(1, literal.size() - 2);
}

// The length of the UTF-8 character that starts `rest` with a byte of 0x80
// or above, or 0 when none does. The library's decoder decides: it drops
// what is not UTF-8, so a candidate comes back whole only when it is one
// character.
std::size_t characterLength(std::string_view rest) {
  for (std::size_t length = 2; length <= 4 && length <= rest.size(); ++length) {
    const std::string candidate(rest.substr(0, length));
    if (Json(candidate).dump(-1, ' ', false, ErrorHandler::ignore) == '"' + candidate + '"') return length;
  }
  return 0;
}

// The Latin-1 character of a byte, in UTF-8.
std::string latin1Character(unsigned char byte) {
  return {static_cast<char>(0xc0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3f))};
}

// Calls `ascii` with each run of ASCII bytes, `character` with each UTF-8
// character beyond ASCII and `stray` with each byte that belongs to none.
template <typename Ascii, typename Character, typename Stray>
void walk(std::string_view text, Ascii ascii, Character character, Stray stray) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      std::size_t end = at;
      while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80)
        ++end;
      ascii(text.substr(at, end - at));
      at = end;
    } else if (const std::size_t length = characterLength(text.substr(at)); length > 0) {
      character(text.substr(at, length));
      at += length;
    } else {
      stray(static_cast<unsigned char>(text[at]));
      ++at;
    }
  }
}

} // namespace

std::string validUtf8(std::string_view text) {
  std::string valid;
  const auto keep = [&valid](std::string_view piece) { valid.append(piece); };
  walk(text, keep, keep, [&valid](unsigned char byte) { valid += latin1Character(byte); });
  return valid;
}

Json jsonText(std::string_view text) { return Json(validUtf8(text)); }

Json jsonNumber(float value) {
  if (!std::isfinite(value)) return nullptr;
  constexpr float integerLimit = 9007199254740992.0f; // 2^53
  if (std::trunc(value) == value && std::fabs(value) < integerLimit && !std::signbit(value))
    return static_cast<std::int64_t>(value);
  return value;
}

// Control characters and DEL escaped in ASCII runs, UTF-8 characters as
// they are, and stray bytes as the \u escapes of their Latin-1 characters.
std::string quoteJson(std::string_view text) {
  std::string quoted = "\"";
  walk(
      text, [&quoted](std::string_view run) { quoted += escaped(run, true); },
      [&quoted](std::string_view character) { quoted.append(character); },
      [&quoted](unsigned char byte) { quoted += escaped(latin1Character(byte), true); });
  return quoted + '"';
}

std::string formatFloat(float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

} // namespace tandrel::cli
