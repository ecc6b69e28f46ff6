#ifndef AGENT_BASE_TEST_TEST_TASK_RUNNER_H_
#define AGENT_BASE_TEST_TEST_TASK_RUNNER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/pending_task.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/task/task_annotator.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace test {

// A fake single-thread task runner over a locked queue, for tests of code
// that needs a runner but no thread running it (handles, scopes). Any
// thread may post; RunUntilIdle runs the tasks, in run-time then posting
// order, on the calling thread. Tests that run tasks on a thread use the
// real executors instead. Non-nestable tasks are
// queued like the others; they are only counted.
class TestTaskRunner : public SingleThreadTaskRunner {
 public:
  TestTaskRunner();

  // RunsTasksInCurrentSequence answers true on the calling thread only.
  void BindToCurrentThread();

  // While not accepting, posts are refused (and the task destroyed at once).
  void SetAcceptingTasks(bool accepting);

  bool PostDelayedTask(const Location& from_here, OneShotClosure task,
                       Duration delay) override;
  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OneShotClosure task,
                                  Duration delay) override;
  bool RunsTasksInCurrentSequence() const override;

  // Takes the task that runs first if it is due by `now`. Otherwise returns
  // false and sets `*next_run_time` to the earliest run time, or to the
  // maximum when nothing is queued.
  bool TakeReadyTask(MonotonicTime now, PendingTask* task,
                     MonotonicTime* next_run_time);

  // Runs ready tasks on the calling thread, including those they post for
  // immediate running, until none is due. Returns how many ran.
  size_t RunUntilIdle();

  // Destroys every queued task on the calling thread, as a queue that shuts
  // down does.
  void DiscardPendingTasks();

  size_t NumPendingTasks() const;
  int NumNonNestablePosts() const;

 private:
  ~TestTaskRunner() override;

  bool Post(const Location& from_here, OneShotClosure task, Duration delay,
            bool nestable);

  mutable Lock lock_;
  // A heap ordered by PendingTask's ordering: the front runs first.
  std::vector<PendingTask> queue_;
  int next_sequence_num_ = 0;
  int non_nestable_posts_ = 0;
  bool accepting_ = true;
  std::atomic<int32_t> bound_thread_id_{0};
  TaskAnnotator annotator_;
};

}  // namespace test
}  // namespace kelmbase

#endif  // AGENT_BASE_TEST_TEST_TASK_RUNNER_H_
