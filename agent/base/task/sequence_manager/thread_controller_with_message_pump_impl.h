#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_WITH_MESSAGE_PUMP_IMPL_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_WITH_MESSAGE_PUMP_IMPL_H_

#include <cstdint>
#include <memory>
#include <optional>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/message_pump/thread_work_counter.h"
#include "agent/base/run_loop.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/per_sequence_storage_map.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/memory/cache_line.h"
#include "agent/base/task/sequence_manager/run_level_stack.h"
#include "agent/base/task/sequence_manager/select_task_option.h"
#include "agent/base/task/sequence_manager/sequence_manager.h"
#include "agent/base/task/sequence_manager/thread_controller.h"
#include "agent/base/task/sequence_manager/thread_controller_power_monitor.h"
#include "agent/base/task/sequence_manager/work_request_coalescer.h"
#include "agent/base/task/task_annotator.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/threading/hang_watcher.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// The thread controller of every thread that runs tasks: the pump's
// delegate (it runs the manager's tasks, one per DoWork, and tells the pump
// how long it may sleep), the thread's run-loop delegate, and the owner of
// the thread's task-runner handle.
//
// Threads: created unbound on any thread, bound once on its thread
// (BindToCurrentThread), destroyed there with its manager. ScheduleWork,
// EnsureWorkScheduled, WillQueueTask, SetDefaultTaskRunner,
// GetDefaultTaskRunner and RunsTasksInCurrentSequence may be called from
// any thread; everything else on the bound thread. However many threads
// post, at most one pump wake-up is sent per idle period.
class ThreadControllerWithMessagePumpImpl : public ThreadController,
                                            public MessagePump::Delegate,
                                            public RunLoop::Delegate,
                                            public RunLoop::NestingObserver {
 public:
  // The longest the pump is told to sleep for delayed work; it then asks
  // again.
  static constexpr Duration kMaxSleep = Duration::FromDays(1);

  static std::unique_ptr<ThreadControllerWithMessagePumpImpl> CreateUnbound(
      const SequenceManager::Settings& settings);

  explicit ThreadControllerWithMessagePumpImpl(
      const SequenceManager::Settings& settings);
  ThreadControllerWithMessagePumpImpl(
      const ThreadControllerWithMessagePumpImpl&) = delete;
  ThreadControllerWithMessagePumpImpl& operator=(
      const ThreadControllerWithMessagePumpImpl&) = delete;
  ~ThreadControllerWithMessagePumpImpl() override;

  // ThreadController:
  void SetWorkBatchSize(int32_t work_batch_size) override;
  void WillQueueTask(PendingTask& pending_task,
                     const char* task_queue_name) override;
  void ScheduleWork() override;
  void SetNextDelayedDoWork(LazyNow* lazy_now, MonotonicTime run_time) override;
  void SetSequencedTaskSource(SequencedTaskSource* source) override;
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
  const scoped_refptr<AssociatedThreadId>& GetAssociatedThread() const override;

  // RunLoop::NestingObserver:
  void OnBeginNestedRunLoop() override;
  void OnExitNestedRunLoop() override;

  // MessagePump::Delegate:
  void BeginWorkItem() override;
  void EndWorkItem() override;
  void BeforeWait() override;
  NextWorkInfo DoWork() override;
  bool DoIdleWork() override;

  // RunLoop::Delegate:
  void Run(bool application_tasks_allowed, Duration timeout) override;
  void Quit() override;
  void EnsureWorkScheduled() override;

  const WorkRequestCoalescer& coalescer_for_testing() const {
    return work_request_coalescer_;
  }
  const RunLevelStack& run_levels_for_testing() const { return *run_levels_; }
  ThreadControllerPowerMonitor* power_monitor_for_testing() {
    return &power_monitor_;
  }

 private:
  // Runs up to a batch of tasks; returns the delay till the next one (0:
  // more now; the largest Duration: none).
  Duration DoWorkImpl(LazyNow* continuation_lazy_now);
  void InitializeThreadTaskRunnerHandle();
  SelectTaskOption GetSelectTaskOption() const;

  const scoped_refptr<AssociatedThreadId> associated_thread_;
  SequencedTaskSource* task_source_ = nullptr;
  RunLoop::NestingObserver* nesting_observer_ = nullptr;
  std::unique_ptr<ThreadTaskRunnerHandle> thread_task_runner_handle_;
  // Posters read the lines above (the virtual tables); the thread writes
  // the fields below for every task, and the coalescer word is shared.
  // Each group starts a line of its own.
  alignas(kCacheLineSize) bool quit_pending_ = false;
  int32_t work_batch_size_ = 1;
  std::optional<RunLevelStack> run_levels_{std::in_place};
  MonotonicTime next_delayed_do_work_ = MonotonicTime::Max();
  MonotonicTime quit_runloop_after_ = MonotonicTime::Max();
  bool task_execution_allowed_ = true;
  Lock task_runner_lock_;
  scoped_refptr<SingleThreadTaskRunner> default_task_runner_;
  alignas(kCacheLineSize) WorkRequestCoalescer work_request_coalescer_;
  alignas(kCacheLineSize) ThreadControllerPowerMonitor power_monitor_;
  std::unique_ptr<MessagePump> pump_;
  TaskAnnotator task_annotator_;
  const TickClock* const clock_;
  ThreadWorkCounter* work_counter_ = nullptr;
  std::optional<PerSequenceStorageMap> per_sequence_storage_{std::in_place};
  bool per_sequence_storage_is_current_ = false;
  std::optional<HangWatchScope> hang_watch_scope_;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_WITH_MESSAGE_PUMP_IMPL_H_
