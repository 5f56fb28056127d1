// A small writer of indented JSON, and the string quoting that both the JSON
// and the plain-text output of the tool use.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::cli {

// The text as a JSON string literal, quotes included: '"', '\\' and every
// control character are escaped, valid UTF-8 passes through, and any other
// byte (a module may answer in Latin-1) is escaped as the Latin-1 character
// it would be, so the result is always valid JSON.
std::string quoteJson(std::string_view text);

// The shortest decimal text that reads back as the same 32-bit float.
std::string formatFloat(float value);

// Writes one JSON value with two-space indentation. Calls must form a valid
// document: inside an object every value is preceded by key().
class JsonWriter {
public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  // Ends the document with a newline.
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  void key(std::string_view name);
  void value(std::string_view text);
  void value(const char* text) { value(std::string_view(text)); }
  void value(std::int64_t number);
  void value(int number) { value(static_cast<std::int64_t>(number)); }
  // Non-finite numbers have no JSON form and are written as null.
  void value(float number);
  void value(bool truth);
  // One member of an object: key(name), then value(v).
  template <typename Value> void field(std::string_view name, const Value& v) {
    key(name);
    value(v);
  }

private:
  void beforeValue();
  void newline();
  void open(char bracket);
  void close(char bracket);

  std::ostream& out_;
  std::vector<bool> hasMembers_; // one entry per open object or array
  bool afterKey_ = false;
};

} // namespace tandrel::cli
