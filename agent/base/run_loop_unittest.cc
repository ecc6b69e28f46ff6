#include "agent/base/run_loop.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/trace_event/trace_log.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/thread_task_executor.h"
#include "agent/base/threading/thread.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// The test thread runs tasks through its executor with a real pump.
class RunLoopTest : public testing::TestWithParam<MessagePumpType> {
 public:
  RunLoopTest() : executor_(GetParam()) {}

  SingleThreadTaskRunner* runner() { return executor_.task_runner().get(); }
  size_t NumPendingTasks() {
    return executor_.sequence_manager()->GetPendingTaskCount();
  }
  bool ShouldQuitWhenIdle() {
    return static_cast<sequence_manager::internal::SequenceManagerImpl*>(
               executor_.sequence_manager())
        ->controller()
        ->ShouldQuitRunLoopWhenIdle();
  }

  void Post(OneShotClosure task) {
    runner()->PostTask(FROM_HERE, std::move(task));
  }

  // A task that appends `value` to order_.
  OneShotClosure Append(int value) {
    return BindOneShot([](std::vector<int>* order,
                          int value) { order->push_back(value); },
                       &order_, value);
  }

  ThreadTaskExecutor executor_;
  std::vector<int> order_;
};

INSTANTIATE_TEST_SUITE_P(BothPumps, RunLoopTest,
                         testing::Values(MessagePumpType::kDefault,
                                         MessagePumpType::kIo),
                         [](const testing::TestParamInfo<MessagePumpType>& p) {
                           return p.param == MessagePumpType::kDefault
                                      ? "Default"
                                      : "Libevent";
                         });

TEST_P(RunLoopTest, QuitBeforeRunReturnsAtOnce) {
  Post(Append(1));
  RunLoop run_loop;
  run_loop.Quit();
  run_loop.Run();
  EXPECT_TRUE(order_.empty());
  EXPECT_EQ(NumPendingTasks(), 1u);
}

TEST_P(RunLoopTest, QuitFromATaskEndsRunAfterThatTask) {
  RunLoop run_loop;
  Post(Append(1));
  Post(BindOneShot([](RunLoop* loop) { loop->Quit(); }, &run_loop));
  Post(Append(2));
  run_loop.Run();
  EXPECT_EQ(order_, (std::vector<int>{1}));
  EXPECT_EQ(NumPendingTasks(), 1u);
}

TEST_P(RunLoopTest, QuitWhenIdleRunsTheQueuedTasksFirst) {
  RunLoop run_loop;
  Post(Append(1));
  Post(BindOneShot(
      [](RunLoop* loop, SingleThreadTaskRunner* runner,
         std::vector<int>* order) {
        loop->QuitWhenIdle();
        // Posted by a task after the request: still runs before idle.
        runner->PostTask(FROM_HERE,
                         BindOneShot([](std::vector<int>* order) {
                           order->push_back(3);
                         }, order));
      },
      &run_loop, runner(), &order_));
  Post(Append(2));
  run_loop.Run();
  EXPECT_EQ(order_, (std::vector<int>{1, 2, 3}));
}

TEST_P(RunLoopTest, DelayedTaskRunsAfterItsDelay) {
  RunLoop run_loop;
  const MonotonicTime start = MonotonicTime::Now();
  MonotonicTime ran_at;
  runner()->PostDelayedTask(
      FROM_HERE,
      BindOneShot([](MonotonicTime* ran_at,
                     RunLoop* loop) {
        *ran_at = MonotonicTime::Now();
        loop->Quit();
      }, &ran_at, &run_loop),
      Duration::FromMilliseconds(30));
  run_loop.Run();
  EXPECT_GE(ran_at - start, Duration::FromMilliseconds(30));
}

TEST_P(RunLoopTest, QuitFromAnotherThreadArrivesAfterTasksQueuedBeforeIt) {
  RunLoop run_loop;
  Post(Append(1));
  Post(Append(2));
  std::thread other([&] { run_loop.Quit(); });
  other.join();
  // Queued after the quit: does not run.
  Post(Append(3));
  run_loop.Run();
  EXPECT_EQ(order_, (std::vector<int>{1, 2}));
  EXPECT_EQ(NumPendingTasks(), 1u);
}

TEST_P(RunLoopTest, QuitWhenIdleFromAnotherThread) {
  RunLoop run_loop;
  Post(Append(1));
  std::thread other([&] { run_loop.QuitWhenIdle(); });
  other.join();
  Post(Append(2));
  run_loop.Run();
  EXPECT_EQ(order_, (std::vector<int>{1, 2}));
}

TEST_P(RunLoopTest, QuitFromAnotherThreadWakesASleepingLoop) {
  RunLoop run_loop;
  WaitableEvent sleeping;
  Post(BindOneShot([](WaitableEvent* sleeping) { sleeping->Signal(); },
                   &sleeping));
  std::thread other([&] {
    sleeping.Wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    run_loop.Quit();
  });
  run_loop.Run();
  other.join();
  SUCCEED();
}

// A quit posted from another thread to a loop that is destroyed before the
// task runs must do nothing (the task holds a weak pointer, not the loop).
TEST_P(RunLoopTest, LateCrossThreadQuitOfADestroyedLoopDoesNothing) {
  auto doomed = std::make_unique<RunLoop>();
  std::thread other([&] {
    doomed->Quit();
    doomed->QuitWhenIdle();
  });
  other.join();
  EXPECT_EQ(NumPendingTasks(), 2u);
  doomed.reset();

  // The stale quits run first and must not reach the new loop either.
  RunLoop run_loop;
  Post(Append(1));
  Post(BindOneShot([](RunLoop* loop) { loop->Quit(); }, &run_loop));
  run_loop.Run();
  EXPECT_EQ(order_, (std::vector<int>{1}));
}

class RecordingNestingObserver : public RunLoop::NestingObserver {
 public:
  void OnBeginNestedRunLoop() override { events.push_back("begin"); }
  void OnExitNestedRunLoop() override { events.push_back("exit"); }
  std::vector<std::string> events;
};

TEST_P(RunLoopTest, QuitOfOuterLoopFromNestedLoopTakesEffectAfterIt) {
  RecordingNestingObserver observer;
  RunLoop::AddNestingObserverOnCurrentThread(&observer);
  RunLoop outer;
  Post(BindOneShot(
      [](RunLoop* outer, RunLoopTest* test) {
        RunLoop inner(RunLoop::Kind::kNestingAllowed);
        test->Post(BindOneShot([](RunLoop* outer) { outer->Quit(); }, outer));
        // The inner loop goes on after the outer loop's Quit.
        test->Post(test->Append(1));
        test->Post(BindOneShot([](RunLoop* inner) { inner->Quit(); }, &inner));
        test->Post(test->Append(2));
        inner.Run();
        test->order_.push_back(10);
      },
      &outer, this));
  outer.Run();
  // The outer loop ended right after the nested one returned: task 2 was
  // left queued.
  EXPECT_EQ(order_, (std::vector<int>{1, 10}));
  EXPECT_EQ(NumPendingTasks(), 1u);
  EXPECT_EQ(observer.events, (std::vector<std::string>{"begin", "exit"}));
  RunLoop::RemoveNestingObserverOnCurrentThread(&observer);
}

TEST_P(RunLoopTest, ShouldQuitWhenIdleFollowsTheInnermostLoop) {
  RunLoop outer;
  std::vector<bool> answers;
  Post(BindOneShot(
      [](RunLoop* outer, RunLoopTest* test, std::vector<bool>* answers) {
        outer->QuitWhenIdle();
        answers->push_back(test->ShouldQuitWhenIdle());
        RunLoop inner(RunLoop::Kind::kNestingAllowed);
        test->Post(BindOneShot(
            [](RunLoopTest* test, std::vector<bool>* answers, RunLoop* inner) {
              answers->push_back(test->ShouldQuitWhenIdle());
              inner->Quit();
            },
            test, answers, &inner));
        inner.Run();
      },
      &outer, this, &answers));
  outer.Run();
  EXPECT_EQ(answers, (std::vector<bool>{true, false}));
  EXPECT_FALSE(ShouldQuitWhenIdle());
}

TEST_P(RunLoopTest, TimeoutScopeQuitsTheRunAndCallsTheHandler) {
  std::vector<int> timeouts;
  RunLoop::TimeoutScope scope(
      Duration::FromMilliseconds(20),
      BindRepeatable([](std::vector<int>* timeouts,
                        const Location& location) {
        timeouts->push_back(location.line_number());
      }, &timeouts));
  RunLoop run_loop;
  const Location here = FROM_HERE;
  run_loop.Run(here);
  EXPECT_EQ(timeouts, (std::vector<int>{here.line_number()}));
}

TEST_P(RunLoopTest, TimeoutIsRevokedWhenRunReturnsFirst) {
  int timeouts = 0;
  {
    RunLoop::TimeoutScope scope(
        Duration::FromMilliseconds(20),
        BindRepeatable([](int* timeouts, const Location&) { ++*timeouts; },
                       &timeouts));
    RunLoop run_loop;
    run_loop.Quit();  // Returns at once: posts no time-out.
    run_loop.Run();
    RunLoop second;
    Post(BindOneShot([](RunLoop* loop) { loop->Quit(); }, &second));
    second.Run();
  }
  // Give a revoked time-out the chance to fire.
  RunLoop waiter;
  runner()->PostDelayedTask(
      FROM_HERE, BindOneShot([](RunLoop* loop) { loop->Quit(); }, &waiter),
      Duration::FromMilliseconds(60));
  waiter.Run();
  EXPECT_EQ(timeouts, 0);
}

TEST_P(RunLoopTest, NonNestableTasksWaitForTheNestedLoopToEnd) {
  RunLoop outer;
  Post(BindOneShot(
      [](RunLoop* outer, RunLoopTest* test) {
        // Non-nestable work waits for the nested loop to end; the rest
        // runs inside it.
        RunLoop inner(RunLoop::Kind::kNestingAllowed);
        test->runner()->PostNonNestableDelayedTask(FROM_HERE, test->Append(2),
                                                   Duration());
        test->Post(test->Append(3));
        test->Post(BindOneShot([](RunLoop* l) { l->QuitWhenIdle(); }, &inner));
        inner.Run();
        test->order_.push_back(20);
        test->Post(BindOneShot([](RunLoop* l) { l->QuitWhenIdle(); }, outer));
      },
      &outer, this));
  outer.Run();
  EXPECT_EQ(order_, (std::vector<int>{3, 20, 2}));
}

TEST(RunLoopWorkerTest, LoopOnAWorkerThreadStopsWhenIdle) {
  Thread worker("worker");
  ASSERT_TRUE(worker.Start());
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) {
    worker.GetTaskRunner()->PostTask(
        FROM_HERE, BindOneShot([](std::atomic<int>* ran) { ++*ran; }, &ran));
  }
  worker.Stop();
  EXPECT_EQ(ran.load(), 100);
}

// A thread without a run-loop delegate has no loops to observe: adding an
// observer there keeps nothing, so a delegate bound later does not tell it
// about its nested loops (an observer added after binding is told). Its
// removal is harmless either way.
TEST(RunLoopNestingObserverTest, AThreadWithoutADelegateKeepsNoObserver) {
  std::thread([] {
    RecordingNestingObserver added_without_delegate;
    RunLoop::AddNestingObserverOnCurrentThread(&added_without_delegate);
    RunLoop::RemoveNestingObserverOnCurrentThread(&added_without_delegate);
    RunLoop::AddNestingObserverOnCurrentThread(&added_without_delegate);

    RecordingNestingObserver added_with_delegate;
    {
      ThreadTaskExecutor executor(MessagePumpType::kDefault);
      RunLoop::AddNestingObserverOnCurrentThread(&added_with_delegate);
      RunLoop outer;
      executor.task_runner()->PostTask(
          FROM_HERE, BindOneShot(
                         [](RunLoop* outer) {
                           RunLoop inner(RunLoop::Kind::kNestingAllowed);
                           inner.QuitWhenIdle();
                           inner.Run();
                           outer->Quit();
                         },
                         &outer));
      outer.Run();
      RunLoop::RemoveNestingObserverOnCurrentThread(&added_with_delegate);
      RunLoop::RemoveNestingObserverOnCurrentThread(&added_without_delegate);
    }
    EXPECT_TRUE(added_without_delegate.events.empty());
    EXPECT_EQ(added_with_delegate.events,
              (std::vector<std::string>{"begin", "exit"}));
  }).join();
}

TEST(RunLoopDeathTest, RunLoopNeedsAThreadTaskRunner) {
  EXPECT_DEATH(RunLoop(), "Check failed: current");
}

// With tracing on, a loop's ends are trace events of one flow, bound by the
// loop.
TEST_P(RunLoopTest, TracedQuitsAndExits) {
  using trace_event::TraceLog;
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(trace_event::TraceRecordingConfig(),
                  TraceLog::kRecordingMode);
  RunLoop early;
  early.Quit();
  early.Run();
  RunLoop idle;
  idle.QuitWhenIdle();
  idle.Run();
  log->SetDisabled(TraceLog::kRecordingMode);

  std::vector<std::pair<std::string, uint32_t>> seen;
  std::vector<uint64_t> bind_ids;
  log->Flush([&](const trace_event::TraceEvent& event) {
    if (std::string(event.category()->category_name()) != "toplevel.flow")
      return;
    seen.emplace_back(event.name(), event.flags());
    bind_ids.push_back(event.bind_id() ^ log->process_hash());
  });
  // The controller's idle step asks whether to quit twice: once through the
  // sequence manager's time domain, once for itself; each yes is an event.
  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"RunLoop::Quit", 0x980},         {"RunLoop_ExitedEarly", 0x880},
      {"RunLoop::QuitWhenIdle", 0x980}, {"RunLoop_ExitedOnIdle", 0x880},
      {"RunLoop_ExitedOnIdle", 0x880},  {"RunLoop_Exited", 0x880},
  };
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(bind_ids.size(), expected.size());
  EXPECT_EQ(bind_ids[0], reinterpret_cast<uintptr_t>(&early));
  EXPECT_EQ(bind_ids[1], reinterpret_cast<uintptr_t>(&early));
  for (size_t i = 2; i < bind_ids.size(); ++i)
    EXPECT_EQ(bind_ids[i], reinterpret_cast<uintptr_t>(&idle)) << i;
}

}  // namespace
}  // namespace kelmbase
