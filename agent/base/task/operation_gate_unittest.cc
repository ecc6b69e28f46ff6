#include "agent/base/task/operation_gate.h"

#include <atomic>
#include <thread>
#include <utility>

#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/time/time.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace internal {
namespace {

TEST(OperationGateTest, RefusesUntilAcceptingAndAfterShutdown) {
  OperationGate gate;
  EXPECT_FALSE(gate.TryBegin());
  // The refused attempt is reported when the gate opens.
  EXPECT_TRUE(gate.StartAccepting());
  {
    OperationGate::Token token = gate.TryBegin();
    EXPECT_TRUE(token);
  }
  gate.ShutdownAndWaitForZero();
  EXPECT_FALSE(gate.TryBegin());
}

TEST(OperationGateTest, StartAcceptingWithoutRefusedAttemptsReportsFalse) {
  OperationGate gate;
  EXPECT_FALSE(gate.StartAccepting());
  EXPECT_TRUE(gate.TryBegin());
  gate.ShutdownAndWaitForZero();
}

TEST(OperationGateTest, TokensCountSeparatelyAndMoveOwnership) {
  OperationGate gate;
  gate.StartAccepting();
  OperationGate::Token first = gate.TryBegin();
  OperationGate::Token second = gate.TryBegin();
  OperationGate::Token moved = std::move(first);
  EXPECT_FALSE(first);  // NOLINT: checking the moved-from state.
  EXPECT_TRUE(moved);
  EXPECT_TRUE(second);

  WaitableEvent shut_down;
  std::thread shutdown([&] {
    gate.ShutdownAndWaitForZero();
    shut_down.Signal();
  });
  moved = OperationGate::Token();  // Ends one operation.
  EXPECT_FALSE(shut_down.TimedWait(Duration::FromMilliseconds(50)));
  second = OperationGate::Token();  // Ends the last one.
  shutdown.join();
  EXPECT_TRUE(shut_down.IsSignaled());
}

TEST(OperationGateTest, ShutdownWaitsForAnOutstandingToken) {
  OperationGate gate;
  gate.StartAccepting();
  auto token = std::make_unique<OperationGate::Token>(gate.TryBegin());
  ASSERT_TRUE(*token);

  std::atomic<bool> returned{false};
  std::thread shutdown([&] {
    gate.ShutdownAndWaitForZero();
    returned.store(true, std::memory_order_release);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned.load(std::memory_order_acquire));
  // Shutting down: new attempts are refused while the old one is still out.
  EXPECT_FALSE(gate.TryBegin());
  EXPECT_FALSE(returned.load(std::memory_order_acquire));

  token.reset();
  shutdown.join();
  EXPECT_TRUE(returned.load(std::memory_order_acquire));
}

TEST(OperationGateTest, ShutdownBeforeAcceptingDoesNotWaitForRefusedAttempts) {
  OperationGate gate;
  EXPECT_FALSE(gate.TryBegin());
  EXPECT_FALSE(gate.TryBegin());
  gate.ShutdownAndWaitForZero();  // Must not block on the two refusals.
  EXPECT_FALSE(gate.TryBegin());
  // A second shutdown is a no-op.
  gate.ShutdownAndWaitForZero();
}

TEST(OperationGateTest, EndOfSeveralOperationsAtOnce) {
  OperationGate gate;
  gate.StartAccepting();
  // Operations may be ended in bulk, as a queue does for a batch of posts.
  OperationGate::Token a = gate.TryBegin();
  OperationGate::Token b = gate.TryBegin();
  OperationGate::Token c = gate.TryBegin();
  WaitableEvent shut_down;
  std::thread shutdown([&] {
    gate.ShutdownAndWaitForZero();
    shut_down.Signal();
  });
  a = OperationGate::Token();
  EXPECT_FALSE(shut_down.TimedWait(Duration::FromMilliseconds(20)));
  b = OperationGate::Token();
  c = OperationGate::Token();
  shutdown.join();
}

// A refused TryBegin (after shutdown began) and the End of the last real
// operation race. Whichever comes last must wake the shutdown; a refund
// that judged from the value seen before its own subtraction would miss the
// End landing in between, and the shutdown would wait for ever. Each round
// makes exactly one refused attempt race the End, from threads kept across
// rounds, with the start of the End swept over a range of small delays.
TEST(OperationGateTest, RefusedAttemptRacingTheLastEndStillWakesShutdown) {
#if defined(__SANITIZE_THREAD__)
  constexpr int kRounds = 1000;  // Each round is far slower here.
#else
  constexpr int kRounds = 4000;
#endif

  struct Round {
    OperationGate gate;
    OperationGate::Token held;
    WaitableEvent shut_down;
    std::atomic<bool> shutdown_seen{false};
    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
  };
  std::atomic<Round*> current{nullptr};
  std::atomic<int> round_number{-1};

  auto spin_delay = [](int n) {
    std::atomic<int> steps{0};
    while (steps.fetch_add(1, std::memory_order_relaxed) < n) {
    }
  };
  // The round's state, or null when the test stopped early.
  auto wait_for_round = [&](int round) -> Round* {
    for (;;) {
      const int now = round_number.load(std::memory_order_acquire);
      if (now == round)
        return current.load(std::memory_order_acquire);
      if (now >= kRounds)
        return nullptr;
      std::this_thread::yield();
    }
  };

  std::thread shutdown([&] {
    for (int r = 0; r < kRounds; ++r) {
      Round* round = wait_for_round(r);
      if (round == nullptr)
        return;
      round->gate.ShutdownAndWaitForZero();
      round->shut_down.Signal();
    }
  });
  std::thread refuser([&] {
    for (int r = 0; r < kRounds; ++r) {
      Round* round = wait_for_round(r);
      if (round == nullptr)
        return;
      // Tokens taken before the shutdown are simply ended; the first
      // refusal shows the shutdown has begun.
      while (round->gate.TryBegin())
        std::this_thread::yield();
      round->shutdown_seen.store(true, std::memory_order_release);
      while (!round->go.load(std::memory_order_acquire)) {
      }
      EXPECT_FALSE(round->gate.TryBegin());
      round->finished.fetch_add(1, std::memory_order_release);
    }
  });
  std::thread holder([&] {
    for (int r = 0; r < kRounds; ++r) {
      Round* round = wait_for_round(r);
      if (round == nullptr)
        return;
      while (!round->shutdown_seen.load(std::memory_order_acquire))
        std::this_thread::yield();
      round->go.store(true, std::memory_order_release);
      spin_delay(r % 200);
      round->held = OperationGate::Token();
      round->finished.fetch_add(1, std::memory_order_release);
    }
  });

  bool all_returned = true;
  for (int r = 0; r < kRounds && all_returned; ++r) {
    auto round = std::make_unique<Round>();
    round->gate.StartAccepting();
    round->held = round->gate.TryBegin();
    ASSERT_TRUE(round->held);
    current.store(round.get(), std::memory_order_release);
    round_number.store(r, std::memory_order_release);

    while (round->finished.load(std::memory_order_acquire) != 2)
      std::this_thread::yield();
    if (!round->shut_down.TimedWait(Duration::FromSeconds(10))) {
      ADD_FAILURE() << "shutdown never returned in round " << r;
      all_returned = false;
      // Unstick it so the threads can be joined: one more refusal wakes a
      // shutdown that missed its wake-up.
      round->gate.TryBegin();
      round->shut_down.Wait();
    }
  }
  // Releases the threads if rounds were left out.
  round_number.store(kRounds, std::memory_order_release);
  shutdown.join();
  refuser.join();
  holder.join();
}

}  // namespace
}  // namespace internal
}  // namespace kelmbase
