// JSON for the tool's output, through nlohmann-json: the document type, and
// the quoting and number texts that both the JSON and the plain-text output
// use. A module may answer texts that are not UTF-8 (Latin-1, say); such
// bytes are taken as the Latin-1 characters they would be, so the output is
// always valid.
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

// The text with every byte that does not belong to a UTF-8 character
// replaced by the Latin-1 character it would be.
std::string validUtf8(std::string_view text);

// A JSON string value of the text (see validUtf8).
Json jsonText(std::string_view text);

// A JSON number: an integer when the float holds one exactly, else the
// float; not-a-number and the infinities, which JSON lacks, become null.
Json jsonNumber(float value);

// The text as a JSON string literal, quotes included: '"', '\\' and every
// control character are escaped, valid UTF-8 passes through, and any other
// byte is escaped as the Latin-1 character it would be.
std::string quoteJson(std::string_view text);

// The shortest decimal text that reads back as the same 32-bit float.
std::string formatFloat(float value);

} // namespace tandrel::cli
