#include "agent/net/der/parse_values.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace net::der {
namespace {

Input In(const std::vector<uint8_t>& bytes) {
  return Input(bytes.data(), bytes.size());
}

TEST(ParseBoolTest, OnlyZeroAndAllOnesAreBooleans) {
  struct Case {
    std::vector<uint8_t> value;
    bool ok;
    bool result;
  };
  const Case kCases[] = {
      {{0xFF}, true, true},   {{0x00}, true, false}, {{0x01}, false, false},
      {{0x7F}, false, false}, {{}, false, false},    {{0xFF, 0xFF}, false, false},
  };
  for (const Case& c : kCases) {
    bool result = !c.result;
    EXPECT_EQ(c.ok, ParseBool(In(c.value), &result))
        << testing::PrintToString(c.value);
    if (c.ok) {
      EXPECT_EQ(c.result, result) << testing::PrintToString(c.value);
    }
  }
}

TEST(ParseIntegerTest, Uint64AndSign) {
  struct Case {
    std::vector<uint8_t> value;
    bool valid;      // IsValidInteger
    bool negative;   // when valid
    bool uint64_ok;  // ParseUint64
    uint64_t uint64_value;
  };
  const Case kCases[] = {
      {{0x00}, true, false, true, 0},
      {{0x05}, true, false, true, 5},
      {{0x00, 0x80}, true, false, true, 128},
      {{0x7F, 0xFF}, true, false, true, 0x7FFF},
      // A superfluous leading zero or 0xFF is not minimal.
      {{0x00, 0x05}, false, false, false, 0},
      {{0xFF, 0x80}, false, false, false, 0},
      {{}, false, false, false, 0},
      {{0xFF}, true, true, false, 0},
      {{0x80}, true, true, false, 0},
      // Eight value bytes after the sign byte fit.
      {{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       true, false, true, UINT64_MAX},
      {{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
       true, false, false, 0},
      {{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       true, false, true, 0x7FFFFFFFFFFFFFFF},
  };
  for (const Case& c : kCases) {
    const std::string row = testing::PrintToString(c.value);
    bool negative = !c.negative;
    EXPECT_EQ(c.valid, IsValidInteger(In(c.value), &negative)) << row;
    if (c.valid) {
      EXPECT_EQ(c.negative, negative) << row;
    }
    uint64_t value = 12345;
    EXPECT_EQ(c.uint64_ok, ParseUint64(In(c.value), &value)) << row;
    if (c.uint64_ok) {
      EXPECT_EQ(c.uint64_value, value) << row;
    }
  }
}

TEST(ParseIntegerTest, Uint8StopsAt255) {
  uint8_t value = 0;
  ASSERT_TRUE(ParseUint8(In({0x00, 0xFF}), &value));
  EXPECT_EQ(255, value);
  EXPECT_FALSE(ParseUint8(In({0x01, 0x00}), &value));
  EXPECT_FALSE(ParseUint8(In({0xFF}), &value));
}

TEST(ParseBitStringTest, Cases) {
  struct Case {
    std::vector<uint8_t> value;
    bool ok;
    uint8_t unused_bits;
    size_t byte_count;
  };
  const Case kCases[] = {
      {{0x03, 0xF8}, true, 3, 1},
      {{0x03, 0xF9}, false, 0, 0},  // An unused bit is set.
      {{0x08, 0xFF}, false, 0, 0},  // Count above 7.
      {{0x00}, true, 0, 0},
      {{0x01}, false, 0, 0},  // A count without bytes.
      {{}, false, 0, 0},
      {{0x07, 0x00, 0x80}, true, 7, 2},
      {{0x07, 0x80, 0x01}, false, 0, 0},
  };
  for (const Case& c : kCases) {
    const std::string row = testing::PrintToString(c.value);
    BitString bits;
    ASSERT_EQ(c.ok, ParseBitString(In(c.value), &bits)) << row;
    if (!c.ok)
      continue;
    EXPECT_EQ(c.unused_bits, bits.unused_bits()) << row;
    EXPECT_EQ(c.byte_count, bits.bytes().length()) << row;
    if (c.byte_count) {
      EXPECT_EQ(c.value.data() + 1, bits.bytes().data()) << row;
    }
  }
}

TEST(BitStringTest, IsBitSetCountsFromTheMostSignificantBit) {
  const std::vector<uint8_t> high = {0x80};
  const std::vector<uint8_t> low = {0x01};
  const std::vector<uint8_t> two = {0x00, 0x40};
  EXPECT_TRUE(BitString(In(high), 0).IsBitSet(0));
  EXPECT_FALSE(BitString(In(high), 0).IsBitSet(1));
  EXPECT_TRUE(BitString(In(low), 0).IsBitSet(7));
  EXPECT_FALSE(BitString(In(low), 0).IsBitSet(0));
  EXPECT_FALSE(BitString(In(low), 0).IsBitSet(8));
  EXPECT_TRUE(BitString(In(two), 0).IsBitSet(9));
  EXPECT_FALSE(BitString(In(two), 0).IsBitSet(1000));
  EXPECT_FALSE(BitString().IsBitSet(0));
}

struct TimeCase {
  const char* text;
  bool ok;
  GeneralizedTime expected;
};

void CheckTimeCases(bool (*parse)(const Input&, GeneralizedTime*),
                    const std::vector<TimeCase>& cases) {
  for (const TimeCase& c : cases) {
    GeneralizedTime time;
    ASSERT_EQ(c.ok, parse(Input(std::string_view(c.text)), &time)) << c.text;
    if (!c.ok)
      continue;
    EXPECT_EQ(c.expected.year, time.year) << c.text;
    EXPECT_EQ(c.expected.month, time.month) << c.text;
    EXPECT_EQ(c.expected.day, time.day) << c.text;
    EXPECT_EQ(c.expected.hours, time.hours) << c.text;
    EXPECT_EQ(c.expected.minutes, time.minutes) << c.text;
    EXPECT_EQ(c.expected.seconds, time.seconds) << c.text;
  }
}

TEST(ParseTimeTest, UTCTime) {
  CheckTimeCases(
      ParseUTCTime,
      {
          {"491231235959Z", true, {2049, 12, 31, 23, 59, 59}},
          {"500101000000Z", true, {1950, 1, 1, 0, 0, 0}},
          {"000229000000Z", true, {2000, 2, 29, 0, 0, 0}},
          {"4912312359Z", false, {}},         // Seconds omitted.
          {"491231235959+0000", false, {}},   // Offset instead of Z.
          {"491231235959.5Z", false, {}},     // Fraction.
          {"491231235959z", false, {}},
          {"491231235959Z ", false, {}},
          {"491231235959", false, {}},
          {"4912312359-9Z", false, {}},       // A sign is not a digit.
          {"4912312359 9Z", false, {}},
          {"491331235959Z", false, {}},       // Month 13.
          {"", false, {}},
      });
}

TEST(ParseTimeTest, GeneralizedTime) {
  CheckTimeCases(
      ParseGeneralizedTime,
      {
          {"20240229120000Z", true, {2024, 2, 29, 12, 0, 0}},
          {"20230229120000Z", false, {}},
          {"21000229000000Z", false, {}},  // 2100 is not a leap year.
          {"20000229000000Z", true, {2000, 2, 29, 0, 0, 0}},
          {"20241231235960Z", true, {2024, 12, 31, 23, 59, 60}},
          {"20241231235961Z", false, {}},
          {"20241231236000Z", false, {}},
          {"20241231240000Z", false, {}},
          {"20240431000000Z", false, {}},  // April has 30 days.
          {"20240430000000Z", true, {2024, 4, 30, 0, 0, 0}},
          {"20240132000000Z", false, {}},
          {"20240100000000Z", false, {}},  // Day 0.
          {"20240001000000Z", false, {}},  // Month 0.
          {"00000101000000Z", true, {0, 1, 1, 0, 0, 0}},
          {"99991231235959Z", true, {9999, 12, 31, 23, 59, 59}},
          {"20240101000000.5Z", false, {}},
          {"20240101000000+0100", false, {}},
          {"202401010000Z", false, {}},
          {"20240101000000", false, {}},
          {"+2024101000000Z", false, {}},
      });
}

}  // namespace
}  // namespace net::der
