#include "agent/base/containers/checked_iterators.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

struct Pair {
  int first;
  int second;
};

TEST(CheckedIteratorTest, WalksItsRange) {
  int values[] = {3, 1, 2};
  CheckedIterator<int> begin(values, values, values + 3);
  CheckedIterator<int> end(values, values + 3, values + 3);
  EXPECT_EQ(end - begin, 3);
  std::vector<int> seen;
  for (CheckedIterator<int> it = begin; it != end; ++it) seen.push_back(*it);
  EXPECT_EQ(seen, (std::vector<int>{3, 1, 2}));

  std::sort(begin, end);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[2], 3);

  CheckedIterator<int> it = begin + 2;
  EXPECT_EQ(*it, 3);
  EXPECT_EQ(it[-1], 2);
  it -= 2;
  EXPECT_EQ(it, begin);
  EXPECT_LT(begin, end);
  EXPECT_GE(end, begin);
  EXPECT_EQ(*(end - 1), 3);
  EXPECT_EQ(*std::prev(end), 3);
  EXPECT_EQ(std::distance(begin, end), 3);
}

TEST(CheckedIteratorTest, MemberAccessAndConstConversion) {
  Pair pairs[] = {{1, 2}, {3, 4}};
  CheckedIterator<Pair> it(pairs, pairs + 1, pairs + 2);
  EXPECT_EQ(it->second, 4);
  it->first = 5;
  CheckedIterator<const Pair> const_it = it;
  EXPECT_EQ(const_it->first, 5);
}

TEST(CheckedIteratorTest, EmptyRange) {
  CheckedIterator<int> begin(nullptr, nullptr, nullptr);
  CheckedIterator<int> end(nullptr, nullptr, nullptr);
  EXPECT_EQ(begin, end);
  EXPECT_EQ(end - begin, 0);
}

TEST(CheckedIteratorDeathTest, ConstructionOutsideTheRange) {
  int values[3] = {};
  EXPECT_DEATH(CheckedIterator<int>(values + 1, values, values + 3),
               "Check failed: start <= current\n");
  EXPECT_DEATH(CheckedIterator<int>(values, values + 3, values + 2),
               "Check failed: current <= end\n");
}

TEST(CheckedIteratorDeathTest, AdvancingPastTheEnd) {
  int values[2] = {};
  CheckedIterator<int> it(values, values + 2, values + 2);
  EXPECT_DEATH(++it, "Check failed: current_ != end_\n");
  EXPECT_DEATH(it++, "Check failed: current_ != end_\n");
  CheckedIterator<int> begin(values, values, values + 2);
  EXPECT_DEATH(begin += 3, "Check failed");
  EXPECT_DEATH(--begin, "Check failed: current_ != start_");
}

TEST(CheckedIteratorDeathTest, DereferencingTheEnd) {
  Pair pairs[1] = {};
  CheckedIterator<Pair> end(pairs, pairs + 1, pairs + 1);
  EXPECT_DEATH((void)*end, "Check failed: current_ != end_\n");
  EXPECT_DEATH((void)end->first, "Check failed: current_ != end_\n");
}

TEST(CheckedIteratorDeathTest, ComparingIteratorsOfTwoRanges) {
  int a[2] = {};
  int b[2] = {};
  CheckedIterator<int> in_a(a, a, a + 2);
  CheckedIterator<int> in_b(b, b, b + 2);
  CheckedIterator<int> same_start(a, a, a + 1);
  EXPECT_DEATH((void)(in_a == in_b), "Check failed: start_ == other.start_\n");
  EXPECT_DEATH((void)(in_a < same_start), "Check failed: end_ == other.end_\n");
  EXPECT_DEATH((void)(in_a - in_b), "Check failed: start_ == other.start_\n");
}

}  // namespace
}  // namespace kelmbase
