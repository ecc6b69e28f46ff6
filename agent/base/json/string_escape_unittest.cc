#include "agent/base/json/string_escape.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(StringEscapeTest, EscapesWellFormedText) {
  const struct {
    std::string input;
    std::string escaped;
  } kCases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a<b", "a\\u003Cb"},
      {"tab\there", "tab\\there"},
      {"\b\f\n\r", "\\b\\f\\n\\r"},
      {"\"quoted\"", "\\\"quoted\\\""},
      {"back\\slash", "back\\\\slash"},
      {std::string("\x01", 1), "\\u0001"},
      {std::string("\0", 1), "\\u0000"},
      {"\x1F", "\\u001F"},
      {"\x0B", "\\u000B"},
      // Not escaped.
      {"/>\x7F ", "/>\x7F "},
      // Line and paragraph separators.
      {"\xE2\x80\xA8", "\\u2028"},
      {"\xE2\x80\xA9", "\\u2029"},
      // Other multi-byte characters pass unchanged.
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\xEF\xBF\xBF", "\xEF\xBF\xBF"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : kCases) {
    std::string out = "prefix:";
    EXPECT_TRUE(AppendEscapedJsonString(c.input, false, &out)) << c.input;
    EXPECT_EQ(out, "prefix:" + c.escaped) << c.input;

    out.clear();
    EXPECT_TRUE(AppendEscapedJsonString(c.input, true, &out)) << c.input;
    EXPECT_EQ(out, "\"" + c.escaped + "\"") << c.input;
  }
}

TEST(StringEscapeTest, ReplacesIllFormedUtf8AndReportsIt) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  const struct {
    std::string input;
    std::string escaped;
  } kCases[] = {
      // A lead byte whose continuation is missing; the next byte survives.
      {"\xC3\x28", kReplacement + "("},
      {"a\xC3", "a" + kReplacement},
      // Stray continuation and never-valid bytes.
      {"\x80", kReplacement},
      {"\xC0\xAF", kReplacement + kReplacement},
      {"\xFF", kReplacement},
      // Encoded surrogate and a code point above U+10FFFF.
      {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
      {"\xF4\x90\x80\x80",
       kReplacement + kReplacement + kReplacement + kReplacement},
      // A three-byte sequence cut short at the end is one bad character.
      {"x\xE2\x82", "x" + kReplacement},
  };
  for (const auto& c : kCases) {
    std::string out;
    EXPECT_FALSE(AppendEscapedJsonString(c.input, true, &out)) << c.input;
    EXPECT_EQ(out, "\"" + c.escaped + "\"") << c.input;
    out.clear();
    EXPECT_FALSE(EscapeJsonText(c.input, false, &out)) << c.input;
    EXPECT_EQ(out, c.escaped) << c.input;
  }
}

TEST(StringEscapeTest, SpecialEscapes) {
  const struct {
    uint32_t code_point;
    const char* escape;
  } kCases[] = {
      {0x08, "\\b"},       {0x09, "\\t"},       {0x0A, "\\n"},
      {0x0C, "\\f"},       {0x0D, "\\r"},       {0x22, "\\\""},
      {0x5C, "\\\\"},      {0x3C, "\\u003C"},   {0x2028, "\\u2028"},
      {0x2029, "\\u2029"},
  };
  for (const auto& c : kCases) {
    std::string out = "x";
    EXPECT_TRUE(AppendSpecialEscape(c.code_point, &out)) << c.code_point;
    EXPECT_EQ(out, std::string("x") + c.escape) << c.code_point;
  }

  for (uint32_t code_point : {0x00u, 0x01u, 0x0Bu, 0x2Fu, 0x3Eu, 0x41u, 0x7Fu,
                              0x2027u, 0x202Au, 0xFFFDu}) {
    std::string out;
    EXPECT_FALSE(AppendSpecialEscape(code_point, &out)) << code_point;
    EXPECT_EQ(out, "") << code_point;
  }
}

}  // namespace
}  // namespace kelmbase
