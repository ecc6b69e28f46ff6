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

// Each check runs on a fresh thread, whose counter is new.
TEST(ThreadWorkCounterTest, OneCounterPerThreadStartingAtZero) {
  ThreadWorkCounter* first_counter = nullptr;
  uint32_t first_value = 1;
  uint32_t first_after = 0;
  std::thread first([&] {
    first_counter = ThreadWorkCounter::ForCurrentThread();
    EXPECT_EQ(first_counter, ThreadWorkCounter::ForCurrentThread());
    first_value = first_counter->value();
    first_counter->Advance();
    first_counter->Advance();
    first_after = first_counter->value();
  });
  first.join();
  EXPECT_EQ(first_value, 0u);
  EXPECT_EQ(first_after, 2u);

  uint32_t second_value = 1;
  std::thread second([&] {
    second_value = ThreadWorkCounter::ForCurrentThread()->value();
  });
  second.join();
  EXPECT_EQ(second_value, 0u);
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
