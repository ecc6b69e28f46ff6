#include "agent/base/strings/string_util.h"

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(StringUtilTest, WhitespaceSets) {
  EXPECT_EQ(std::string(kAsciiWhitespace), "\t\v\f \n\r");
  size_t count = 0;
  while (kUnicodeWhitespace[count] != 0) ++count;
  EXPECT_EQ(count, 25u);
  EXPECT_EQ(kUnicodeWhitespace[6], 0x85u);
  EXPECT_EQ(kUnicodeWhitespace[24], 0x3000u);
}

TEST(StringUtilTest, TrimChars) {
  struct Case {
    const char* input;
    TrimPositions positions;
    const char* output;
    TrimPositions result;
  } cases[] = {
      {"xxaxbxx", kTrimAll, "axb", kTrimAll},
      {"xxaxbxx", kTrimLeading, "axbxx", kTrimLeading},
      {"xxaxbxx", kTrimTrailing, "xxaxb", kTrimTrailing},
      {"xxaxbxx", kTrimNone, "xxaxbxx", kTrimNone},
      {"axb", kTrimAll, "axb", kTrimNone},
      {"axbx", kTrimAll, "axb", kTrimTrailing},
      {"xaxb", kTrimAll, "axb", kTrimLeading},
      // Only set bytes: cleared, and the asked positions are reported.
      {"xxx", kTrimAll, "", kTrimAll},
      {"xxx", kTrimLeading, "", kTrimLeading},
      {"xxx", kTrimNone, "xxx", kTrimNone},
      // Empty input reports nothing trimmed.
      {"", kTrimAll, "", kTrimNone},
  };
  for (const Case& c : cases) {
    std::string output = "stale";
    EXPECT_EQ(TrimChars(c.input, "xy", c.positions, &output), c.result)
        << c.input << " " << c.positions;
    EXPECT_EQ(output, c.output) << c.input << " " << c.positions;
    StringPiece piece = TrimCharsPiece(c.input, "xy", c.positions);
    EXPECT_EQ(piece, c.output) << c.input << " " << c.positions;
  }
}

TEST(StringUtilTest, TrimCharsPieceViewsTheInput) {
  StringPiece input("  ab  ");
  StringPiece trimmed = TrimCharsPiece(input, " ", kTrimAll);
  EXPECT_EQ(trimmed.data(), input.data() + 2);
  EXPECT_EQ(trimmed.size(), 2u);
  StringPiece all = TrimCharsPiece(input.substr(0, 2), " ", kTrimAll);
  EXPECT_TRUE(all.empty());
  EXPECT_EQ(all.data(), input.data() + 2);
}

TEST(StringUtilTest, TrimAsciiWhitespace) {
  std::string output;
  EXPECT_EQ(TrimAsciiWhitespace("\t\v\f \n\rab c\r\n", kTrimAll, &output),
            kTrimAll);
  EXPECT_EQ(output, "ab c");
  EXPECT_EQ(TrimAsciiWhitespace(" \t\r\n", kTrimTrailing, &output),
            kTrimTrailing);
  EXPECT_EQ(output, "");
  EXPECT_EQ(TrimAsciiWhitespace("", kTrimAll, &output), kTrimNone);
  EXPECT_EQ(output, "");
  // Not ASCII whitespace.
  EXPECT_EQ(TrimAsciiWhitespace("\xA0" "a", kTrimAll, &output), kTrimNone);
  EXPECT_EQ(output, "\xA0" "a");
}

TEST(StringUtilTest, TrimInPlace) {
  std::string text = "  \tvalue \n";
  EXPECT_EQ(TrimAsciiWhitespace(text, kTrimAll, &text), kTrimAll);
  EXPECT_EQ(text, "value");
  text = "xxabcxx";
  EXPECT_EQ(TrimChars(text, "x", kTrimTrailing, &text), kTrimTrailing);
  EXPECT_EQ(text, "xxabc");
}

TEST(StringUtilTest, SqueezeWhitespaceRuns) {
  const std::string text = "  a \r\n b  ";
  EXPECT_EQ(SqueezeWhitespaceRuns(text, true), "ab");
  EXPECT_EQ(SqueezeWhitespaceRuns(text, false), "a b");

  struct Case {
    const char* input;
    bool trim_line_breaks;
    const char* output;
  } cases[] = {
      {"", false, ""},
      {"   ", false, ""},
      {"   ", true, ""},
      {"a", true, "a"},
      {"a\xA0" "b", false, "a b"},
      {"a\x85" "b", true, "a b"},
      {"a\t\v\fb", false, "a b"},
      {"  a  b  ", false, "a b"},
      {"a\nb", false, "a b"},
      {"a\nb", true, "ab"},
      {"a \n\n b", true, "ab"},
      {"\n\na b\n", true, "a b"},
      {"AB\r\nCD\r\nEF\r\n", true, "ABCDEF"},
      {"a\n", true, "a"},
      {"a  ", true, "a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SqueezeWhitespaceRuns(c.input, c.trim_line_breaks), c.output)
        << "'" << c.input << "' " << c.trim_line_breaks;
  }
}

TEST(StringUtilTest, SqueezeMatchesBytesInsideMultiByteCharacters) {
  // U+00E0 is C3 A0 in UTF-8: its second byte counts as whitespace.
  EXPECT_EQ(SqueezeWhitespaceRuns("x\xC3\xA0y", false), "x\xC3 y");
}

TEST(StringUtilTest, AsciiCase) {
  EXPECT_EQ(AsciiToLower("Hello, WORLD 09 \xC3\x89"), "hello, world 09 \xC3\x89");
  EXPECT_EQ(AsciiToUpper("Hello, world 09 \xC3\xA9"), "HELLO, WORLD 09 \xC3\xA9");
  EXPECT_EQ(AsciiToLower(""), "");
  EXPECT_EQ(AsciiToUpper(StringPiece("a\0b", 3)), std::string("A\0B", 3));
}

TEST(StringUtilTest, CompareIgnoringAsciiCase) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {
      {"ABC", "abcd", -1}, {"abcd", "ABC", 1}, {"abc", "ABC", 0},
      {"", "", 0},         {"", "a", -1},      {"a", "", 1},
      {"ab", "AC", -1},    {"[", "a", -1},     // '[' is below 'a' once A-Z lower
      {"\xE9", "\xC9", 1},                    // non-ASCII bytes compare as is
      {"Z", "a", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareIgnoringAsciiCase(c.a, c.b), c.expected)
        << c.a << " vs " << c.b;
  }
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Verify", "vERIFY"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("Verify", "verify "));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xE9", "\xC9"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));
}

TEST(StringUtilTest, StartsWithAndEndsWith) {
  EXPECT_TRUE(StartsWith("-----BEGIN", "-----", kExact));
  EXPECT_TRUE(StartsWith("abc", "", kExact));
  EXPECT_TRUE(StartsWith("", "", kIgnoreAsciiCase));
  EXPECT_FALSE(StartsWith("abc", "abcd", kExact));
  EXPECT_FALSE(StartsWith("abc", "AB", kExact));
  EXPECT_TRUE(StartsWith("abc", "AB", kIgnoreAsciiCase));
  EXPECT_FALSE(StartsWith("abc", "ab", static_cast<CaseMode>(2)));

  EXPECT_TRUE(EndsWith("file.PEM", ".PEM", kExact));
  EXPECT_FALSE(EndsWith("file.PEM", ".pem", kExact));
  EXPECT_TRUE(EndsWith("file.PEM", ".pem", kIgnoreAsciiCase));
  EXPECT_FALSE(EndsWith("pem", ".pem", kIgnoreAsciiCase));
  EXPECT_TRUE(EndsWith("abc", "", kExact));
  EXPECT_FALSE(EndsWith("abc", "c", static_cast<CaseMode>(-1)));
}

TEST(StringUtilTest, IsAsciiAtEveryAlignmentAndLength) {
  // Long enough for the head, several 128-byte blocks and a tail; the one
  // high byte is tried at every position and start offset.
  std::vector<char> buffer(300, 'a');
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length : {0, 1, 7, 8, 9, 127, 128, 129, 200, 280}) {
      StringPiece piece(buffer.data() + offset, length);
      EXPECT_TRUE(IsAscii(piece)) << offset << " " << length;
      for (size_t i = 0; i < length; ++i) {
        buffer[offset + i] = '\x80';
        EXPECT_FALSE(IsAscii(piece)) << offset << " " << length << " " << i;
        buffer[offset + i] = '\x7F';
        EXPECT_TRUE(IsAscii(piece)) << offset << " " << length << " " << i;
        buffer[offset + i] = 'a';
      }
    }
  }
}

TEST(StringUtilTest, IsAscii16AtEveryAlignmentAndLength) {
  std::u16string buffer(300, u'a');
  for (size_t offset = 0; offset < 4; ++offset) {
    for (size_t length : {0, 1, 3, 4, 5, 63, 64, 65, 150, 290}) {
      std::u16string_view view(buffer.data() + offset, length);
      EXPECT_TRUE(IsAscii16(view)) << offset << " " << length;
      for (size_t i = 0; i < length; ++i) {
        for (char16_t bad : {u'\x80', u'\x100', u'\xD800', u'\xFFFF'}) {
          buffer[offset + i] = bad;
          EXPECT_FALSE(IsAscii16(view)) << offset << " " << length << " " << i;
        }
        buffer[offset + i] = u'\x7F';
        EXPECT_TRUE(IsAscii16(view));
        buffer[offset + i] = u'a';
      }
    }
  }
}

TEST(StringUtilTest, AppendStrings) {
  std::string dest = "x";
  const StringPiece pieces[] = {"ab", "", "cde"};
  AppendStrings(&dest, pieces);
  EXPECT_EQ(dest, "xabcde");
  AppendStrings(&dest, {"1", "23"});
  EXPECT_EQ(dest, "xabcde123");
  AppendStrings(&dest, span<const StringPiece>());
  EXPECT_EQ(dest, "xabcde123");
}

TEST(StringUtilTest, AppendStringsFromItself) {
  // Past the small-string buffer and at full capacity, so the append must
  // move the bytes that the pieces view.
  const std::string original = "abcdefghijklmnopqrstuvwxyz";
  std::string dest = original;
  dest.shrink_to_fit();
  const StringPiece pieces[] = {dest, "-", StringPiece(dest).substr(20)};
  AppendStrings(&dest, pieces);
  EXPECT_EQ(dest, original + original + "-uvwxyz");
}

TEST(StringUtilTest, JoinStrings) {
  const StringPiece three[] = {"a", "", "bc"};
  EXPECT_EQ(JoinStrings(three, ", "), "a, , bc");
  EXPECT_EQ(JoinStrings(three, ""), "abc");
  EXPECT_EQ(JoinStrings({"only"}, "--"), "only");
  EXPECT_EQ(JoinStrings(span<const StringPiece>(), ","), "");
  std::vector<StringPiece> parts = {"x", "y"};
  std::string joined = JoinStrings(parts, "+");
  EXPECT_EQ(joined, "x+y");
  EXPECT_GE(joined.capacity(), 3u);
}

TEST(StringUtilTest, ResizeForWrite) {
  std::string s = "old";
  char* buffer = ResizeForWrite(&s, 6);
  EXPECT_EQ(s.size(), 5u);
  memcpy(buffer, "hello", 6);  // the terminator goes into the string's own
  EXPECT_EQ(s, "hello");
  buffer = ResizeForWrite(&s, 1);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(buffer, s.data());
}

TEST(StringUtilTest, Strlcpy) {
  char buffer[4];
  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(strlcpy(buffer, "abcdef", sizeof(buffer)), 6u);
  EXPECT_STREQ(buffer, "abc");

  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(strlcpy(buffer, "ab", sizeof(buffer)), 2u);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(buffer[3], 'z');  // nothing written past the terminator

  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(strlcpy(buffer, "abc", sizeof(buffer)), 3u);
  EXPECT_STREQ(buffer, "abc");

  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(strlcpy(buffer, "abcd", 0), 4u);
  EXPECT_EQ(buffer[0], 'z');

  EXPECT_EQ(strlcpy(buffer, "abcd", 1), 4u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'z');
}

}  // namespace
}  // namespace kelmbase
