#include "agent/base/debug/signal_safe_text.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace {

TEST(FormatIntegerTest, Cases) {
  constexpr uint64_t kMinInt64 =
      static_cast<uint64_t>(std::numeric_limits<int64_t>::min());
  constexpr uint64_t kMaxUint64 = std::numeric_limits<uint64_t>::max();
  const struct {
    uint64_t value;
    size_t size;
    int base;
    size_t minimum_digits;
    const char* expected;  // null: fails, leaving ""
  } kCases[] = {
      {0, 30, 10, 1, "0"},
      {0, 30, 10, 0, "0"},
      {7, 30, 10, 3, "007"},
      {1234567890, 30, 10, 1, "1234567890"},
      {static_cast<uint64_t>(-1), 30, 10, 1, "-1"},
      {static_cast<uint64_t>(-42), 30, 10, 4, "-0042"},
      // The most negative value: its magnitude has no signed counterpart.
      {kMinInt64, 30, 10, 1, "-9223372036854775808"},
      {kMinInt64, 21, 10, 1, "-9223372036854775808"},
      {kMinInt64, 20, 10, 1, nullptr},
      // Other bases write the bits as they are.
      {kMaxUint64, 17, 16, 1, "ffffffffffffffff"},
      {kMaxUint64, 16, 16, 1, nullptr},
      {kMinInt64, 30, 16, 1, "8000000000000000"},
      {0x7f0012ab, 17, 16, 12, "00007f0012ab"},
      {0x123456789abcde, 17, 16, 12, "123456789abcde"},
      {5, 30, 2, 1, "101"},
      {255, 30, 8, 1, "377"},
      // Exactly the room for the digits and the NUL, and one byte less.
      {999, 4, 10, 1, "999"},
      {999, 3, 10, 1, nullptr},
      {5, 4, 10, 4, nullptr},
      {static_cast<uint64_t>(-5), 1, 10, 1, nullptr},
      {static_cast<uint64_t>(-5), 2, 10, 1, nullptr},
      {static_cast<uint64_t>(-5), 3, 10, 1, "-5"},
      // Bases outside 2-16.
      {5, 30, 1, 1, nullptr},
      {5, 30, 17, 1, nullptr},
      {5, 30, 0, 1, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.value << " size " << c.size
                                    << " base " << c.base << " min "
                                    << c.minimum_digits);
    char buffer[64];
    memset(buffer, 'x', sizeof(buffer));
    char* result =
        FormatInteger(c.value, buffer, c.size, c.base, c.minimum_digits);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, nullptr);
      EXPECT_STREQ(buffer, "");
    } else {
      EXPECT_EQ(result, buffer);
      EXPECT_STREQ(buffer, c.expected);
    }
    // Nothing past the given size is touched.
    EXPECT_EQ(buffer[c.size], 'x');
  }
}

TEST(FormatIntegerTest, ZeroSizeWritesNothing) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(FormatInteger(1, buffer, 0, 10, 1), nullptr);
  EXPECT_EQ(buffer[0], 'x');
}

TEST(AppendCStringTest, AppendsAndTruncates) {
  const struct {
    const char* start;
    const char* source;
    size_t size;
    const char* expected;
  } kCases[] = {
      {"", "abc", 8, "abc"},
      {"(", "path", 8, "(path"},
      {"(", "longer path", 8, "(longer"},
      {"abcdefg", "h", 8, "abcdefg"},  // already at the last byte
      {"abc", "", 8, "abc"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.start + std::string("+") + c.source);
    char buffer[16];
    memset(buffer, 'x', sizeof(buffer));
    strcpy(buffer, c.start);
    AppendCString(buffer, c.size, c.source);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(buffer[c.size], 'x');
  }
}

TEST(AppendCStringDeathTest, NoNulWithinTheBufferIsFatal) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  EXPECT_DEATH(AppendCString(buffer, sizeof(buffer), "e"),
               "appending to a full buffer");
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase
