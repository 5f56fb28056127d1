// The JSON string quoting and number texts of `info --json`.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "common/json_text.hpp"

namespace {

using tandrel::cli::formatFloat;
using tandrel::cli::jsonNumber;
using tandrel::cli::jsonText;
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
      {"\xb5s", R"("\u00b5s")"},                                              // Latin-1 micro sign
      {"\xc3", R"("\u00c3")"},                                                // sequence cut short
      {"\xc0\xaf", R"("\u00c0\u00af")"},                                      // overlong form
      {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},                            // surrogate
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

// The document's values: texts that are not UTF-8 read as Latin-1, numbers
// as integers where they are whole, non-finite floats as null.
TEST(JsonQuote, DocumentValuesAreValidJson) {
  EXPECT_EQ(jsonText("\xb5s gr\xc3\xbc\xc3\x9f").dump(), "\"\xc2\xb5s gr\xc3\xbc\xc3\x9f\"");
  EXPECT_EQ(jsonNumber(1.0f).dump(), "1");
  EXPECT_EQ(jsonNumber(0.25f).dump(), "0.25");
  EXPECT_EQ(jsonNumber(0.1f).dump(), "0.1");
  EXPECT_EQ(jsonNumber(std::numeric_limits<float>::quiet_NaN()).dump(), "null");
}

} // namespace
