#include "agent/base/strings/string_number_conversions.h"

#include <double-conversion/double-conversion.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(NumberToStringTest, Integers) {
  EXPECT_EQ(NumberToString(0), "0");
  EXPECT_EQ(NumberToString(-1), "-1");
  EXPECT_EQ(NumberToString(1234567), "1234567");
  EXPECT_EQ(NumberToString(std::numeric_limits<int>::max()), "2147483647");
  EXPECT_EQ(NumberToString(std::numeric_limits<int>::min()), "-2147483648");
  EXPECT_EQ(NumberToString(4294967295u), "4294967295");
  EXPECT_EQ(NumberToString(int64_t{-10}), "-10");
  EXPECT_EQ(NumberToString(std::numeric_limits<int64_t>::max()),
            "9223372036854775807");
  EXPECT_EQ(NumberToString(std::numeric_limits<int64_t>::min()),
            "-9223372036854775808");
  EXPECT_EQ(NumberToString(uint64_t{0}), "0");
  EXPECT_EQ(NumberToString(std::numeric_limits<uint64_t>::max()),
            "18446744073709551615");
}

TEST(NumberToStringTest, Doubles) {
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {0.0, "0"},
      {3.0, "3"},
      {-3.0, "-3"},
      {0.5, "0.5"},
      {-0.25, "-0.25"},
      {0.1, "0.1"},
      {1.0 / 3.0, "0.3333333333333333"},
      {123.456, "123.456"},
      {999999999999.0, "999999999999"},
      {1e12, "1e+12"},
      {1.5e12, "1.5e+12"},
      {-1e12, "-1e+12"},
      {1e21, "1e+21"},
      {0.000001, "0.000001"},
      {0.0000015, "0.0000015"},
      {1e-7, "1e-7"},
      {1.25e-7, "1.25e-7"},
      {-1e-7, "-1e-7"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {5e-324, "5e-324"},
      {2147483648.0, "2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberToString(c.value), c.expected) << c.expected;
  }
}

// Integral values take a shortcut past the converter; its text must be the
// converter's own.
TEST(NumberToStringTest, IntegralValuesMatchTheConverter) {
  auto converter_text = [](double value) {
    char buffer[32];
    double_conversion::StringBuilder builder(buffer, sizeof(buffer));
    EXPECT_TRUE(GetDoubleToStringConverter().ToShortest(value, &builder));
    return std::string(builder.Finalize());
  };
  std::vector<double> values = {0.0,    -0.0,          1.0,           -1.0,
                                10.0,   100.0,         1000.0,        123456.0,
                                1e11,   999999999999.0, -999999999999.0,
                                1e12,   -1e12,         1e15,          1e300,
                                4503599627370496.0};
  std::mt19937_64 random(7);
  for (int i = 0; i < 5000; ++i) {
    values.push_back(static_cast<double>(static_cast<int64_t>(random() % 2000000000000) -
                                         1000000000000));
  }
  for (double value : values) {
    EXPECT_EQ(NumberToString(value), converter_text(value)) << value;
  }
  EXPECT_EQ(NumberToString(-0.0), "-0");
}

TEST(NumberToStringTest, NonFiniteDoublesGiveEmptyText) {
  EXPECT_EQ(NumberToString(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(NumberToString(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(NumberToString(-std::numeric_limits<double>::infinity()), "");
}

TEST(NumberToStringTest, DoublesReadBackExactly) {
  std::mt19937_64 random(20240601);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double value;
    memcpy(&value, &bits, sizeof(value));
    if (!std::isfinite(value)) continue;
    std::string text = NumberToString(value);
    ASSERT_FALSE(text.empty());
    ASSERT_LE(text.size(), 25u);
    double back = strtod(text.c_str(), nullptr);
    ASSERT_EQ(memcmp(&back, &value, sizeof(value)), 0) << text;
  }
}

TEST(NumberToStringTest, SharedConverterIsMadeOnce) {
  EXPECT_EQ(&GetDoubleToStringConverter(), &GetDoubleToStringConverter());
  char buffer[32];
  double_conversion::StringBuilder builder(buffer, sizeof(buffer));
  ASSERT_TRUE(GetDoubleToStringConverter().ToShortest(2.5e-8, &builder));
  EXPECT_STREQ(builder.Finalize(), "2.5e-8");
}

TEST(HexTest, Encode) {
  const uint8_t bytes[] = {0x00, 0x01, 0x7F, 0x80, 0xAB, 0xFF};
  EXPECT_EQ(HexEncode(bytes, sizeof(bytes)), "00017F80ABFF");
  EXPECT_EQ(HexEncode(span<const uint8_t>(bytes)), "00017F80ABFF");
  EXPECT_EQ(HexEncode(nullptr, 0), "");
}

TEST(HexTest, DigitValue) {
  const char digits[] = "0123456789abcdefABCDEF";
  const uint8_t values[] = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10,
                            11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < sizeof(values); ++i) {
    uint8_t value = 0xEE;
    EXPECT_TRUE(HexDigitValue(digits[i], &value)) << digits[i];
    EXPECT_EQ(value, values[i]) << digits[i];
  }
  for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xFF'}) {
    uint8_t value = 0xEE;
    EXPECT_FALSE(HexDigitValue(c, &value)) << static_cast<int>(c);
    EXPECT_EQ(value, 0xEE);
  }
}

TEST(HexTest, StringToBytes) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(HexStringToBytes("00ff7Fa0", &out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0xFF, 0x7F, 0xA0}));

  // The output is appended to, never cleared.
  EXPECT_TRUE(HexStringToBytes("01", &out));
  EXPECT_EQ(out.size(), 5u);
  EXPECT_EQ(out.back(), 0x01);

  out.clear();
  EXPECT_FALSE(HexStringToBytes("0a1G", &out));
  EXPECT_EQ(out, std::vector<uint8_t>{0x0A});

  out.clear();
  EXPECT_FALSE(HexStringToBytes("abc", &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(HexStringToBytes("", &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(HexStringToBytes("-1", &out));
  EXPECT_FALSE(HexStringToBytes(" 1", &out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace kelmbase
