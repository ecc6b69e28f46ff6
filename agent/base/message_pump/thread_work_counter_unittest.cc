#include "agent/base/message_pump/thread_work_counter.h"

#include <thread>

#include "gtest/gtest.h"

namespace kelmbase {

class ThreadWorkCounterPeer {
 public:
  static void Set(ThreadWorkCounter* counter, uint32_t value) {
    counter->value_.store(value, std::memory_order_release);
  }
};

namespace {

TEST(ThreadWorkCounterTest, OneCounterPerThreadStartingAtZero) {
  ThreadWorkCounter* counter = ThreadWorkCounter::ForCurrentThread();
  EXPECT_EQ(counter, ThreadWorkCounter::ForCurrentThread());
  EXPECT_EQ(counter->value(), 0u);
  counter->Advance();
  counter->Advance();
  EXPECT_EQ(counter->value(), 2u);

  ThreadWorkCounter* other_thread_counter = nullptr;
  uint32_t other_thread_value = 1;
  std::thread other([&] {
    other_thread_counter = ThreadWorkCounter::ForCurrentThread();
    other_thread_value = other_thread_counter->value();
  });
  other.join();
  EXPECT_NE(other_thread_counter, counter);
  EXPECT_EQ(other_thread_value, 0u);
  EXPECT_EQ(counter->value(), 2u);
}

TEST(ThreadWorkCounterTest, WrapsToOneNeverZero) {
  ThreadWorkCounter* counter = ThreadWorkCounter::ForCurrentThread();
  ThreadWorkCounterPeer::Set(counter, 0xFFFFFFFEu);
  counter->Advance();
  EXPECT_EQ(counter->value(), 0xFFFFFFFFu);
  counter->Advance();
  EXPECT_EQ(counter->value(), 1u);
}

}  // namespace
}  // namespace kelmbase
