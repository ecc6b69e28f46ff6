#include "agent/base/synchronization/atomic_flag.h"

#include <thread>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(AtomicFlagTest, StartsClearAndStaysSet) {
  AtomicFlag flag;
  EXPECT_FALSE(flag.IsSet());
  flag.Set();
  EXPECT_TRUE(flag.IsSet());
  flag.Set();
  EXPECT_TRUE(flag.IsSet());
}

// What is written before Set() is visible once IsSet() is seen true (the
// thread sanitizer reports a race otherwise).
TEST(AtomicFlagTest, PublishesEarlierWrites) {
  AtomicFlag flag;
  int payload = 0;
  std::thread reader([&] {
    while (!flag.IsSet()) std::this_thread::yield();
    EXPECT_EQ(42, payload);
  });
  payload = 42;
  flag.Set();
  reader.join();
}

}  // namespace
}  // namespace kelmbase
