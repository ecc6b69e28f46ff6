#include "agent/base/message_pump/message_pump.h"

#include <errno.h>
#include <event.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "agent/base/message_pump/message_pump_default.h"
#include "agent/base/message_pump/message_pump_libevent.h"
#include "agent/base/time/time.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using NextWorkInfo = MessagePump::Delegate::NextWorkInfo;

NextWorkInfo WorkNow() {
  return NextWorkInfo{MonotonicTime(), MonotonicTime()};
}

NextWorkInfo NoDelayedWork() {
  return NextWorkInfo{MonotonicTime::Max(), MonotonicTime()};
}

NextWorkInfo DelayedWorkAt(MonotonicTime when) {
  return NextWorkInfo{when, MonotonicTime::Now()};
}

// A delegate whose DoWork (and optionally DoIdleWork) is a test-supplied
// function; counts every call.
class ScriptedDelegate : public MessagePump::Delegate {
 public:
  explicit ScriptedDelegate(std::function<NextWorkInfo()> do_work,
                            std::function<void()> on_idle = nullptr)
      : do_work_(std::move(do_work)), on_idle_(std::move(on_idle)) {}

  NextWorkInfo DoWork() override {
    ++do_work_calls;
    return do_work_();
  }
  bool DoIdleWork() override {
    ++do_idle_work_calls;
    if (on_idle_)
      on_idle_();
    return false;
  }
  void BeforeWait() override { ++before_wait_calls; }
  void BeginWorkItem() override { ++begin_work_item_calls; }
  void EndWorkItem() override { ++end_work_item_calls; }

  int do_work_calls = 0;
  int do_idle_work_calls = 0;
  int before_wait_calls = 0;
  int begin_work_item_calls = 0;
  int end_work_item_calls = 0;

 private:
  std::function<NextWorkInfo()> do_work_;
  std::function<void()> on_idle_;
};

class MessagePumpTest : public testing::TestWithParam<MessagePumpType> {
 protected:
  std::unique_ptr<MessagePump> pump_ = MessagePump::Create(GetParam());
};

INSTANTIATE_TEST_SUITE_P(BothPumps, MessagePumpTest,
                         testing::Values(MessagePumpType::kDefault,
                                         MessagePumpType::kIo),
                         [](const testing::TestParamInfo<MessagePumpType>& p) {
                           return p.param == MessagePumpType::kDefault
                                      ? "Default"
                                      : "Libevent";
                         });

TEST_P(MessagePumpTest, QuitInsideDoWorkLeavesRunBeforeAnyFurtherDoWork) {
  ScriptedDelegate delegate([&] {
    pump_->Quit();
    return WorkNow();
  });
  pump_->Run(&delegate);
  EXPECT_EQ(delegate.do_work_calls, 1);
  EXPECT_EQ(delegate.do_idle_work_calls, 0);
}

TEST_P(MessagePumpTest, ImmediateWorkNeverReachesIdleWork) {
  int calls = 0;
  ScriptedDelegate delegate([&] {
    if (++calls == 50)
      pump_->Quit();
    return WorkNow();
  });
  pump_->Run(&delegate);
  EXPECT_EQ(delegate.do_work_calls, 50);
  EXPECT_EQ(delegate.do_idle_work_calls, 0);
  EXPECT_EQ(delegate.before_wait_calls, 0);
}

TEST_P(MessagePumpTest, ScheduleWorkWhileBusyMakesTheNextSleepReturn) {
  int calls = 0;
  ScriptedDelegate delegate([&] {
    if (++calls == 1) {
      // Work arrives while the pump is busy: the wake-up must not be lost.
      pump_->ScheduleWork();
      return NoDelayedWork();
    }
    pump_->Quit();
    return NoDelayedWork();
  });
  pump_->Run(&delegate);
  EXPECT_EQ(delegate.do_work_calls, 2);
}

TEST_P(MessagePumpTest, ScheduleWorkFromAnotherThreadWakesASleepingPump) {
  std::atomic<bool> idle{false};
  std::atomic<bool> posted{false};
  std::atomic<int64_t> posted_at_us{0};
  MonotonicTime posted_at;
  MonotonicTime woken_at;

  // With no delayed work the pump sleeps until someone calls ScheduleWork;
  // only the poster does.
  ScriptedDelegate delegate(
      [&] {
        if (posted.load(std::memory_order_acquire)) {
          woken_at = MonotonicTime::Now();
          posted_at = MonotonicTime::FromInternalValue(
              posted_at_us.load(std::memory_order_relaxed));
          pump_->Quit();
        }
        return NoDelayedWork();
      },
      [&] { idle.store(true, std::memory_order_release); });

  std::thread poster([&] {
    while (!idle.load(std::memory_order_acquire))
      std::this_thread::yield();
    // Give the pump time to really block.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    posted_at_us.store(MonotonicTime::Now().ToInternalValue(),
                       std::memory_order_relaxed);
    posted.store(true, std::memory_order_release);
    pump_->ScheduleWork();
  });
  pump_->Run(&delegate);
  poster.join();

  EXPECT_GE(woken_at, posted_at);
  // One DoWork before sleeping and one after the wake-up; a busy loop would
  // have made many more.
  EXPECT_EQ(delegate.do_work_calls, 2);
  EXPECT_EQ(delegate.before_wait_calls,
            GetParam() == MessagePumpType::kDefault ? 0 : 1);
}

TEST_P(MessagePumpTest, DelayedWakeUpDoesNotFireEarly) {
  const Duration delay = Duration::FromMilliseconds(100);
  MonotonicTime due;
  std::vector<MonotonicTime> calls;
  ScriptedDelegate delegate([&] {
    const MonotonicTime now = MonotonicTime::Now();
    calls.push_back(now);
    if (due.is_null()) {
      due = now + delay;
      return NextWorkInfo{due, now};
    }
    pump_->Quit();
    return NoDelayedWork();
  });
  pump_->Run(&delegate);

  ASSERT_EQ(calls.size(), 2u);
  // The only wake-up is the timer's, and it comes no sooner than due.
  EXPECT_GE(calls[1], due);
  EXPECT_LT(calls[1] - due, Duration::FromSeconds(2));
  EXPECT_EQ(delegate.do_idle_work_calls, 1);
}

TEST_P(MessagePumpTest, DelayedWorkTimeInThePastWakesAtOnce) {
  MonotonicTime first_call;
  MonotonicTime second_call;
  ScriptedDelegate delegate([&] {
    const MonotonicTime now = MonotonicTime::Now();
    if (first_call.is_null()) {
      first_call = now;
      // Due a second ago: a negative timeout must become an immediate one.
      return NextWorkInfo{now - Duration::FromSeconds(1), now};
    }
    second_call = now;
    pump_->Quit();
    return NoDelayedWork();
  });
  pump_->Run(&delegate);
  EXPECT_EQ(delegate.do_work_calls, 2);
  EXPECT_LT(second_call - first_call, Duration::FromMilliseconds(500));
}

TEST_P(MessagePumpTest, NestedRunIsQuitIndependently) {
  int outer_calls = 0;
  int inner_calls = 0;
  ScriptedDelegate inner([&] {
    ++inner_calls;
    pump_->Quit();
    return WorkNow();
  });
  ScriptedDelegate outer([&] {
    ++outer_calls;
    if (outer_calls == 1) {
      pump_->Run(&inner);
      // Only the inner run ended; the outer one keeps going.
      return WorkNow();
    }
    pump_->Quit();
    return WorkNow();
  });
  pump_->Run(&outer);
  EXPECT_EQ(inner_calls, 1);
  EXPECT_EQ(outer_calls, 2);
}

// Runs the pump on its own thread while the test thread watches.
TEST_P(MessagePumpTest, IdlePumpUsesNoProcessorTime) {
  std::atomic<bool> stop{false};
  ThreadCpuTime cpu_at_sleep;
  ThreadCpuTime cpu_at_wake;
  ScriptedDelegate delegate([&] {
    if (stop.load(std::memory_order_acquire)) {
      cpu_at_wake = ThreadCpuTime::Now();
      pump_->Quit();
      return NoDelayedWork();
    }
    cpu_at_sleep = ThreadCpuTime::Now();
    // Delayed work far away, so the pump sleeps on its timer path too.
    return DelayedWorkAt(MonotonicTime::Now() + Duration::FromSeconds(30));
  });

  std::thread pump_thread([&] { pump_->Run(&delegate); });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  stop.store(true, std::memory_order_release);
  pump_->ScheduleWork();
  pump_thread.join();

  // A sleeping pump costs nothing; allow generously for scheduling noise.
  EXPECT_LT(cpu_at_wake - cpu_at_sleep, Duration::FromMilliseconds(20));
  EXPECT_LE(delegate.do_work_calls, 3);
}

TEST(MessagePumpSleepDurationTest, ClampsToZeroAndOneDay) {
  const MonotonicTime now = MonotonicTime::FromInternalValue(1'000'000'000);
  const Duration one_day = Duration::FromMicroseconds(86'400'000'000);
  struct Case {
    MonotonicTime next_work_time;
    Duration expected;
  } cases[] = {
      {now + Duration::FromMilliseconds(5), Duration::FromMilliseconds(5)},
      {now, Duration()},
      {now - Duration::FromSeconds(3), Duration()},
      {MonotonicTime::FromInternalValue(1), Duration()},
      {now + Duration::FromDays(3), one_day},
      {now + one_day, one_day},
      {MonotonicTime::Max() - Duration::FromMicroseconds(1), one_day},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(internal::PumpSleepDuration(c.next_work_time, now), c.expected)
        << c.next_work_time;
  }
}

TEST(MessagePumpSleepDurationTest, NullRecentNowMeansTheClockNow) {
  const MonotonicTime due = MonotonicTime::Now() + Duration::FromSeconds(10);
  const Duration sleep = internal::PumpSleepDuration(due, MonotonicTime());
  EXPECT_GT(sleep, Duration::FromSeconds(9));
  EXPECT_LE(sleep, Duration::FromSeconds(10));
}

TEST(MessagePumpCreateTest, MakesThePumpOfEachType) {
  EXPECT_NE(dynamic_cast<MessagePumpDefault*>(
                MessagePump::Create(MessagePumpType::kDefault).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<MessagePumpLibevent*>(
                MessagePump::Create(MessagePumpType::kIo).get()),
            nullptr);
  EXPECT_EQ(MessagePump::Create(MessagePumpType::kCustom), nullptr);
  // No UI pump factory is registered: a UI thread gets an I/O pump.
  EXPECT_NE(dynamic_cast<MessagePumpLibevent*>(
                MessagePump::Create(MessagePumpType::kUi).get()),
            nullptr);
}

TEST(MessagePumpCreateTest, UiTypeUsesTheRegisteredFactory) {
  MessagePump::RegisterUiPumpFactory(
      []() -> std::unique_ptr<MessagePump> {
        return std::make_unique<MessagePumpDefault>();
      });
  EXPECT_NE(dynamic_cast<MessagePumpDefault*>(
                MessagePump::Create(MessagePumpType::kUi).get()),
            nullptr);
  MessagePump::RegisterUiPumpFactory(nullptr);
  EXPECT_NE(dynamic_cast<MessagePumpLibevent*>(
                MessagePump::Create(MessagePumpType::kUi).get()),
            nullptr);
}

// Between DoWorks the pump runs a non-blocking libevent pass, bracketed as
// a work item, only while a wake-up is pending: its event base holds
// nothing else that could be ready.
TEST(MessagePumpLibeventTest, PassesOverTheEventBaseOnlyForAPendingWakeUp) {
  struct Case {
    const char* name;
    bool wake_up_before_run;
    int passes;
  };
  const Case kCases[] = {
      {"nothing pending", false, 0},
      {"a wake-up pending", true, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MessagePumpLibevent pump;
    if (c.wake_up_before_run)
      pump.ScheduleWork();
    int calls = 0;
    ScriptedDelegate delegate([&] {
      if (++calls == 4)
        pump.Quit();
      return WorkNow();
    });
    pump.Run(&delegate);
    EXPECT_EQ(delegate.do_work_calls, 4);
    EXPECT_EQ(delegate.begin_work_item_calls, c.passes);
    EXPECT_EQ(delegate.end_work_item_calls, c.passes);
  }
}

// However many ScheduleWork calls arrive while a wake-up is pending, the
// pump wakes once for them: one byte is written and the wake-up drains the
// pipe, so no stale bytes cause later spurious DoWorks.
TEST(MessagePumpLibeventTest, WakeUpsWhilePendingWakeThePumpOnce) {
  MessagePumpLibevent pump;
  for (int i = 0; i < 100; ++i)
    pump.ScheduleWork();
  ScriptedDelegate delegate([] { return NoDelayedWork(); },
                            [&] { pump.Quit(); });
  pump.Run(&delegate);
  // The first DoWork, then the one after the wake-up's pass; idle work
  // then quits instead of sleeping.
  EXPECT_EQ(delegate.do_work_calls, 2);
  EXPECT_EQ(delegate.begin_work_item_calls, 1);
  EXPECT_EQ(delegate.do_idle_work_calls, 1);
  EXPECT_EQ(delegate.before_wait_calls, 0);
}

TEST(MessagePumpLibeventTest, ManyWakeUpsFromManyThreadsAreAllAbsorbed) {
  MessagePumpLibevent pump;
  std::atomic<int> done_posters{0};
  constexpr int kPosters = 4;
  constexpr int kWakeUpsEach = 20000;  // More than a pipe holds.
  ScriptedDelegate delegate([&] {
    if (done_posters.load(std::memory_order_acquire) == kPosters)
      pump.Quit();
    return NoDelayedWork();
  });
  std::vector<std::thread> posters;
  for (int i = 0; i < kPosters; ++i) {
    posters.emplace_back([&] {
      for (int j = 0; j < kWakeUpsEach; ++j)
        pump.ScheduleWork();
      done_posters.fetch_add(1, std::memory_order_release);
      pump.ScheduleWork();
    });
  }
  pump.Run(&delegate);
  for (std::thread& poster : posters)
    poster.join();
  EXPECT_EQ(done_posters.load(), kPosters);
}

// Makes every later pipe2(..., O_CLOEXEC | O_NONBLOCK) of this process fail
// with EMFILE, as when the process is out of descriptors. Other calls,
// including the sanitizers' own pipes, are untouched.
void FailNonBlockingPipes() {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pipe2, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
               offsetof(struct seccomp_data, args[1])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, O_CLOEXEC | O_NONBLOCK, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EMFILE & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {sizeof(filter) / sizeof(filter[0]), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    _exit(2);
  }
}

TEST(MessagePumpLibeventDeathTest, MissingWakeUpPipeIsFatal) {
  EXPECT_DEATH(
      {
        FailNonBlockingPipes();
        MessagePumpLibevent pump;
      },
      "Check failed: pipe2\\(fds, O_CLOEXEC \\| O_NONBLOCK\\) == 0");
}

}  // namespace
}  // namespace kelmbase
