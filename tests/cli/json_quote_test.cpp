// The JSON string quoting and number texts of `info`, and the document text
// of both JSON writers (`info --json`, `check --json`).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "common/json_text.hpp"

namespace {

using tandrel::cli::documentText;
using tandrel::cli::formatFloat;
using tandrel::cli::Json;
using tandrel::cli::jsonNumber;
using tandrel::cli::quoteJson;

struct QuoteCase {
  std::string text;
  std::string quoted;
};

TEST(JsonQuote, EscapesWhatJsonRequires) {
  const QuoteCase cases[] = {
      {"", R"("")"},
      {"Ratio x ", R"("Ratio x ")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"back\\slash", R"("back\\slash")"},
      {"a/b", R"("a/b")"},
      {"tab\tnew\nline\rret", R"("tab\tnew\nline\rret")"},
      {"\b\f", R"("\b\f")"},
      {std::string("nul\0x", 5), R"("nul\u0000x")"},
      {"\x01\x1f\x7f", R"("\u0001\u001f\u007f")"},
      {"gr\xc3\xbc\xc3\x9f", "\"gr\xc3\xbc\xc3\x9f\""},                       // UTF-8 passes through
      {"\xe2\x82\xac \xf0\x9f\x8e\xb5", "\"\xe2\x82\xac \xf0\x9f\x8e\xb5\""}, // three and four bytes
      // Not UTF-8: each invalid byte becomes U+FFFD.
      {"\xb5s", "\"\xef\xbf\xbds\""},                               // Latin-1 micro sign
      {"a\xc3", "\"a\xef\xbf\xbd\""},                               // sequence cut short
      {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                 // overlong form
      {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""}, // surrogate
  };
  for (const QuoteCase& c : cases)
    EXPECT_EQ(quoteJson(c.text), c.quoted) << "for " << c.quoted;
}

TEST(JsonQuote, FloatsReadBackToTheSameBits) {
  EXPECT_EQ(formatFloat(1.0f), "1");
  EXPECT_EQ(formatFloat(0.25f), "0.25");
  EXPECT_EQ(formatFloat(0.1f), "0.1");
  EXPECT_EQ(formatFloat(-0.0f), "-0");
  for (const float value : {0.571581602f, 1.0f / 3.0f, 1e-7f, 0.99999994f}) {
    const float back = std::stof(formatFloat(value));
    EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << formatFloat(value);
  }
}

// Both JSON writers (info's document type and check's) print a text that
// is not UTF-8 the same way: U+FFFD for each invalid byte, UTF-8 as it is.
TEST(JsonQuote, BothDocumentTypesReplaceWhatIsNotUtf8) {
  const std::string text = "\xb5s gr\xc3\xbc\xc3\x9f \xff";
  const std::string expected = "{\n  \"name\": \"\xef\xbf\xbds gr\xc3\xbc\xc3\x9f \xef\xbf\xbd\"\n}";
  EXPECT_EQ(documentText(Json{{"name", text}}), expected);
  EXPECT_EQ(documentText(nlohmann::ordered_json{{"name", text}}), expected);
}

// Numbers as integers where they are whole, non-finite floats as null.
TEST(JsonQuote, NumbersAreValidJson) {
  EXPECT_EQ(jsonNumber(1.0f).dump(), "1");
  EXPECT_EQ(jsonNumber(0.25f).dump(), "0.25");
  EXPECT_EQ(jsonNumber(0.1f).dump(), "0.1");
  EXPECT_EQ(jsonNumber(std::numeric_limits<float>::quiet_NaN()).dump(), "null");
}

} // namespace
