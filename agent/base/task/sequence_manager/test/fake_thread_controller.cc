#include "agent/base/task/sequence_manager/test/fake_thread_controller.h"

#include <utility>

#include "agent/base/run_loop.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/task_annotator.h"

namespace kelmbase {
namespace sequence_manager {

FakeThreadController::FakeThreadController(const TickClock* clock)
    : clock_(clock),
      associated_thread_(internal::AssociatedThreadId::CreateUnbound()) {}

FakeThreadController::~FakeThreadController() = default;

void FakeThreadController::SetWorkBatchSize(int32_t work_batch_size) {}

void FakeThreadController::WillQueueTask(PendingTask& pending_task,
                                         const char* task_queue_name) {
  will_queue_task_count_.fetch_add(1, std::memory_order_relaxed);
  // As a real controller does: the task takes the poster's IPC context and
  // posting chain.
  TaskAnnotator().MarkQueued("SequenceManager PostTask", pending_task,
                             task_queue_name);
}

void FakeThreadController::ScheduleWork() {
  schedule_work_count_.fetch_add(1, std::memory_order_relaxed);
}

void FakeThreadController::SetNextDelayedDoWork(LazyNow* lazy_now,
                                                MonotonicTime run_time) {
  delayed_do_work_requests_.push_back(run_time);
}

void FakeThreadController::SetSequencedTaskSource(
    internal::SequencedTaskSource* source) {
  source_ = source;
}

void FakeThreadController::SetTimerSlack(int32_t timer_slack) {}

void FakeThreadController::BindToCurrentThread(
    std::unique_ptr<MessagePump> message_pump) {
  associated_thread_->BindToCurrentThread();
  pump_ = std::move(message_pump);
}

void FakeThreadController::SetTaskExecutionAllowed(bool allowed) {
  task_execution_allowed_ = allowed;
}

bool FakeThreadController::IsTaskExecutionAllowed() const {
  return task_execution_allowed_;
}

MessagePump* FakeThreadController::GetBoundMessagePump() const {
  return pump_.get();
}

bool FakeThreadController::ShouldQuitRunLoopWhenIdle() {
  return should_quit_when_idle_;
}

void FakeThreadController::SetDefaultTaskRunner(
    scoped_refptr<SingleThreadTaskRunner> task_runner) {
  ScopedLock lock(task_runner_lock_);
  default_task_runner_ = std::move(task_runner);
}

bool FakeThreadController::RunsTasksInCurrentSequence() {
  return associated_thread_->IsBoundToCurrentThread();
}

const TickClock* FakeThreadController::GetClock() { return clock_; }

scoped_refptr<SingleThreadTaskRunner>
FakeThreadController::GetDefaultTaskRunner() {
  ScopedLock lock(task_runner_lock_);
  return default_task_runner_;
}

void FakeThreadController::RestoreDefaultTaskRunner() {
  restore_default_task_runner_called_ = true;
}

void FakeThreadController::AddNestingObserver(
    RunLoop::NestingObserver* observer) {
  nesting_observer_ = observer;
  // As the real controller does: the thread's run loops, when it has any,
  // report their nesting too.
  RunLoop::AddNestingObserverOnCurrentThread(observer);
}

void FakeThreadController::RemoveNestingObserver(
    RunLoop::NestingObserver* observer) {
  nesting_observer_ = nullptr;
  RunLoop::RemoveNestingObserverOnCurrentThread(observer);
}

const scoped_refptr<internal::AssociatedThreadId>&
FakeThreadController::GetAssociatedThread() const {
  return associated_thread_;
}

bool FakeThreadController::RunOneTask() {
  Task* task = source_->SelectNextTask();
  if (!task) return false;
  TaskAnnotator().RunTask("SequenceManager RunTask", *task);
  source_->DidRunTask();
  return true;
}

int FakeThreadController::RunUntilIdle() {
  int ran = 0;
  while (RunOneTask()) ++ran;
  return ran;
}

}  // namespace sequence_manager
}  // namespace kelmbase
