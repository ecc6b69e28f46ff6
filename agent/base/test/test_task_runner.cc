#include "agent/base/test/test_task_runner.h"

#include <algorithm>
#include <utility>

#include "agent/base/threading/platform_thread.h"

namespace kelmbase {
namespace test {

TestTaskRunner::TestTaskRunner() = default;
TestTaskRunner::~TestTaskRunner() = default;

void TestTaskRunner::BindToCurrentThread() {
  bound_thread_id_.store(PlatformThread::CurrentId(),
                         std::memory_order_release);
}

void TestTaskRunner::SetAcceptingTasks(bool accepting) {
  ScopedLock hold(lock_);
  accepting_ = accepting;
}

bool TestTaskRunner::PostDelayedTask(const Location& from_here,
                                     OneShotClosure task, Duration delay) {
  return Post(from_here, std::move(task), delay, /*nestable=*/true);
}

bool TestTaskRunner::PostNonNestableDelayedTask(const Location& from_here,
                                                OneShotClosure task,
                                                Duration delay) {
  return Post(from_here, std::move(task), delay, /*nestable=*/false);
}

bool TestTaskRunner::RunsTasksInCurrentSequence() const {
  return bound_thread_id_.load(std::memory_order_acquire) ==
         PlatformThread::CurrentId();
}

bool TestTaskRunner::Post(const Location& from_here, OneShotClosure task,
                          Duration delay, bool nestable) {
  const MonotonicTime now = MonotonicTime::Now();
  PendingTask pending_task(from_here, std::move(task), now,
                           delay.is_positive() ? now + delay
                                               : MonotonicTime());
  {
    ScopedLock hold(lock_);
    if (accepting_) {
      if (!nestable)
        ++non_nestable_posts_;
      pending_task.sequence_num = next_sequence_num_++;
      annotator_.MarkQueued("TestTaskRunner PostTask", pending_task,
                            "test");
      queue_.push_back(std::move(pending_task));
      std::push_heap(queue_.begin(), queue_.end());
      return true;
    }
  }
  // Refused: the task dies here, on the posting thread, outside the lock.
  return false;
}

bool TestTaskRunner::TakeReadyTask(MonotonicTime now, PendingTask* task,
                                   MonotonicTime* next_run_time) {
  ScopedLock hold(lock_);
  if (queue_.empty()) {
    *next_run_time = MonotonicTime::Max();
    return false;
  }
  const PendingTask& first = queue_.front();
  if (!first.delayed_run_time.is_null() && first.delayed_run_time > now) {
    *next_run_time = first.delayed_run_time;
    return false;
  }
  std::pop_heap(queue_.begin(), queue_.end());
  *task = std::move(queue_.back());
  queue_.pop_back();
  return true;
}

size_t TestTaskRunner::RunUntilIdle() {
  size_t ran = 0;
  PendingTask task;
  MonotonicTime next_run_time;
  while (TakeReadyTask(MonotonicTime::Now(), &task, &next_run_time)) {
    annotator_.RunTask("TestTaskRunner RunTask", task);
    task = PendingTask();
    ++ran;
  }
  return ran;
}

void TestTaskRunner::DiscardPendingTasks() {
  std::vector<PendingTask> discarded;
  {
    ScopedLock hold(lock_);
    discarded.swap(queue_);
  }
  // Destroyed here, outside the lock: a task's bound arguments may post.
}

size_t TestTaskRunner::NumPendingTasks() const {
  ScopedLock hold(lock_);
  return queue_.size();
}

int TestTaskRunner::NumNonNestablePosts() const {
  ScopedLock hold(lock_);
  return non_nestable_posts_;
}

}  // namespace test
}  // namespace kelmbase
