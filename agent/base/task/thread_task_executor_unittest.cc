#include "agent/base/task/thread_task_executor.h"

#include <atomic>
#include <string>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/run_loop.h"
#include "agent/base/task/current_thread.h"
#include "agent/base/task/sequenced_task_runner_handle.h"
#include "agent/base/task/simple_task_executor.h"
#include "agent/base/task/task_executor.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

class ThreadTaskExecutorTest : public testing::TestWithParam<MessagePumpType> {};

TEST_P(ThreadTaskExecutorTest, GivesTheThreadARunnerWithoutRunningALoop) {
  ASSERT_FALSE(ThreadTaskRunnerHandle::IsSet());
  ASSERT_FALSE(CurrentThread::IsSet());
  {
    ThreadTaskExecutor executor(GetParam());
    EXPECT_EQ(ThreadTaskRunnerHandle::Get(), executor.task_runner());
    EXPECT_EQ(SequencedTaskRunnerHandle::Get(), executor.task_runner());
    EXPECT_TRUE(executor.task_runner()->RunsTasksInCurrentSequence());
    EXPECT_TRUE(CurrentThread::IsSet());
    EXPECT_EQ(CurrentThread::IsIoThread(), GetParam() == MessagePumpType::kIo);
    EXPECT_NE(GetTaskExecutorForCurrentThread(), nullptr);

    // Posting through the executor lands on the same queue; nothing runs
    // until a loop does.
    int ran = 0;
    ASSERT_TRUE(GetTaskExecutorForCurrentThread()->PostDelayedTask(
        FROM_HERE, TaskTraits(), BindOneShot([](int* r) { *r += 1; }, &ran),
        Duration()));
    ASSERT_TRUE(executor.task_runner()->PostTask(
        FROM_HERE, BindOneShot([](int* r) { *r += 10; }, &ran)));
    EXPECT_EQ(ran, 0);
    RunLoop run_loop;
    run_loop.QuitWhenIdle();
    run_loop.Run();
    EXPECT_EQ(ran, 11);
  }
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  EXPECT_FALSE(CurrentThread::IsSet());
  EXPECT_EQ(GetTaskExecutorForCurrentThread(), nullptr);
}

TEST_P(ThreadTaskExecutorTest, DestroysQueuedTasksUnrunAndThenRefusesPosts) {
  bool ran = false;
  bool destroyed = false;
  struct Flag {
    bool* destroyed;
    Flag(bool* d) : destroyed(d) {}
    Flag(Flag&& other) : destroyed(other.destroyed) { other.destroyed = nullptr; }
    ~Flag() {
      if (destroyed) *destroyed = true;
    }
  };
  scoped_refptr<SingleThreadTaskRunner> runner;
  {
    ThreadTaskExecutor executor(GetParam());
    runner = executor.task_runner();
    runner->PostTask(FROM_HERE,
                     BindOneShot([](bool* r, Flag) { *r = true; }, &ran,
                                 Flag(&destroyed)));
  }
  EXPECT_FALSE(ran);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(runner->PostTask(FROM_HERE, BindOneShot([] {})));
}

INSTANTIATE_TEST_SUITE_P(Pumps, ThreadTaskExecutorTest,
                         testing::Values(MessagePumpType::kDefault,
                                         MessagePumpType::kIo),
                         [](const testing::TestParamInfo<MessagePumpType>& i) {
                           return i.param == MessagePumpType::kIo
                                      ? std::string("Libevent")
                                      : std::string("Default");
                         });

TEST(SimpleTaskExecutorTest, RestoresTheExecutorItReplaced) {
  ThreadTaskExecutor outer;
  TaskExecutor* const outer_executor = GetTaskExecutorForCurrentThread();
  ASSERT_NE(outer_executor, nullptr);
  {
    SimpleTaskExecutor inner(outer.task_runner());
    EXPECT_EQ(GetTaskExecutorForCurrentThread(), &inner);
    EXPECT_EQ(inner.CreateTaskRunner(TaskTraits()), outer.task_runner());
    EXPECT_EQ(inner.CreateSequencedTaskRunner(TaskTraits()),
              outer.task_runner());
    EXPECT_EQ(inner.CreateSingleThreadTaskRunner(
                  TaskTraits(), SingleThreadTaskRunnerThreadMode::kDedicated),
              outer.task_runner());
  }
  EXPECT_EQ(GetTaskExecutorForCurrentThread(), outer_executor);
}

TEST(ProcessWideExecutorTest, RefusesWithoutAnExecutorAndPostsThroughOne) {
  ASSERT_EQ(ProcessWideExecutor::Get(), nullptr);
  bool destroyed_unrun = true;
  EXPECT_FALSE(ProcessWideExecutor::PostDelayedTask(
      FROM_HERE, TaskTraits(),
      BindOneShot([](bool* d) { *d = false; }, &destroyed_unrun), Duration()));
  EXPECT_TRUE(destroyed_unrun);

  ThreadTaskExecutor executor;
  SimpleTaskExecutor process_wide(executor.task_runner());
  EXPECT_EQ(ProcessWideExecutor::Set(&process_wide), nullptr);
  int ran = 0;
  EXPECT_TRUE(ProcessWideExecutor::PostDelayedTask(
      FROM_HERE, TaskTraits(), BindOneShot([](int* r) { ++*r; }, &ran),
      Duration()));
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(ProcessWideExecutor::Set(nullptr), &process_wide);
}

}  // namespace
}  // namespace kelmbase
