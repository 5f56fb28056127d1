// JSON for the tool's output, through nlohmann-json: the document type, the
// one way both JSON writers (`info --json`, `check --json`) print a
// document, and the quoting and number texts that the plain-text output
// uses too. A module may answer texts that are not UTF-8 (Latin-1, say):
// everywhere the tool prints such a text, each sequence that is not UTF-8 is
// replaced by U+FFFD by the JSON library's own check, so the output is
// always valid UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tandrel::cli {

// Members keep the order they were added in; numbers that are not integers
// stay 32-bit floats, so they print in the shortest form that reads back as
// the same float.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;

// A whole document's text as the tool prints it: indented by two spaces,
// UTF-8 as it is, each sequence that is not UTF-8 replaced by U+FFFD. Any
// of the library's document types (info's Json, check's ordered_json).
template <typename Document> std::string documentText(const Document& document) {
  return document.dump(2, ' ', false, Document::error_handler_t::replace);
}

// A JSON number: an integer when the float holds one exactly, else the
// float; not-a-number and the infinities, which JSON lacks, become null.
Json jsonNumber(float value);

// The text as a JSON string literal, quotes included: '"', '\\', every
// control character and DEL are escaped, valid UTF-8 passes through, and
// each sequence that is not UTF-8 becomes U+FFFD.
std::string quoteJson(std::string_view text);

// The shortest decimal text that reads back as the same 32-bit float.
std::string formatFloat(float value);

} // namespace tandrel::cli
