#include "json_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tandrel::cli {

std::string quoteJson(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  for (const char c : text) {
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
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        quoted += escape;
      } else {
        quoted.push_back(c);
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
