#include "agent/base/containers/circular_deque.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::vector<int> Contents(const CircularDeque<int>& deque) {
  std::vector<int> values;
  for (int value : deque) values.push_back(value);
  return values;
}

TEST(CircularDequeTest, StartsEmptyWithoutABuffer) {
  CircularDeque<int> deque;
  EXPECT_TRUE(deque.empty());
  EXPECT_EQ(0u, deque.size());
  EXPECT_EQ(0u, deque.capacity());
  EXPECT_TRUE(deque.begin() == deque.end());
}

TEST(CircularDequeTest, GrowthByAQuarterWithAFloorOfThree) {
  // Capacity after pushing the n-th element.
  const size_t kExpected[] = {3, 3, 3, 4, 5, 6, 7, 8, 10, 10, 12};
  CircularDeque<int> deque;
  for (size_t n = 1; n <= std::size(kExpected); ++n) {
    deque.push_back(static_cast<int>(n));
    EXPECT_EQ(n, deque.size());
    EXPECT_EQ(kExpected[n - 1], deque.capacity()) << "after element " << n;
  }
}

TEST(CircularDequeTest, ShrinksOnceHalfTheSlotsAreFree) {
  CircularDeque<int> deque;
  for (int i = 0; i < 9; ++i) deque.push_back(i);
  ASSERT_EQ(10u, deque.capacity());
  // Capacity after popping down to size 8, 7, ..., 0.
  const size_t kExpected[] = {10, 10, 10, 6, 6, 3, 3, 3, 3};
  for (size_t step = 0; step < std::size(kExpected); ++step) {
    deque.pop_back();
    EXPECT_EQ(kExpected[step], deque.capacity())
        << "at size " << deque.size();
  }
  EXPECT_TRUE(deque.empty());
}

TEST(CircularDequeTest, CapacityThreeNeverShrinks) {
  CircularDeque<int> deque;
  for (int i = 0; i < 3; ++i) deque.push_back(i);
  for (int i = 0; i < 3; ++i) {
    deque.pop_front();
    EXPECT_EQ(3u, deque.capacity());
  }
}

TEST(CircularDequeTest, StackAndQueueOrder) {
  CircularDeque<int> deque;
  deque.push_back(2);
  deque.push_back(3);
  deque.push_front(1);
  deque.emplace_front(0);
  deque.emplace_back(4);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), Contents(deque));
  EXPECT_EQ(0, deque.front());
  EXPECT_EQ(4, deque.back());
  EXPECT_EQ(2, deque[2]);
  deque.pop_back();
  deque.pop_front();
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Contents(deque));
}

// Interleaved pushes and pops move the range around the ring; growing a
// wrapped range keeps the order.
TEST(CircularDequeTest, WrappedRangesKeepTheirOrder) {
  CircularDeque<int> deque;
  int next = 0;
  int expected_front = 0;
  for (int round = 0; round < 50; ++round) {
    deque.push_back(next++);
    deque.push_back(next++);
    deque.push_back(next++);
    EXPECT_EQ(expected_front++, deque.front());
    deque.pop_front();
    if (round % 3 == 0) {
      EXPECT_EQ(expected_front++, deque.front());
      deque.pop_front();
    }
    int value = expected_front;
    for (int element : deque) EXPECT_EQ(value++, element);
    EXPECT_EQ(next, value);
  }
}

TEST(CircularDequeTest, MoveOnlyElements) {
  CircularDeque<std::unique_ptr<int>> deque;
  for (int i = 0; i < 20; ++i) deque.push_back(std::make_unique<int>(i));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(i, *deque[static_cast<size_t>(i)]);
  std::unique_ptr<int> last = std::move(deque.back());
  deque.pop_back();
  EXPECT_EQ(19, *last);
  for (int i = 0; i < 15; ++i) deque.pop_front();
  EXPECT_EQ(15, *deque.front());
}

// A push whose argument is an element of the deque itself must copy it
// before growth moves the elements.
TEST(CircularDequeTest, PushingOwnElementAcrossGrowth) {
  CircularDeque<std::string> deque;
  deque.push_back(std::string(40, 'a'));
  deque.push_back(std::string(40, 'b'));
  deque.push_back(std::string(40, 'c'));
  ASSERT_EQ(deque.size(), deque.capacity());
  deque.push_back(deque.front());
  deque.push_front(deque.back());
  EXPECT_EQ(std::string(40, 'a'), deque.back());
  EXPECT_EQ(std::string(40, 'a'), deque.front());
  EXPECT_EQ(5u, deque.size());
}

TEST(CircularDequeTest, CopyMoveSwapAndClear) {
  CircularDeque<int> a;
  for (int i = 0; i < 5; ++i) a.push_back(i);
  CircularDeque<int> copy = a;
  EXPECT_EQ(Contents(a), Contents(copy));

  CircularDeque<int> moved = std::move(copy);
  EXPECT_TRUE(copy.empty());
  EXPECT_EQ(0u, copy.capacity());
  EXPECT_EQ(Contents(a), Contents(moved));

  CircularDeque<int> b;
  b.push_back(9);
  a.swap(b);
  EXPECT_EQ((std::vector<int>{9}), Contents(a));
  EXPECT_EQ(5u, b.size());

  b.clear();
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(0u, b.capacity());
  b.push_back(1);
  EXPECT_EQ(3u, b.capacity());
}

TEST(CircularDequeTest, ReserveSetsTheUsableCapacity) {
  CircularDeque<int> deque;
  deque.push_back(1);
  deque.reserve(20);
  EXPECT_EQ(20u, deque.capacity());
  deque.reserve(5);
  EXPECT_EQ(20u, deque.capacity());
  EXPECT_EQ(1, deque.front());
}

TEST(CircularDequeTest, DestroysEveryElementOnce) {
  auto counter = std::make_shared<int>(0);
  {
    CircularDeque<std::shared_ptr<int>> deque;
    for (int i = 0; i < 7; ++i) deque.push_front(counter);
    deque.pop_front();
    deque.pop_back();
    EXPECT_EQ(6, counter.use_count());
  }
  EXPECT_EQ(1, counter.use_count());
}

TEST(CircularDequeDeathTest, AccessOutsideTheElementsIsFatal) {
  CircularDeque<int> deque;
  EXPECT_DEATH(deque.front(), "Check failed: !empty\\(\\)");
  EXPECT_DEATH(deque.back(), "Check failed: !empty\\(\\)");
  EXPECT_DEATH(deque.pop_back(), "Check failed: !empty\\(\\)");
  EXPECT_DEATH(deque.pop_front(), "Check failed: !empty\\(\\)");
  deque.push_back(1);
  EXPECT_DEATH(deque[1], "Check failed: i < size\\(\\) \\(1 vs\\. 1\\)");
}

}  // namespace
}  // namespace kelmbase
