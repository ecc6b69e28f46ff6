#include "agent/base/synchronization/lock.h"

#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(LockTest, TryFailsWhileHeldAndSucceedsAfterRelease) {
  Lock lock;
  ASSERT_TRUE(lock.Try());
  bool taken_elsewhere = true;
  std::thread([&] { taken_elsewhere = lock.Try(); }).join();
  EXPECT_FALSE(taken_elsewhere);
  lock.Release();
  std::thread([&] {
    taken_elsewhere = lock.Try();
    if (taken_elsewhere) lock.Release();
  }).join();
  EXPECT_TRUE(taken_elsewhere);
  EXPECT_FALSE(Lock::HandlesMultipleThreadPriorities());
}

TEST(LockTest, ContendedIncrementsAreNotLost) {
  Lock lock;
  int counter = 0;
  constexpr int kThreads = 4;
  constexpr int kIncrements = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIncrements; ++i) {
        ScopedLock hold(lock);
        ++counter;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(kThreads * kIncrements, counter);
}

TEST(LockTest, ScopedLockReleasesOnScopeExit) {
  Lock lock;
  {
    ScopedLock hold(lock);
    EXPECT_FALSE(lock.Try());
  }
  EXPECT_TRUE(lock.Try());
  lock.Release();
}

}  // namespace
}  // namespace kelmbase
