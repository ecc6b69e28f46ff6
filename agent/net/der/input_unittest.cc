#include "agent/net/der/input.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace net::der {
namespace {

TEST(InputTest, EqualityComparesLengthAndBytes) {
  const uint8_t a[] = {1, 2, 3};
  const uint8_t b[] = {1, 2, 3};
  const uint8_t c[] = {1, 2, 4};
  EXPECT_EQ(Input(a), Input(b));
  EXPECT_NE(Input(a), Input(c));
  EXPECT_NE(Input(a), Input(a, 2));
  EXPECT_EQ(Input(), Input(a, 0));
}

TEST(InputTest, AsStringCopiesEveryByteIncludingZeros) {
  const std::string bytes("a\0b", 3);
  Input in(bytes);
  EXPECT_EQ(bytes, in.AsString());
  EXPECT_EQ(3u, in.AsStringView().size());
  EXPECT_EQ("", Input().AsString());
}

TEST(InputTest, LessThanIsUnsignedLexicographicWithShorterPrefixFirst) {
  struct Case {
    std::vector<uint8_t> lhs;
    std::vector<uint8_t> rhs;
    bool less;
  };
  const Case kCases[] = {
      {{0x01, 0x02}, {0x01, 0x02, 0x03}, true},
      {{0x01, 0x02, 0x03}, {0x01, 0x02}, false},
      {{0x01, 0x03}, {0x01, 0x02, 0xFF}, false},
      {{0x01, 0x02, 0xFF}, {0x01, 0x03}, true},
      // Bytes compare as unsigned values.
      {{0x7F}, {0x80}, true},
      {{0x80}, {0x7F}, false},
      {{}, {0x00}, true},
      {{}, {}, false},
      {{0x00}, {}, false},
      {{0x05}, {0x05}, false},
  };
  for (const Case& c : kCases) {
    Input lhs(c.lhs.data(), c.lhs.size());
    Input rhs(c.rhs.data(), c.rhs.size());
    EXPECT_EQ(c.less, lhs < rhs)
        << testing::PrintToString(c.lhs) << " < "
        << testing::PrintToString(c.rhs);
  }
}

TEST(ByteReaderTest, ReadsBytesAndStopsAtTheEnd) {
  const uint8_t data[] = {0xAA, 0xBB, 0xCC};
  ByteReader reader{Input(data)};
  uint8_t byte;
  ASSERT_TRUE(reader.ReadByte(&byte));
  EXPECT_EQ(0xAA, byte);
  Input rest;
  // Asking for more than is left fails and consumes nothing.
  EXPECT_FALSE(reader.ReadBytes(3, &rest));
  ASSERT_TRUE(reader.ReadBytes(2, &rest));
  EXPECT_EQ(Input(data + 1, 2), rest);
  EXPECT_FALSE(reader.HasMore());
  EXPECT_FALSE(reader.ReadByte(&byte));
  ASSERT_TRUE(reader.ReadBytes(0, &rest));
  EXPECT_TRUE(rest.empty());
}

TEST(ByteReaderDeathTest, AdvancePastTheEndIsFatal) {
  const uint8_t data[] = {1, 2};
  ByteReader reader{Input(data)};
  EXPECT_DEATH(reader.Advance(3), "len <= len_");
}

}  // namespace
}  // namespace net::der
