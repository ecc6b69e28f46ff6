#include "base/scheduling/downcalls.h"

#include <thread>
#include <vector>

#include "absl/synchronization/internal/create_thread_identity.h"
#include "base/scheduling/hook_overrides.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace base {
namespace scheduling {
namespace {

// A scheduler that records what the downcalls ask of it. Pick answers
// `pick` once for the top group and then nothing.
class FakeScheduler : public Scheduler {
 public:
  Schedulable* PropagateToParent(Schedulable* child) override {
    ++propagations;
    return nullptr;
  }
  bool MakeRunnable(Schedulable* s) override {
    made_runnable.push_back(s);
    return true;
  }
  bool YieldOrIdle(absl::Time deadline) override {
    ++yields;
    last_deadline = deadline;
    return yield_answer;
  }
  bool SwitchTo(Schedulable* next, absl::Time deadline) override {
    switched_to.push_back(next);
    return true;
  }
  void EnterBlockingRegion() override { ++entered; }
  void LeaveBlockingRegion() override { ++left; }
  void PrepareToReschedule() override { ++prepared; }
  bool AcceptsWakeup(Schedulable*) override { return true; }
  bool TakeBudget() override { return false; }
  Schedulable* Waiting(Schedulable*, Schedulable*) override { return nullptr; }
  bool HandOff(Schedulable*) override { return true; }
  Schedulable* Pick(Schedulable* node) override {
    return node == &group ? pick : nullptr;
  }
  Schedulable* Parent(Schedulable*) override { return nullptr; }

  Schedulable group;
  Schedulable* pick = nullptr;
  bool yield_answer = true;
  int propagations = 0, yields = 0, entered = 0, left = 0, prepared = 0;
  absl::Time last_deadline;
  std::vector<Schedulable*> made_runnable, switched_to;
};

class DowncallsTest : public testing::Test {
 protected:
  void SetUp() override {
    scheduler_.group.kind = Schedulable::kGroup;
    scheduler_.group.scheduler = &scheduler_;
    for (Schedulable* s : {&self_, &other_}) {
      s->kind = Schedulable::kThread;
      s->scheduler = &scheduler_;
      s->link = &scheduler_.group;
    }
    absl::synchronization_internal::GetOrCreateCurrentThreadIdentity();
    SetManagingSlot(&self_);
  }
  void TearDown() override { SetManagingSlot(nullptr); }

  FakeScheduler scheduler_;
  Schedulable self_, other_;
};

TEST_F(DowncallsTest, RescheduleFollowsTheScheduleStep) {
  struct Case {
    Schedulable* pick;
    int yields;
    size_t switches;
  } cases[] = {
      {nullptr, 1, 0},  // Nothing to run: yield or idle.
      {&self_, 0, 0},   // This thread again: it just continues.
      {&other_, 0, 1},  // Another thread: switch to it.
  };
  for (const Case& c : cases) {
    scheduler_.pick = c.pick;
    scheduler_.yields = 0;
    scheduler_.switched_to.clear();
    EXPECT_TRUE(Reschedule(true, absl::InfiniteFuture()));
    EXPECT_EQ(scheduler_.yields, c.yields);
    EXPECT_EQ(scheduler_.switched_to.size(), c.switches);
  }
  EXPECT_EQ(scheduler_.prepared, 3);
}

TEST_F(DowncallsTest, HooksOfAManagedThreadEnterTheScheduler) {
  ABSL_INTERNAL_C_SYMBOL(AbslInternalMutexYield)();
  EXPECT_EQ(scheduler_.yields, 1);
  // A timed semaphore wait becomes a blocking reschedule with its deadline.
  scheduler_.yield_answer = false;
  const absl::Time deadline = absl::Now() + absl::Seconds(3);
  EXPECT_FALSE(ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(
      absl::synchronization_internal::KernelTimeout(deadline)));
  EXPECT_EQ(scheduler_.yields, 2);
  EXPECT_LT(absl::AbsDuration(scheduler_.last_deadline - deadline),
            absl::Microseconds(1));
}

TEST_F(DowncallsTest, LongSleepsAreBlockingRegions) {
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Microseconds(4));
  EXPECT_EQ(scheduler_.entered, 0);
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Milliseconds(1));
  EXPECT_EQ(scheduler_.entered, 1);
  EXPECT_EQ(scheduler_.left, 1);
  // With rescheduling disabled the scheduler is left alone.
  ThreadSchedulingState* state = CurrentThreadState();
  state->rescheduling_disabled = 1;
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Milliseconds(1));
  EXPECT_EQ(state->rescheduling_disabled, 1);
  state->rescheduling_disabled = 0;
  EXPECT_EQ(scheduler_.entered, 1);
  EXPECT_EQ(scheduler_.left, 1);
}

TEST_F(DowncallsTest, WakeMakesRunnableOnlyWhenTheWaitEnds) {
  scheduler_.pick = &other_;
  other_.wakeups = 0;  // Not waiting: the wake-up is only counted.
  EXPECT_FALSE(Wake(&other_));
  EXPECT_EQ(other_.wakeups.load(), 1);
  EXPECT_TRUE(scheduler_.made_runnable.empty());
  other_.wakeups = -1;  // Waiting for one.
  EXPECT_TRUE(Wake(&other_));
  EXPECT_EQ(other_.wakeups.load(), 0);
  EXPECT_EQ(scheduler_.propagations, 1);
  EXPECT_THAT(scheduler_.made_runnable, testing::ElementsAre(&other_));
}

TEST_F(DowncallsTest, PostToAManagedThreadWakesItsSlot) {
  absl::base_internal::ThreadIdentity* self =
      absl::base_internal::CurrentThreadIdentityIfPresent();
  self_.wakeups = -1;
  scheduler_.pick = &self_;
  std::thread poster([self] {
    ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost)(self);
  });
  poster.join();
  EXPECT_EQ(self_.wakeups.load(), 0);
  EXPECT_THAT(scheduler_.made_runnable, testing::ElementsAre(&self_));
}

std::vector<int>* g_order = nullptr;

TEST_F(DowncallsTest, DeferredCallbacksRunNewestFirstAfterTheDowncall) {
  std::vector<int> order;
  g_order = &order;
  static int one = 1, two = 2;
  auto record = [](void* value) { g_order->push_back(*static_cast<int*>(value)); };
  GetDeferredCallbacks()->push_back({record, &one});
  GetDeferredCallbacks()->push_back({record, &two});
  EXPECT_EQ(Unblock(&other_, 1), nullptr);
  EXPECT_THAT(order, testing::ElementsAre(2, 1));
  EXPECT_TRUE(GetDeferredCallbacks()->empty());
}

TEST(DowncallsDeathTest, RescheduleWithoutSlotIsFatal) {
  EXPECT_DEATH(Reschedule(true, absl::InfiniteFuture()),
               "Check prev->managing_slot != Slot::NullSlot\\(\\) failed: "
               "Attempt to reschedule without a slot \\(inside PBR\\?\\).");
}

}  // namespace
}  // namespace scheduling
}  // namespace base
