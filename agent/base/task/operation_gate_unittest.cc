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
// operation race. Whichever comes last must wake the shutdown; if the
// refund judged from a stale value, the shutdown would wait for ever.
TEST(OperationGateTest, RefusedAttemptRacingTheLastEndStillWakesShutdown) {
  constexpr int kRounds = 300;
  constexpr int kRefusalsPerBurst = 2000;
  for (int round = 0; round < kRounds; ++round) {
    OperationGate gate;
    gate.StartAccepting();
    OperationGate::Token held = gate.TryBegin();
    ASSERT_TRUE(held);

    std::atomic<bool> shutdown_seen{false};
    WaitableEvent shut_down;

    std::thread shutdown([&] {
      gate.ShutdownAndWaitForZero();
      shut_down.Signal();
    });
    std::thread refuser([&] {
      // Wait for the first refusal (shutdown has begun), then keep making
      // refused attempts while the holder ends its operation.
      while (gate.TryBegin()) {
      }
      shutdown_seen.store(true, std::memory_order_release);
      for (int i = 0; i < kRefusalsPerBurst; ++i)
        EXPECT_FALSE(gate.TryBegin());
    });
    std::thread holder([&] {
      while (!shutdown_seen.load(std::memory_order_acquire)) {
      }
      held = OperationGate::Token();
    });

    holder.join();
    refuser.join();
    const bool returned = shut_down.TimedWait(Duration::FromSeconds(10));
    if (!returned) {
      ADD_FAILURE() << "shutdown never returned in round " << round;
      // Unstick it so the threads can be joined: one more refusal wakes it.
      gate.TryBegin();
    }
    shutdown.join();
    if (!returned)
      return;
  }
}

}  // namespace
}  // namespace internal
}  // namespace kelmbase
