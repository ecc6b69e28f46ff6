#include "agent/base/containers/span.h"

#include <array>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

size_t CountBytes(span<const uint8_t> bytes) { return bytes.size(); }

TEST(SpanTest, Construction) {
  span<int> empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.data(), nullptr);
  EXPECT_EQ(empty.begin(), empty.end());

  int array[] = {1, 2, 3};
  span<int> from_array(array);
  EXPECT_EQ(from_array.data(), array);
  EXPECT_EQ(from_array.size(), 3u);

  std::vector<uint8_t> vector = {1, 2, 3, 4};
  EXPECT_EQ(CountBytes(vector), 4u);
  const std::array<uint8_t, 2> std_array = {5, 6};
  EXPECT_EQ(CountBytes(std_array), 2u);

  span<int> from_pointers(array, array + 2);
  EXPECT_EQ(from_pointers.size(), 2u);
  span<const int> to_const = from_array;
  EXPECT_EQ(to_const.data(), array);

  std::string text = "TEST";
  span<const char> chars(text);
  EXPECT_EQ(chars.size(), 4u);
  span deduced(vector);
  EXPECT_EQ(deduced.size(), 4u);
  EXPECT_EQ(make_span(array).size(), 3u);
  EXPECT_EQ(make_span(array, 1).size(), 1u);
}

TEST(SpanTest, AccessAndSubspans) {
  int array[] = {10, 11, 12, 13, 14};
  span<int> s(array);
  EXPECT_EQ(s[0], 10);
  s[4] = 40;
  EXPECT_EQ(array[4], 40);
  EXPECT_EQ(s.front(), 10);
  EXPECT_EQ(s.back(), 40);
  EXPECT_EQ(s.size_bytes(), 5 * sizeof(int));

  EXPECT_EQ(s.first(2).size(), 2u);
  EXPECT_EQ(s.first(2).back(), 11);
  EXPECT_EQ(s.last(2).front(), 13);
  EXPECT_EQ(s.subspan(1).size(), 4u);
  EXPECT_EQ(s.subspan(1, 2).back(), 12);
  EXPECT_TRUE(s.subspan(5).empty());
  EXPECT_TRUE(s.first(0).empty());
}

TEST(SpanTest, Iteration) {
  std::vector<int> values = {1, 2, 3, 4};
  span<int> s(values);
  EXPECT_EQ(std::accumulate(s.begin(), s.end(), 0), 10);
  int sum = 0;
  for (int v : s) sum += v;
  EXPECT_EQ(sum, 10);
  std::vector<int> reversed(s.rbegin(), s.rend());
  EXPECT_EQ(reversed, (std::vector<int>{4, 3, 2, 1}));
}

TEST(SpanTest, AsBytes) {
  const uint16_t units[] = {0x0102, 0x0304};
  span<const uint8_t> bytes = as_bytes(span<const uint16_t>(units));
  EXPECT_EQ(bytes.size(), 4u);
  uint32_t word = 0;
  span<uint8_t> writable = as_writable_bytes(span<uint32_t>(&word, 1));
  writable[0] = 0xFF;
  EXPECT_NE(word, 0u);
}

TEST(SpanDeathTest, OutOfBounds) {
  int array[] = {1, 2, 3};
  span<int> s(array);
  EXPECT_DEATH((void)s[3], "Check failed: index < size\\(\\) \\(3 vs\\. 3\\)");
  EXPECT_DEATH((void)s.first(4), "Check failed: count <= size_");
  EXPECT_DEATH((void)s.last(4), "Check failed: count <= size_");
  EXPECT_DEATH((void)s.subspan(4), "Check failed: offset <= size_");
  EXPECT_DEATH((void)s.subspan(1, 3), "Check failed: count <= size_ - offset");
  EXPECT_DEATH((void)*s.end(), "Check failed: current_ != end_");
  EXPECT_DEATH((void)span<int>().front(), "Check failed: !empty\\(\\)");
}

}  // namespace
}  // namespace kelmbase
