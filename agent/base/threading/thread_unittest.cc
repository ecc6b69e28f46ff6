#include "agent/base/threading/thread.h"

#include <sys/prctl.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/message_pump/descriptor_watch_scope.h"
#include "agent/base/run_loop.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/task/current_thread.h"
#include "agent/base/task/task_executor.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/test/recording_message_pump.h"
#include "agent/base/time/time.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::string KernelNameOfCurrentThread() {
  char name[16] = {};
  prctl(PR_GET_NAME, name);
  return name;
}

// Records, under a lock, what ran where.
class Journal {
 public:
  void Add(int value) {
    ScopedLock hold(lock_);
    values_.push_back(value);
  }
  std::vector<int> values() const {
    ScopedLock hold(lock_);
    return values_;
  }

 private:
  mutable Lock lock_;
  std::vector<int> values_;
};

// Tells, when destroyed, on which thread that happened.
class DestructionProbe {
 public:
  explicit DestructionProbe(std::atomic<PlatformThreadId>* destroyed_on)
      : destroyed_on_(destroyed_on) {}
  DestructionProbe(DestructionProbe&& other)
      : destroyed_on_(other.destroyed_on_) {
    other.destroyed_on_ = nullptr;
  }
  ~DestructionProbe() {
    if (destroyed_on_) destroyed_on_->store(PlatformThread::CurrentId());
  }

 private:
  std::atomic<PlatformThreadId>* destroyed_on_;
};

class ThreadTest : public testing::TestWithParam<MessagePumpType> {
 protected:
  Thread::Options PumpOptions() const {
    return Thread::Options(GetParam(), 0);
  }

  // Options whose pump counts wake-ups; `*pump` is set on the worker
  // before any task runs.
  Thread::Options RecordingOptions(
      std::atomic<test::RecordingMessagePump*>* pump) const {
    Thread::Options options;
    options.message_pump_factory = BindRepeatable(
        [](MessagePumpType type,
           std::atomic<test::RecordingMessagePump*>* out)
            -> std::unique_ptr<MessagePump> {
          auto recording = std::make_unique<test::RecordingMessagePump>(
              MessagePump::Create(type));
          out->store(recording.get());
          return recording;
        },
        GetParam(), pump);
    return options;
  }
};

TEST_P(ThreadTest, RunnerExistsBeforeTheWorkerAndRunsTasksInOrderThere) {
  const std::string name = "a-thread-with-a-long-name";
  Thread thread(name);
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();
  ASSERT_TRUE(runner);

  Journal journal;
  std::atomic<PlatformThreadId> ran_on{0};
  std::string kernel_name;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(runner->PostTask(
        FROM_HERE, BindOneShot([](Journal* j, int v) { j->Add(v); }, &journal,
                               i)));
  }
  runner->PostTask(FROM_HERE,
                   BindOneShot(
                       [](std::atomic<PlatformThreadId>* id, std::string* out) {
                         id->store(PlatformThread::CurrentId());
                         *out = KernelNameOfCurrentThread();
                         // The worker's own runner handle is the thread's.
                         EXPECT_TRUE(ThreadTaskRunnerHandle::IsSet());
                         EXPECT_NE(GetTaskExecutorForCurrentThread(), nullptr);
                       },
                       &ran_on, &kernel_name));
  thread.Stop();

  std::vector<int> expected;
  for (int i = 0; i < 20; ++i) expected.push_back(i);
  EXPECT_EQ(journal.values(), expected);
  EXPECT_EQ(ran_on.load(), thread.GetThreadId());
  EXPECT_NE(ran_on.load(), PlatformThread::CurrentId());
  EXPECT_EQ(kernel_name, name.substr(0, 15));
}

TEST_P(ThreadTest, AnIoThreadServesDescriptorWatches) {
  Thread thread("io");
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  std::atomic<int> io_thread{-1};
  std::atomic<int> watch_scope{-1};
  thread.GetTaskRunner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](std::atomic<int>* io, std::atomic<int>* scope) {
                       *io = CurrentThread::IsIoThread();
                       *scope = DescriptorWatchScope::GetCurrent() != nullptr;
                     },
                     &io_thread, &watch_scope));
  thread.Stop();
  const int expected = GetParam() == MessagePumpType::kIo;
  EXPECT_EQ(io_thread.load(), expected);
  EXPECT_EQ(watch_scope.load(), expected);
}

TEST_P(ThreadTest, KeepsEachPostersOrder) {
  Thread thread("posters");
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  constexpr int kPosters = 4;
  constexpr int kTasksEach = 500;
  std::vector<std::vector<int>> seen(kPosters);
  {
    std::vector<std::unique_ptr<Thread>> posters;
    for (int p = 0; p < kPosters; ++p) {
      posters.push_back(std::make_unique<Thread>("poster"));
      ASSERT_TRUE(posters.back()->StartConfigured(PumpOptions()));
    }
    scoped_refptr<SingleThreadTaskRunner> target = thread.GetTaskRunner();
    for (int p = 0; p < kPosters; ++p) {
      posters[p]->GetTaskRunner()->PostTask(
          FROM_HERE,
          BindOneShot(
              [](scoped_refptr<SingleThreadTaskRunner> to,
                 std::vector<int>* out) {
                for (int i = 0; i < kTasksEach; ++i) {
                  // Only the worker touches `out`.
                  to->PostTask(FROM_HERE,
                               BindOneShot([](std::vector<int>* o,
                                              int v) { o->push_back(v); },
                                           out, i));
                }
              },
              target, &seen[p]));
    }
    for (auto& poster : posters) poster->Stop();
  }
  thread.Stop();
  for (int p = 0; p < kPosters; ++p) {
    ASSERT_EQ(seen[p].size(), static_cast<size_t>(kTasksEach));
    for (int i = 0; i < kTasksEach; ++i) EXPECT_EQ(seen[p][i], i);
  }
}

TEST_P(ThreadTest, StopRunsReadyWorkDestroysFutureWorkAndRefusesLaterPosts) {
  Thread thread("stopper");
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();

  // Hold the worker so that everything below is queued behind it.
  WaitableEvent release(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  runner->PostTask(FROM_HERE,
                   BindOneShot([](WaitableEvent* e) { e->Wait(); }, &release));
  Journal journal;
  runner->PostDelayedTask(
      FROM_HERE, BindOneShot([](Journal* j) { j->Add(2); }, &journal),
      Duration::FromMilliseconds(1));
  runner->PostTask(FROM_HERE,
                   BindOneShot([](Journal* j) { j->Add(1); }, &journal));
  std::atomic<PlatformThreadId> future_destroyed_on{0};
  std::atomic<bool> future_ran{false};
  runner->PostDelayedTask(
      FROM_HERE,
      BindOneShot([](DestructionProbe, std::atomic<bool>* ran) { *ran = true; },
                  DestructionProbe(&future_destroyed_on), &future_ran),
      Duration::FromHours(1));
  PlatformThread::Sleep(Duration::FromMilliseconds(5));  // The 1 ms is due.
  release.Signal();
  const PlatformThreadId worker = thread.GetThreadId();
  thread.Stop();

  EXPECT_EQ(journal.values(), (std::vector<int>{1, 2}));
  EXPECT_FALSE(future_ran);
  EXPECT_EQ(future_destroyed_on.load(), worker);
  EXPECT_FALSE(thread.IsRunning());

  // After the stop: refused, and the closure dies here.
  std::atomic<PlatformThreadId> late_destroyed_on{0};
  EXPECT_FALSE(thread.GetTaskRunner()->PostTask(
      FROM_HERE,
      BindOneShot([](DestructionProbe) {}, DestructionProbe(&late_destroyed_on))));
  EXPECT_EQ(late_destroyed_on.load(), PlatformThread::CurrentId());

  // A second Stop has nothing to do.
  thread.Stop();
}

TEST_P(ThreadTest, DestroyingAStartedThreadRunsItsQueueAndJoins) {
  std::atomic<bool> ran{false};
  {
    Thread thread("destroyed");
    ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
    thread.GetTaskRunner()->PostTask(
        FROM_HERE, BindOneShot([](std::atomic<bool>* r) {
                     PlatformThread::Sleep(Duration::FromMilliseconds(20));
                     *r = true;
                   },
                   &ran));
  }
  EXPECT_TRUE(ran);
}

TEST_P(ThreadTest, DelayedTasksRunByRunTimeThenPostingOrderAndNeverEarly) {
  Thread thread("delays");
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();
  WaitableEvent release(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  runner->PostTask(FROM_HERE,
                   BindOneShot([](WaitableEvent* e) { e->Wait(); }, &release));

  struct Run {
    char name;
    MonotonicTime earliest;
    MonotonicTime ran;
  };
  Lock lock;
  std::vector<Run> runs;
  WaitableEvent all_ran(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  auto post = [&](char name, Duration delay) {
    const MonotonicTime earliest =
        MonotonicTime::Now() + (delay.is_positive() ? delay : Duration());
    runner->PostDelayedTask(
        FROM_HERE,
        BindOneShot(
            [](Lock* l, std::vector<Run>* r, WaitableEvent* done, char n,
               MonotonicTime e) {
              ScopedLock hold(*l);
              r->push_back(Run{n, e, MonotonicTime::Now()});
              if (r->size() == 5)
                done->Signal();
            },
            &lock, &runs, &all_ran, name, earliest),
        delay);
  };
  // The gaps between the delays are wide so that a poster stalled between
  // two posts on a loaded machine cannot reorder the run times.
  post('A', Duration::FromMilliseconds(300));
  post('B', Duration::FromMilliseconds(150));
  post('C', Duration::FromMilliseconds(150));
  post('D', Duration());
  post('E', Duration::FromMilliseconds(-100));
  release.Signal();
  all_ran.Wait();
  thread.Stop();

  ScopedLock hold(lock);
  std::string order;
  for (const Run& run : runs) {
    order += run.name;
    EXPECT_GE(run.ran, run.earliest) << run.name << " ran early";
  }
  EXPECT_EQ(order, "DEBCA");
}

TEST_P(ThreadTest, AFarDelayedTaskCapsTheSleepAtOneDayAndLeavesTheThreadIdle) {
  std::atomic<test::RecordingMessagePump*> pump{nullptr};
  Thread thread("far");
  ASSERT_TRUE(thread.StartConfigured(RecordingOptions(&pump)));
  WaitableEvent posted(WaitableEvent::ResetPolicy::kManual,
                       WaitableEvent::InitialState::kNotSignaled);
  thread.GetTaskRunner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](WaitableEvent* e) {
                       ThreadTaskRunnerHandle::Get()->PostDelayedTask(
                           FROM_HERE, BindOneShot([] { FAIL(); }),
                           Duration::FromDays(3));
                       e->Signal();
                     },
                     &posted));
  posted.Wait();
  PlatformThread::Sleep(Duration::FromMilliseconds(20));
  const int do_work_before = pump.load()->do_work_count();
  PlatformThread::Sleep(Duration::FromMilliseconds(200));
  // Asleep: no DoWork while the delayed task is far away.
  EXPECT_EQ(pump.load()->do_work_count(), do_work_before);
  const Duration longest = pump.load()->longest_requested_sleep();
  EXPECT_LE(longest, Duration::FromDays(1));
  EXPECT_GT(longest, Duration::FromHours(23));
  thread.Stop();
}

TEST_P(ThreadTest, PostsToABusyWorkerCauseNoWakeUpAndOneToAnIdleWorkerOne) {
  std::atomic<test::RecordingMessagePump*> pump{nullptr};
  Thread thread("coalescing");
  ASSERT_TRUE(thread.StartConfigured(RecordingOptions(&pump)));
  scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();

  WaitableEvent busy(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  WaitableEvent release(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  runner->PostTask(FROM_HERE, BindOneShot(
                                  [](WaitableEvent* b, WaitableEvent* r) {
                                    b->Signal();
                                    r->Wait();
                                  },
                                  &busy, &release));
  busy.Wait();
  const int wake_ups_while_busy = pump.load()->schedule_work_count();
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) {
    runner->PostTask(FROM_HERE,
                     BindOneShot([](std::atomic<int>* r) { ++*r; }, &ran));
  }
  EXPECT_EQ(pump.load()->schedule_work_count(), wake_ups_while_busy);
  release.Signal();

  // Wait until the worker ran everything and went to sleep.
  while (ran.load() < 100) PlatformThread::Sleep(Duration::FromMilliseconds(1));
  PlatformThread::Sleep(Duration::FromMilliseconds(50));
  const int wake_ups_idle = pump.load()->schedule_work_count();
  runner->PostTask(FROM_HERE,
                   BindOneShot([](std::atomic<int>* r) { ++*r; }, &ran));
  while (ran.load() < 101) PlatformThread::Sleep(Duration::FromMilliseconds(1));
  EXPECT_EQ(pump.load()->schedule_work_count(), wake_ups_idle + 1);
  thread.Stop();
}

TEST_P(ThreadTest, RestartsAfterAFailedStartAndAStopWithNothingToJoin) {
  Thread thread("restart");
  Thread::Options huge = PumpOptions();
  huge.stack_size = size_t{1} << 60;
  ASSERT_FALSE(thread.StartConfigured(std::move(huge)));
  // Nothing runs: this asks for a stop that cannot happen.
  thread.StopSoon();
  thread.Stop();

  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  std::atomic<bool> ran{false};
  thread.GetTaskRunner()->PostTask(
      FROM_HERE, BindOneShot([](std::atomic<bool>* r) { *r = true; }, &ran));
  thread.Stop();  // Must post the quit and join, not hang.
  EXPECT_TRUE(ran);

  // And once more after a clean stop.
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  thread.Stop();
}

TEST_P(ThreadTest, RunnerOutlivesTheWorkerAndThenRefusesPosts) {
  Thread thread("runner");
  ASSERT_TRUE(thread.StartConfigured(PumpOptions()));
  scoped_refptr<SingleThreadTaskRunner> before = thread.GetTaskRunner();
  // Readers race the worker's tear-down of its delegate.
  std::atomic<bool> done{false};
  Thread reader("reader");
  ASSERT_TRUE(reader.Start());
  reader.GetTaskRunner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](Thread* t, std::atomic<bool>* d) {
                       while (!d->load()) {
                         scoped_refptr<SingleThreadTaskRunner> r =
                             t->GetTaskRunner();
                         EXPECT_TRUE(r);
                       }
                     },
                     &thread, &done));
  thread.Stop();
  done = true;
  reader.Stop();
  EXPECT_EQ(thread.GetTaskRunner(), before);
  EXPECT_FALSE(before->PostTask(FROM_HERE, BindOneShot([] {})));
}

INSTANTIATE_TEST_SUITE_P(Pumps, ThreadTest,
                         testing::Values(MessagePumpType::kDefault,
                                         MessagePumpType::kIo),
                         [](const testing::TestParamInfo<MessagePumpType>& i) {
                           return i.param == MessagePumpType::kIo
                                      ? std::string("Libevent")
                                      : std::string("Default");
                         });

using ThreadDeathTest = testing::Test;

TEST_F(ThreadDeathTest, DestroyingAStartedNonJoinableThreadIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto thread = std::make_unique<Thread>("detached");
        Thread::Options options;
        options.joinable = false;
        thread->StartConfigured(std::move(options));
        thread.reset();
      },
      "non-joinable");
}

TEST_F(ThreadDeathTest, StoppingOffTheOwningThreadIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Thread thread("owned");
        thread.Start();
        Thread other("other");
        other.Start();
        WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                           WaitableEvent::InitialState::kNotSignaled);
        other.GetTaskRunner()->PostTask(
            FROM_HERE, BindOneShot(
                           [](Thread* t, WaitableEvent* d) {
                             t->StopSoon();
                             d->Signal();
                           },
                           &thread, &done));
        done.Wait();
      },
      "owning thread");
}

}  // namespace
}  // namespace kelmbase
