#include <atomic>
#include <thread>

#include "agent/base/functional/bind.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/task/sequenced_task_runner_handle.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/test/test_task_runner.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(TaskRunnerHandleTest, ThreadHandleIsAlsoTheSequencedHandle) {
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  EXPECT_FALSE(SequencedTaskRunnerHandle::IsSet());
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  {
    ThreadTaskRunnerHandle handle(runner);
    EXPECT_TRUE(ThreadTaskRunnerHandle::IsSet());
    EXPECT_TRUE(SequencedTaskRunnerHandle::IsSet());
    EXPECT_EQ(ThreadTaskRunnerHandle::Get().get(), runner.get());
    EXPECT_EQ(SequencedTaskRunnerHandle::Get().get(), runner.get());

    bool set_elsewhere = true;
    std::thread other([&] {
      set_elsewhere = ThreadTaskRunnerHandle::IsSet() ||
                      SequencedTaskRunnerHandle::IsSet();
    });
    other.join();
    EXPECT_FALSE(set_elsewhere);
  }
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  EXPECT_FALSE(SequencedTaskRunnerHandle::IsSet());
  // Both references the handle held are released.
  EXPECT_TRUE(runner->HasSingleRef());
}

TEST(TaskRunnerHandleTest, SequencedHandleAlone) {
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  {
    SequencedTaskRunnerHandle handle(runner);
    EXPECT_TRUE(SequencedTaskRunnerHandle::IsSet());
    EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
    EXPECT_EQ(SequencedTaskRunnerHandle::Get().get(), runner.get());
  }
  EXPECT_FALSE(SequencedTaskRunnerHandle::IsSet());
  EXPECT_TRUE(runner->HasSingleRef());
}

TEST(TaskRunnerHandleDeathTest, ThreadHandleGetWithoutHandleIsFatal) {
  EXPECT_DEATH(ThreadTaskRunnerHandle::Get(),
               "Check failed: current.*Error: This caller requires a "
               "single-threaded context \\(i.e. the current task needs to "
               "run from a SingleThreadTaskRunner\\)\\. If you're in a test "
               "refer to //docs/threading_and_tasks_testing.md\\.");
}

TEST(TaskRunnerHandleDeathTest, SequencedHandleGetWithoutHandleIsFatal) {
  EXPECT_DEATH(SequencedTaskRunnerHandle::Get(),
               "Check failed: current.*Error: This caller requires a "
               "sequenced context \\(i.e. the current task needs to run from "
               "a SequencedTaskRunner\\)\\. If you're in a test refer to "
               "//docs/threading_and_tasks_testing.md\\.");
}

// A runner that counts how it is posted to and how it dies.
class RecordingRunner : public SequencedTaskRunner {
 public:
  explicit RecordingRunner(std::atomic<int>* destructs)
      : destructs_(destructs) {}

  bool PostDelayedTask(const Location& from_here, OneShotClosure task,
                       Duration delay) override {
    ++delayed_posts;
    last_delay = delay;
    last_from_here = from_here;
    std::move(task).Run();
    return true;
  }
  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OneShotClosure task,
                                  Duration delay) override {
    ++non_nestable_posts;
    last_delay = delay;
    std::move(task).Run();
    return true;
  }
  bool RunsTasksInCurrentSequence() const override { return true; }

  int delayed_posts = 0;
  int non_nestable_posts = 0;
  Duration last_delay = Duration::FromSeconds(1);
  Location last_from_here;

 private:
  ~RecordingRunner() override = default;
  void OnDestruct() const override {
    destructs_->fetch_add(1);
    SequencedTaskRunner::OnDestruct();
  }

  std::atomic<int>* destructs_;
};

TEST(TaskRunnerTest, PostTaskIsAnUndelayedPostDelayedTask) {
  std::atomic<int> destructs{0};
  auto runner = MakeRefCounted<RecordingRunner>(&destructs);
  bool ran = false;
  const Location here = FROM_HERE;
  EXPECT_TRUE(runner->PostTask(here, BindOneShot([](bool* ran) { *ran = true; },
                                                 &ran)));
  EXPECT_TRUE(ran);
  EXPECT_EQ(runner->delayed_posts, 1);
  EXPECT_EQ(runner->last_delay, Duration());
  EXPECT_EQ(runner->last_from_here.program_counter(), here.program_counter());
}

TEST(TaskRunnerTest, PostDeleteSoonCallsTheDeleterThroughANonNestableTask) {
  std::atomic<int> destructs{0};
  auto runner = MakeRefCounted<RecordingRunner>(&destructs);
  static const void* deleted = nullptr;
  int object = 0;
  EXPECT_TRUE(runner->PostDeleteSoon(
      FROM_HERE, [](const void* object) { deleted = object; }, &object));
  EXPECT_EQ(deleted, &object);
  EXPECT_EQ(runner->non_nestable_posts, 1);
  EXPECT_EQ(runner->delayed_posts, 0);
  EXPECT_EQ(runner->last_delay, Duration());
}

TEST(TaskRunnerTest, LastReleaseGoesThroughOnDestruct) {
  std::atomic<int> destructs{0};
  {
    scoped_refptr<SequencedTaskRunner> runner =
        MakeRefCounted<RecordingRunner>(&destructs);
    scoped_refptr<TaskRunner> second = runner;
    runner.reset();
    EXPECT_EQ(destructs.load(), 0);
  }
  EXPECT_EQ(destructs.load(), 1);
}

TEST(TaskRunnerTest, RefusedPostDestroysTheTaskOnThePostingThread) {
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  runner->SetAcceptingTasks(false);
  auto token = MakeRefCounted<test::TestTaskRunner>();  // Any counted object.
  EXPECT_FALSE(runner->PostTask(
      FROM_HERE,
      BindOneShot([](scoped_refptr<test::TestTaskRunner>) {}, token)));
  EXPECT_TRUE(token->HasSingleRef());
}

}  // namespace
}  // namespace kelmbase
