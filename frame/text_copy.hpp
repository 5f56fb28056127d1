// The two ways every text reaches a caller's buffer of maxLength + 1 bytes.
// Both leave at most maxLength characters of text and zeros from its end up
// to and including index maxLength, and write nothing past index maxLength.
// The caller checks that the buffer is not null and maxLength is not
// negative. Stateless; [any].
#pragma once

#include <cstdint>
#include <cstring>

namespace tandrel {

// Copy: at most maxLength characters, the rest of the first maxLength
// positions zero-filled (as strncpy does), then a zero at index maxLength.
inline void copyText(char* text, const char* source, std::int32_t maxLength) {
  std::int32_t i = 0;
  for (; i < maxLength && source[i] != '\0'; ++i)
    text[i] = source[i];
  for (; i < maxLength; ++i)
    text[i] = '\0';
  text[maxLength] = '\0';
}

// Append: adds to the text already in the buffer, keeping at most maxLength
// characters in all (as strncat does with the room that is left), then a
// zero at index maxLength. A zero must stand at or before index maxLength.
inline void appendText(char* text, const char* source, std::int32_t maxLength) {
  std::int32_t length = 0;
  while (length < maxLength && text[length] != '\0')
    ++length;
  std::strncat(text, source, static_cast<std::size_t>(maxLength - length));
  text[maxLength] = '\0';
}

} // namespace tandrel
