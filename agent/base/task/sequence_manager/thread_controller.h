#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_H_

#include <cstdint>
#include <memory>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/pending_task.h"
#include "agent/base/run_loop.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/sequence_manager/lazy_now.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/time/tick_clock.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

class SequencedTaskSource;

// What stands between a sequence manager and its thread's message pump: it
// runs the manager's tasks and decides how long the thread sleeps. The
// manager owns it.
//
// Threads: ScheduleWork, SetDefaultTaskRunner, GetDefaultTaskRunner and
// RunsTasksInCurrentSequence from any thread (WillQueueTask from posting
// threads); everything else on the bound thread.
class ThreadController {
 public:
  virtual ~ThreadController() = default;

  // How many tasks one DoWork may run.
  virtual void SetWorkBatchSize(int32_t work_batch_size) = 0;

  // A task was queued (annotates it for tracing and crash reports). Called
  // by posting threads, possibly under a queue's lock.
  virtual void WillQueueTask(PendingTask& pending_task,
                             const char* task_queue_name) = 0;

  // Makes sure the source is asked for work soon. Any thread; coalesces
  // requests so that many posts wake the thread at most once.
  virtual void ScheduleWork() = 0;

  // The earliest delayed work is at `run_time` (the largest time: none).
  virtual void SetNextDelayedDoWork(LazyNow* lazy_now,
                                    MonotonicTime run_time) = 0;

  virtual void SetSequencedTaskSource(SequencedTaskSource* source) = 0;
  virtual void SetTimerSlack(int32_t timer_slack) = 0;

  // Binds to the calling thread, taking `message_pump`.
  virtual void BindToCurrentThread(
      std::unique_ptr<MessagePump> message_pump) = 0;

  virtual void SetTaskExecutionAllowed(bool allowed) = 0;
  virtual bool IsTaskExecutionAllowed() const = 0;
  virtual MessagePump* GetBoundMessagePump() const = 0;
  virtual bool ShouldQuitRunLoopWhenIdle() = 0;

  // Makes `task_runner` the thread's default (its task-runner handles).
  virtual void SetDefaultTaskRunner(
      scoped_refptr<SingleThreadTaskRunner> task_runner) = 0;
  virtual bool RunsTasksInCurrentSequence() = 0;
  virtual const TickClock* GetClock() = 0;
  virtual scoped_refptr<SingleThreadTaskRunner> GetDefaultTaskRunner() = 0;
  // Removes the thread's task-runner handles.
  virtual void RestoreDefaultTaskRunner() = 0;

  virtual void AddNestingObserver(RunLoop::NestingObserver* observer) = 0;
  virtual void RemoveNestingObserver(RunLoop::NestingObserver* observer) = 0;

  // The record of the thread this controller is bound to.
  virtual const scoped_refptr<AssociatedThreadId>& GetAssociatedThread()
      const = 0;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_H_
