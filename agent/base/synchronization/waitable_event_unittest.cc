#include "agent/base/synchronization/waitable_event.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "agent/base/threading/scoped_blocking_call_internal.h"
#include "agent/base/time/time.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using ResetPolicy = WaitableEvent::ResetPolicy;
using InitialState = WaitableEvent::InitialState;

TEST(WaitableEventTest, AutomaticSignalIsConsumedOnce) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  EXPECT_FALSE(event.IsSignaled());
  event.Signal();
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_FALSE(event.IsSignaled());

  event.Signal();
  event.Signal();  // Already signalled: no second signal is stored.
  EXPECT_TRUE(event.TimedWait(Duration::FromMilliseconds(10)));
  EXPECT_FALSE(event.TimedWait(Duration::FromMilliseconds(1)));
}

TEST(WaitableEventTest, ManualSignalStaysUntilReset) {
  WaitableEvent event(ResetPolicy::kManual, InitialState::kNotSignaled);
  event.Signal();
  event.Signal();
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_TRUE(event.TimedWait(Duration::FromMilliseconds(1)));
  event.Wait();
  event.Reset();
  EXPECT_FALSE(event.IsSignaled());
  EXPECT_FALSE(event.TimedWait(Duration::FromMilliseconds(1)));
}

TEST(WaitableEventTest, InitialStateAndDefaults) {
  WaitableEvent signaled(ResetPolicy::kAutomatic, InitialState::kSignaled);
  signaled.Wait();  // Returns at once.
  EXPECT_FALSE(signaled.IsSignaled());
  WaitableEvent manual;  // Manual, not signalled.
  EXPECT_FALSE(manual.IsSignaled());
  manual.Signal();
  EXPECT_TRUE(manual.IsSignaled());
  EXPECT_TRUE(manual.IsSignaled());
}

TEST(WaitableEventTest, NonPositiveTimedWaitPollsAndConsumes) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  const MonotonicTime start = MonotonicTime::Now();
  EXPECT_FALSE(event.TimedWait(Duration()));
  EXPECT_FALSE(event.TimedWait(Duration::FromSeconds(-1)));
  EXPECT_FALSE(event.TimedWait(Duration::Min()));
  EXPECT_LT(MonotonicTime::Now() - start, Duration::FromSeconds(1));
  event.Signal();
  EXPECT_TRUE(event.TimedWait(Duration()));
  EXPECT_FALSE(event.IsSignaled());
}

TEST(WaitableEventTest, TimedWaitTimesOut) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  const Duration kWait = Duration::FromMilliseconds(25);
  const MonotonicTime start = MonotonicTime::Now();
  EXPECT_FALSE(event.TimedWait(kWait));
  EXPECT_GE(MonotonicTime::Now() - start, kWait);
}

TEST(WaitableEventTest, SignalFromAnotherThreadWakesWait) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  std::thread signaler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    event.Signal();
  });
  event.Wait();
  signaler.join();
  EXPECT_FALSE(event.IsSignaled());  // The waiter took the signal.
}

// Waits until `event` has `count` waiters queued, by polling a counter the
// waiter threads bump just before waiting; then gives them time to block.
void WaitForWaiters(const std::atomic<int>& entered, int count) {
  while (entered.load() < count) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST(WaitableEventTest, AutomaticSignalReleasesExactlyOneWaiter) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  std::atomic<int> entered{0};
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      ++entered;
      event.Wait();
      ++released;
    });
  }
  WaitForWaiters(entered, 2);
  event.Signal();
  while (released.load() < 1) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(1, released.load());
  EXPECT_FALSE(event.IsSignaled());
  event.Signal();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(2, released.load());
  EXPECT_FALSE(event.IsSignaled());
}

TEST(WaitableEventTest, ManualSignalReleasesEveryWaiter) {
  WaitableEvent event(ResetPolicy::kManual, InitialState::kNotSignaled);
  constexpr int kWaiters = 5;
  std::atomic<int> entered{0};
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      ++entered;
      if (event.TimedWait(Duration::FromSeconds(60))) ++released;
    });
  }
  WaitForWaiters(entered, kWaiters);
  event.Signal();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(kWaiters, released.load());
  EXPECT_TRUE(event.IsSignaled());
}

// Waiters whose time-outs race the signal: every signal ends up either
// taken by exactly one waiter or left on the event; none is lost.
TEST(WaitableEventTest, TimeoutRacingSignalNeverLosesIt) {
  constexpr int kRounds = 300;
  for (int round = 0; round < kRounds; ++round) {
    WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&, i] {
        if (event.TimedWait(Duration::FromMicroseconds(50 + 100 * i))) ++taken;
      });
    }
    std::thread signaler([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(round % 200));
      event.Signal();
    });
    signaler.join();
    for (std::thread& waiter : waiters) waiter.join();
    const int left_on_event = event.IsSignaled() ? 1 : 0;
    ASSERT_EQ(1, taken.load() + left_on_event) << "round " << round;
  }
}

// Producer/consumer over two automatic events: every signal is delivered,
// and the consumer sees each item exactly once.
TEST(WaitableEventTest, NoLostSignalUnderStress) {
  WaitableEvent item_ready(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  WaitableEvent item_taken(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  constexpr int kItems = 20000;
  int slot = 0;
  int64_t sum = 0;
  std::thread consumer([&] {
    for (int i = 0; i < kItems; ++i) {
      // Mix the kinds of wait so that timed waits are exercised too.
      if (i % 3 == 0) {
        while (!item_ready.TimedWait(Duration::FromMicroseconds(7))) {
        }
      } else {
        item_ready.Wait();
      }
      sum += slot;
      item_taken.Signal();
    }
  });
  for (int i = 1; i <= kItems; ++i) {
    slot = i;
    item_ready.Signal();
    item_taken.Wait();
  }
  consumer.join();
  EXPECT_EQ(int64_t{kItems} * (kItems + 1) / 2, sum);
  EXPECT_FALSE(item_ready.IsSignaled());
  EXPECT_FALSE(item_taken.IsSignaled());
}

// Many threads signalling and waiting on one automatic event: the number
// of successful waits plus a possibly remaining signal never exceeds the
// number of signals, and every waiter that is guaranteed a signal gets one.
TEST(WaitableEventTest, ManySignalersAndWaiters) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  WaitableEvent consumed(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  std::atomic<int> received{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        event.Wait();
        ++received;
        consumed.Signal();
      }
    });
  }
  // One signal at a time, each acknowledged, so none can merge with another.
  for (int i = 0; i < kThreads * kPerThread; ++i) {
    event.Signal();
    consumed.Wait();
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(kThreads * kPerThread, received.load());
}

// The waiter may destroy the event as soon as its wait returns, while the
// signalling thread is still finishing Signal (the address sanitizer
// reports any use of the freed event).
TEST(WaitableEventTest, WaiterMayDestroyTheEventRightAfterWaking) {
  for (int round = 0; round < 2000; ++round) {
    auto* event = new WaitableEvent(ResetPolicy::kAutomatic,
                                    InitialState::kNotSignaled);
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
      waiting = true;
      event->Wait();
      delete event;
    });
    while (!waiting.load()) std::this_thread::yield();
    event->Signal();
    waiter.join();
  }
}

class CountingObserver : public internal::BlockingCallObserver {
 public:
  void BlockingStarted(BlockingType) override { ++started; }
  void BlockingTypeUpgraded() override {}
  void BlockingEnded() override { ++ended; }
  int started = 0;
  int ended = 0;
};

TEST(WaitableEventTest, WaitsOpenABlockingScopeUnlessIdle) {
  CountingObserver observer;
  internal::SetBlockingCallObserverForCurrentThread(&observer);
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kSignaled);
  event.Wait();
  EXPECT_EQ(1, observer.started);
  EXPECT_EQ(1, observer.ended);
  // A poll never blocks.
  EXPECT_FALSE(event.TimedWait(Duration()));
  EXPECT_EQ(1, observer.started);

  event.declare_only_used_while_idle();
  EXPECT_FALSE(event.waits_are_blocking());
  EXPECT_FALSE(event.TimedWait(Duration::FromMilliseconds(2)));
  EXPECT_EQ(1, observer.started);
  internal::SetBlockingCallObserverForCurrentThread(nullptr);
}

}  // namespace
}  // namespace kelmbase
