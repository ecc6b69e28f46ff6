#include "agent/base/base64.h"

#include <climits>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/strings/string_piece.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

struct Vector {
  const char* bytes;
  const char* text;
};

// RFC 4648, section 10, plus a group that uses the last two alphabet
// characters.
constexpr Vector kVectors[] = {
    {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},
    {"foo", "Zm9v"},    {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},   {"\xfb\xff\xbf", "+/+/"},
};

TEST(Base64Test, EncodesStandardVectors) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(Base64EncodeToString(StringPiece(v.bytes)), v.text) << v.text;
    std::string out = "previous contents";
    Base64Encode(StringPiece(v.bytes), &out);
    EXPECT_EQ(out, v.text);
  }
}

TEST(Base64Test, DecodesStandardVectors) {
  for (const Vector& v : kVectors) {
    std::string out = "previous contents";
    EXPECT_TRUE(Base64Decode(v.text, &out)) << v.text;
    EXPECT_EQ(out, v.bytes);
  }
}

TEST(Base64Test, EncodesBinaryBytesFromSpan) {
  const std::vector<uint8_t> zero = {0};
  EXPECT_EQ(Base64EncodeToString(zero), "AA==");

  const uint8_t bytes[] = {0x00, 0xff, 0x10, 0x80};
  EXPECT_EQ(Base64EncodeToString(span<const uint8_t>(bytes)), "AP8QgA==");
  std::string out;
  Base64Encode(span<const uint8_t>(bytes), &out);
  EXPECT_EQ(out, "AP8QgA==");
  EXPECT_EQ(Base64EncodeToString(span<const uint8_t>()), "");
}

TEST(Base64Test, EmbeddedNulBytesSurviveTheRoundTrip) {
  const std::string bytes("\0a\0\0b", 5);
  std::string decoded;
  ASSERT_TRUE(Base64Decode(Base64EncodeToString(bytes), &decoded));
  EXPECT_EQ(decoded, bytes);
}

TEST(Base64Test, EveryByteValueAndLengthRoundTrips) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    bytes.push_back(static_cast<char>((i * 37 + 11) & 0xff));
  }
  for (size_t length = 0; length <= bytes.size(); ++length) {
    const StringPiece input(bytes.data(), length);
    const std::string text = Base64EncodeToString(input);
    ASSERT_EQ(text.size(), (length + 2) / 3 * 4);
    std::string decoded;
    ASSERT_TRUE(Base64Decode(text, &decoded)) << text;
    EXPECT_EQ(decoded, input.ToString());
  }
}

TEST(Base64Test, SpareBitsOfTheLastCharacterAreIgnored) {
  std::string out;
  ASSERT_TRUE(Base64Decode("YR==", &out));
  EXPECT_EQ(out, "a");
  ASSERT_TRUE(Base64Decode("YWK=", &out));
  EXPECT_EQ(out, "ab");
}

TEST(Base64Test, MalformedTextFailsAndLeavesOutputUntouched) {
  const char* const kMalformed[] = {
      "YWJ",        // length not a multiple of 4
      "Y",          //
      "YWJjY",      //
      "YW Jj",      // whitespace inside
      "YWJj\n",     // trailing line break
      "Y=Jj",       // "=" that is not at the end
      "YWJj=WJj",   // "=" inside an earlier group
      "YQ=a",       // "=" before the last character
      "Y===",       // too much padding
      "====",       //
      "YW*j",       // character outside the alphabet
      "YWJ-",       // URL-safe alphabet is not accepted
      "YW\x80j",    // high byte
  };
  for (const char* text : kMalformed) {
    std::string out = "untouched";
    EXPECT_FALSE(Base64Decode(text, &out)) << text;
    EXPECT_EQ(out, "untouched") << text;
  }
  std::string out = "untouched";
  EXPECT_FALSE(Base64Decode(StringPiece("YW\0j", 4), &out));
  EXPECT_EQ(out, "untouched");
}

TEST(Base64Test, EmptyTextDecodesToNothing) {
  std::string out = "previous contents";
  EXPECT_TRUE(Base64Decode("", &out));
  EXPECT_EQ(out, "");
  out = "previous contents";
  EXPECT_TRUE(Base64Decode(StringPiece(), &out));
  EXPECT_EQ(out, "");
}

TEST(Base64Test, EncodeBlockWritesTerminatorAndReturnsTextLength) {
  char out[9];
  memset(out, 'x', sizeof(out));
  EXPECT_EQ(internal::Base64EncodeBlock(out, "foob", 4), 8);
  EXPECT_STREQ(out, "Zm9vYg==");
  EXPECT_EQ(internal::Base64EncodeBlock(out, "", 0), 0);
  EXPECT_STREQ(out, "");
}

TEST(Base64Test, DecodeBlockCountsBytesOrReportsMalformed) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case kCases[] = {
      {"", 0},        {"YQ==", 1}, {"YWI=", 2},      {"YWJj", 3},
      {"YWJjYQ==", 4}, {"YWJ", -1}, {"YW=j", -1},    {"YW JYWJj", -1},
  };
  for (const Case& c : kCases) {
    char out[16];
    EXPECT_EQ(internal::Base64DecodeBlock(out, c.text,
                                          static_cast<int>(strlen(c.text))),
              c.expected)
        << c.text;
  }
  char out[8];
  ASSERT_EQ(internal::Base64DecodeBlock(out, "YWJjYQ==", 8), 4);
  EXPECT_EQ(std::string(out, 4), "abca");
}

// Lengths past what the int-sized block functions can describe are refused
// outright rather than cut to a wrong size. Nothing past the check reads the
// (fake) input, so no such buffer is needed.
TEST(Base64DeathTest, DecodeInputLongerThanIntMaxIsFatal) {
  const char text[] = "YWJj";
  const StringPiece huge(text, static_cast<size_t>(INT_MAX) + 1);
  std::string out;
  EXPECT_DEATH(Base64Decode(huge, &out),
               "Check failed: text.size\\(\\) <= kMaxDecodeInput");
}

TEST(Base64DeathTest, EncodeInputWhoseTextWouldPassIntMaxIsFatal) {
  const char bytes[] = "abc";
  // The largest input whose text still fits an int is INT_MAX / 4 * 3.
  const StringPiece huge(bytes, static_cast<size_t>(INT_MAX) / 4 * 3 + 1);
  EXPECT_DEATH(Base64EncodeToString(huge),
               "Check failed: length <= kMaxEncodeInput");
  std::string out;
  EXPECT_DEATH(Base64Encode(huge, &out),
               "Check failed: length <= kMaxEncodeInput");
}

TEST(Base64DeathTest, NegativeBlockLengthIsFatal) {
  char out[8];
  EXPECT_DEATH(internal::Base64EncodeBlock(out, "abc", -1),
               "Check failed: length >= 0");
  EXPECT_DEATH(internal::Base64DecodeBlock(out, "YWJj", -4),
               "Check failed: length >= 0");
}

}  // namespace
}  // namespace kelmbase
