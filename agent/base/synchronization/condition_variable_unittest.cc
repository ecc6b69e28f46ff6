#include "agent/base/synchronization/condition_variable.h"

#include <thread>
#include <vector>

#include "agent/base/synchronization/lock.h"
#include "agent/base/time/time.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(ConditionVariableTest, TimedWaitTimesOutOnTheMonotonicClock) {
  Lock lock;
  ConditionVariable cv(&lock);
  const Duration kWait = Duration::FromMilliseconds(30);
  ScopedLock hold(lock);
  const MonotonicTime start = MonotonicTime::Now();
  // Spurious wake-ups may end a wait early; loop to the deadline as callers
  // do.
  MonotonicTime now = start;
  while (now - start < kWait) {
    cv.TimedWait(kWait - (now - start));
    now = MonotonicTime::Now();
  }
  EXPECT_GE(now - start, kWait);
  EXPECT_LT(now - start, Duration::FromSeconds(5));
}

TEST(ConditionVariableTest, TimedWaitWithSubSecondCarry) {
  // 999,999 microseconds forces the nanosecond sum past one second for
  // most start times.
  Lock lock;
  ConditionVariable cv(&lock);
  ScopedLock hold(lock);
  const MonotonicTime start = MonotonicTime::Now();
  cv.TimedWait(Duration::FromMicroseconds(999999));
  EXPECT_LT(MonotonicTime::Now() - start, Duration::FromSeconds(3));
}

TEST(ConditionVariableTest, BroadcastWakesEveryWaiter) {
  Lock lock;
  ConditionVariable cv(&lock);
  bool go = false;
  int waiting = 0;
  int woken = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      ScopedLock hold(lock);
      ++waiting;
      while (!go) cv.Wait();
      ++woken;
    });
  }
  for (;;) {
    ScopedLock hold(lock);
    if (waiting == 3) break;
  }
  {
    ScopedLock hold(lock);
    go = true;
    cv.Broadcast();
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(3, woken);
}

TEST(ConditionVariableTest, IdleWaitsAreDeclared) {
  Lock lock;
  ConditionVariable cv(&lock);
  EXPECT_TRUE(cv.waits_are_blocking());
  cv.declare_only_used_while_idle();
  EXPECT_FALSE(cv.waits_are_blocking());
}

}  // namespace
}  // namespace kelmbase
