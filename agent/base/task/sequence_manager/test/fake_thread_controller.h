#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_FAKE_THREAD_CONTROLLER_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_FAKE_THREAD_CONTROLLER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequence_manager/sequenced_task_source.h"
#include "agent/base/task/sequence_manager/thread_controller.h"

namespace kelmbase {
namespace sequence_manager {

// A thread controller for tests: it runs nothing by itself and counts what
// the manager asks of it. Tests drive the manager through RunUntilIdle()
// and RunNested(), on the thread the manager is bound to.
class FakeThreadController : public internal::ThreadController {
 public:
  explicit FakeThreadController(const TickClock* clock);
  ~FakeThreadController() override;

  // ThreadController:
  void SetWorkBatchSize(int32_t work_batch_size) override;
  void WillQueueTask(PendingTask& pending_task,
                     const char* task_queue_name) override;
  void ScheduleWork() override;
  void SetNextDelayedDoWork(LazyNow* lazy_now, MonotonicTime run_time) override;
  void SetSequencedTaskSource(internal::SequencedTaskSource* source) override;
  void SetTimerSlack(int32_t timer_slack) override;
  void BindToCurrentThread(std::unique_ptr<MessagePump> message_pump) override;
  void SetTaskExecutionAllowed(bool allowed) override;
  bool IsTaskExecutionAllowed() const override;
  MessagePump* GetBoundMessagePump() const override;
  bool ShouldQuitRunLoopWhenIdle() override;
  void SetDefaultTaskRunner(
      scoped_refptr<SingleThreadTaskRunner> task_runner) override;
  bool RunsTasksInCurrentSequence() override;
  const TickClock* GetClock() override;
  scoped_refptr<SingleThreadTaskRunner> GetDefaultTaskRunner() override;
  void RestoreDefaultTaskRunner() override;
  void AddNestingObserver(RunLoop::NestingObserver* observer) override;
  void RemoveNestingObserver(RunLoop::NestingObserver* observer) override;
  const scoped_refptr<internal::AssociatedThreadId>& GetAssociatedThread()
      const override;

  // Runs tasks until the source has none ready now; returns how many ran.
  int RunUntilIdle();
  // Runs the next task, if any; true when one ran.
  bool RunOneTask();
  // Pretends a nested run loop runs `body` (which usually calls
  // RunUntilIdle) inside the current task.
  template <typename Body>
  void RunNested(Body&& body) {
    nesting_observer_->OnBeginNestedRunLoop();
    body();
    nesting_observer_->OnExitNestedRunLoop();
  }

  int schedule_work_count() const {
    return schedule_work_count_.load(std::memory_order_relaxed);
  }
  void reset_schedule_work_count() {
    schedule_work_count_.store(0, std::memory_order_relaxed);
  }
  int will_queue_task_count() const {
    return will_queue_task_count_.load(std::memory_order_relaxed);
  }
  // Every run time handed to SetNextDelayedDoWork, in order.
  const std::vector<MonotonicTime>& delayed_do_work_requests() const {
    return delayed_do_work_requests_;
  }
  void clear_delayed_do_work_requests() { delayed_do_work_requests_.clear(); }
  bool has_nesting_observer() const { return nesting_observer_ != nullptr; }
  bool restore_default_task_runner_called() const {
    return restore_default_task_runner_called_;
  }
  void set_should_quit_when_idle(bool value) { should_quit_when_idle_ = value; }

 private:
  const TickClock* const clock_;
  const scoped_refptr<internal::AssociatedThreadId> associated_thread_;
  internal::SequencedTaskSource* source_ = nullptr;
  RunLoop::NestingObserver* nesting_observer_ = nullptr;
  std::unique_ptr<MessagePump> pump_;
  std::atomic<int> schedule_work_count_{0};
  std::atomic<int> will_queue_task_count_{0};
  std::vector<MonotonicTime> delayed_do_work_requests_;
  bool task_execution_allowed_ = true;
  bool should_quit_when_idle_ = false;
  bool restore_default_task_runner_called_ = false;
  Lock task_runner_lock_;
  scoped_refptr<SingleThreadTaskRunner> default_task_runner_;
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_FAKE_THREAD_CONTROLLER_H_
