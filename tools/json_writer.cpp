#include "json_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tandrel::cli {

namespace {

// The length of the valid UTF-8 sequence that starts at `at`, or 0.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t point = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    point = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    point = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xc0u) != 0x80u) return 0;
    point = point << 6 | (byte(at + k) & 0x3fu);
  }
  // Overlong forms, surrogates and points beyond U+10FFFF are not UTF-8.
  const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < smallest[length] || (point >= 0xd800 && point <= 0xdfff) || point > 0x10ffff) return 0;
  return length;
}

void appendEscape(std::string& out, unsigned value) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", value);
  out += escape;
}

} // namespace

std::string quoteJson(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
    case '"':
      quoted += "\\\"";
      break;
    case '\\':
      quoted += "\\\\";
      break;
    case '\b':
      quoted += "\\b";
      break;
    case '\f':
      quoted += "\\f";
      break;
    case '\n':
      quoted += "\\n";
      break;
    case '\r':
      quoted += "\\r";
      break;
    case '\t':
      quoted += "\\t";
      break;
    default:
      if (byte < 0x20 || byte == 0x7f) {
        appendEscape(quoted, byte);
      } else if (byte < 0x80) {
        quoted.push_back(c);
      } else if (const std::size_t length = utf8SequenceLength(text, i); length > 0) {
        quoted.append(text.substr(i, length));
        i += length - 1;
      } else {
        // Not UTF-8: the byte is taken as a Latin-1 character.
        appendEscape(quoted, byte);
      }
    }
  }
  quoted.push_back('"');
  return quoted;
}

std::string formatFloat(float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

JsonWriter::~JsonWriter() { out_ << '\n'; }

void JsonWriter::newline() {
  out_ << '\n';
  for (std::size_t level = 0; level < hasMembers_.size(); ++level)
    out_ << "  ";
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasMembers_.empty()) {
    if (hasMembers_.back()) out_ << ',';
    hasMembers_.back() = true;
    newline();
  }
}

void JsonWriter::open(char bracket) {
  beforeValue();
  out_ << bracket;
  hasMembers_.push_back(false);
}

void JsonWriter::close(char bracket) {
  const bool hadMembers = hasMembers_.back();
  hasMembers_.pop_back();
  if (hadMembers) newline();
  out_ << bracket;
}

void JsonWriter::beginObject() { open('{'); }
void JsonWriter::endObject() { close('}'); }
void JsonWriter::beginArray() { open('['); }
void JsonWriter::endArray() { close(']'); }

void JsonWriter::key(std::string_view name) {
  beforeValue();
  out_ << quoteJson(name) << ": ";
  afterKey_ = true;
}

void JsonWriter::value(std::string_view text) {
  beforeValue();
  out_ << quoteJson(text);
}

void JsonWriter::value(std::int64_t number) {
  beforeValue();
  out_ << number;
}

void JsonWriter::value(float number) {
  beforeValue();
  if (std::isfinite(number))
    out_ << formatFloat(number);
  else
    out_ << "null";
}

void JsonWriter::value(bool truth) {
  beforeValue();
  out_ << (truth ? "true" : "false");
}

} // namespace tandrel::cli
