#include "agent/base/strings/utf8.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Decodes all of `bytes` with NextUtf8Char.
std::vector<int32_t> DecodeAll(const std::string& bytes) {
  std::vector<int32_t> result;
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    const char* before = p;
    result.push_back(NextUtf8Char(&p, end));
    EXPECT_GT(p, before);
    EXPECT_LE(p, end);
  }
  return result;
}

TEST(Utf8Test, WellFormedSequences) {
  struct Case {
    std::string bytes;
    int32_t code_point;
  } cases[] = {
      {std::string(1, '\0'), 0},
      {"A", 0x41},
      {"\x7F", 0x7F},
      {"\xC2\x80", 0x80},
      {"\xDF\xBF", 0x7FF},
      {"\xE0\xA0\x80", 0x800},
      {"\xED\x9F\xBF", 0xD7FF},
      {"\xEE\x80\x80", 0xE000},
      {"\xEF\xBF\xBD", 0xFFFD},
      {"\xEF\xBF\xBF", 0xFFFF},
      {"\xF0\x90\x80\x80", 0x10000},
      {"\xF0\x9F\x98\x80", 0x1F600},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF},
  };
  for (const Case& c : cases) {
    const char* p = c.bytes.data();
    EXPECT_EQ(NextUtf8Char(&p, p + c.bytes.size()), c.code_point);
    EXPECT_EQ(p, c.bytes.data() + c.bytes.size());

    int32_t index = 0;
    uint32_t code_point = 0;
    EXPECT_TRUE(ReadUtf8CodePoint(c.bytes.data(),
                                  static_cast<int32_t>(c.bytes.size()),
                                  &index, &code_point));
    EXPECT_EQ(code_point, static_cast<uint32_t>(c.code_point));
    EXPECT_EQ(index, static_cast<int32_t>(c.bytes.size()) - 1);
  }
}

// Each ill-formed sequence gives -1 after consuming the bytes up to the
// offending one, then decoding resumes there.
TEST(Utf8Test, IllFormedSequences) {
  struct Case {
    std::string bytes;
    std::vector<int32_t> decoded;
  } cases[] = {
      {"\x80", {-1}},                       // lone continuation
      {"\xBF" "A", {-1, 'A'}},
      {"\xC0\xAF", {-1, -1}},               // overlong lead
      {"\xC1\xBF", {-1, -1}},
      {"\xC2", {-1}},                       // truncated
      {"\xC2" "A", {-1, 'A'}},              // continuation missing
      {"\xE0\x9F\xBF", {-1, -1, -1}},       // overlong three-byte
      {"\xE0\xA0", {-1}},                   // truncated after two bytes
      {"\xE1\x80" "A", {-1, 'A'}},
      {"\xED\xA0\x80", {-1, -1, -1}},       // surrogate U+D800
      {"\xED\xBF\xBF", {-1, -1, -1}},       // surrogate U+DFFF
      {"\xF0\x8F\xBF\xBF", {-1, -1, -1, -1}},  // overlong four-byte
      {"\xF4\x90\x80\x80", {-1, -1, -1, -1}},  // above U+10FFFF
      {"\xF0\x90\x80", {-1}},
      {"\xF0\x90\x80" "A", {-1, 'A'}},
      {"\xF5\x80\x80\x80", {-1, -1, -1, -1}},
      {"\xFF", {-1}},
      {"a\xE2\x82\xAC\xFE" "b", {'a', 0x20AC, -1, 'b'}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeAll(c.bytes), c.decoded) << testing::PrintToString(c.bytes);
  }
}

TEST(Utf8Test, NextAtTheEnd) {
  const char text[] = "a";
  const char* p = text + 1;
  EXPECT_EQ(NextUtf8Char(&p, text + 1), -1);
  EXPECT_EQ(p, text + 1);
}

TEST(Utf8Test, ReadUtf8CodePointIllFormed) {
  const std::string text = "a\xE1\x80" "b";
  int32_t index = 1;
  uint32_t code_point = 0;
  EXPECT_FALSE(ReadUtf8CodePoint(text.data(), static_cast<int32_t>(text.size()),
                                 &index, &code_point));
  // Two bytes were consumed; the index rests on the last of them.
  EXPECT_EQ(index, 2);
  ++index;
  EXPECT_TRUE(ReadUtf8CodePoint(text.data(), static_cast<int32_t>(text.size()),
                                &index, &code_point));
  EXPECT_EQ(code_point, static_cast<uint32_t>('b'));

  // An index outside the text changes nothing.
  index = 4;
  code_point = 7;
  EXPECT_FALSE(ReadUtf8CodePoint(text.data(), 4, &index, &code_point));
  EXPECT_EQ(index, 4);
  EXPECT_EQ(code_point, 7u);
}

TEST(Utf8Test, Encoding) {
  struct Case {
    uint32_t code_point;
    std::string bytes;
  } cases[] = {
      {0x00, std::string(1, '\0')},
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xD800, "\xED\xA0\x80"},  // encoded all the same
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0x110000, "\xF4\x90\x80\x80"},  // beyond Unicode, same rule
  };
  for (const Case& c : cases) {
    std::string out = "x";
    EXPECT_EQ(AppendUtf8CodePoint(c.code_point, &out), c.bytes.size());
    EXPECT_EQ(out, "x" + c.bytes) << c.code_point;

    char buffer[8] = {'-', '-', '-', '-', '-', '-', '-', '-'};
    int32_t index = 1;
    WriteUtf8CodePoint(buffer, &index, c.code_point);
    EXPECT_EQ(index, 1 + static_cast<int32_t>(c.bytes.size()));
    EXPECT_EQ(std::string(buffer + 1, c.bytes.size()), c.bytes);
    EXPECT_EQ(buffer[index], '-');
  }
}

TEST(Utf8Test, EveryCodePointRoundTrips) {
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    std::string bytes;
    AppendUtf8CodePoint(cp, &bytes);
    const char* p = bytes.data();
    const int32_t decoded = NextUtf8Char(&p, p + bytes.size());
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      ASSERT_EQ(decoded, -1) << cp;
    } else {
      ASSERT_EQ(decoded, static_cast<int32_t>(cp));
      ASSERT_EQ(p, bytes.data() + bytes.size());
    }
  }
}

}  // namespace
}  // namespace kelmbase
