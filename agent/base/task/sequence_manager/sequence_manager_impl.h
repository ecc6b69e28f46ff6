#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCE_MANAGER_IMPL_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCE_MANAGER_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "agent/base/containers/circular_deque.h"
#include "agent/base/debug/crash_logging.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/observer_list.h"
#include "agent/base/run_loop.h"
#include "agent/base/strings/string_piece.h"
#include "agent/base/task/current_thread.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/sequence_manager/atomic_flag_set.h"
#include "agent/base/memory/cache_line.h"
#include "agent/base/task/sequence_manager/enqueue_order.h"
#include "agent/base/task/sequence_manager/lazy_now.h"
#include "agent/base/task/sequence_manager/real_time_domain.h"
#include "agent/base/task/sequence_manager/sequence_manager.h"
#include "agent/base/task/sequence_manager/sequenced_task_source.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/task_queue_selector.h"
#include "agent/base/task/sequence_manager/thread_controller.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

class WorkQueue;

// Writes "0x<pc> 0x<word>" (upper-case hexadecimal, no leading zeros)
// right-aligned into `buffer`, ending before its last byte, which becomes
// NUL; returns the text. No formatter and no allocation: it runs for every
// task while crash keys are on.
StringPiece FormatAsyncStackCrashKey(const void* program_counter,
                                     const void* backtrace_word,
                                     char (&buffer)[64]);

class SequenceManagerImpl;

// The calling thread's sequence manager (one bound with a pump), or null.
SequenceManagerImpl* GetCurrentSequenceManagerImpl();

// The sequence manager. It owns its thread controller (which owns the
// pump), its task queues once they are unregistered or handed over for
// graceful shutdown, the selector and the real time domain.
//
// Threads: created on any thread and usable for creating queues at once;
// tasks run only after binding. After binding everything runs on the bound
// thread except what posting threads use: GetNextSequenceNumber,
// GetAddQueueTimeToTasks, WillQueueTask, ScheduleWork and the flags of the
// empty-queues flag set. Destroy it on the bound thread.
class SequenceManagerImpl : public SequenceManager,
                            public SequencedTaskSource,
                            public TaskQueueSelector::Observer,
                            public RunLoop::NestingObserver {
 public:
  // A manager over `controller`, not yet bound to a thread.
  static std::unique_ptr<SequenceManagerImpl> CreateUnbound(
      std::unique_ptr<ThreadController> controller,
      const Settings& settings = Settings());

  SequenceManagerImpl(const SequenceManagerImpl&) = delete;
  SequenceManagerImpl& operator=(const SequenceManagerImpl&) = delete;
  ~SequenceManagerImpl() override;

  // SequenceManager:
  void BindToCurrentThread() override;
  scoped_refptr<SingleThreadTaskRunner> GetTaskRunnerForCurrentTask() override;
  void BindToMessagePump(std::unique_ptr<MessagePump> message_pump) override;
  void SetObserver(SequenceManager::Observer* observer) override;
  void AddTaskTimeObserver(TaskTimeObserver* observer) override;
  void RemoveTaskTimeObserver(TaskTimeObserver* observer) override;
  void RegisterTimeDomain(TimeDomain* time_domain) override;
  void UnregisterTimeDomain(TimeDomain* time_domain) override;
  TimeDomain* GetRealTimeDomain() const override;
  const TickClock* GetTickClock() const override;
  MonotonicTime NowTicks() const override;
  void SetDefaultTaskRunner(
      scoped_refptr<SingleThreadTaskRunner> task_runner) override;
  void ReclaimMemory() override;
  bool GetAndClearSystemIsQuiescentBit() override;
  void SetWorkBatchSize(int32_t work_batch_size) override;
  void SetTimerSlack(int32_t timer_slack) override;
  void EnableCrashKeys(const char* async_stack_crash_key) override;
  const MetricRecordingSettings& GetMetricRecordingSettings() const override;
  scoped_refptr<TaskQueue> CreateTaskQueue(
      const TaskQueue::Spec& spec) override;
  bool IsIdle() override;
  size_t GetPendingTaskCount() const override;
  std::string DescribeAllPendingTasks() const override;
  std::unique_ptr<NativeWorkHandle> CreateNativeWorkHandle(
      TaskQueue::QueuePriority priority) override;
  void AddTaskObserver(TaskObserver* task_observer) override;
  void RemoveTaskObserver(TaskObserver* task_observer) override;

  // A queue registered with this manager and its selector.
  std::unique_ptr<TaskQueueImpl> CreateTaskQueueImpl(
      const TaskQueue::Spec& spec);

  // SequencedTaskSource:
  Task* SelectNextTask(
      SelectTaskOption option = SelectTaskOption::kDefault) override;
  void DidRunTask() override;
  Duration DelayTillNextTask(
      LazyNow* lazy_now,
      SelectTaskOption option = SelectTaskOption::kDefault) override;
  bool HasPendingHighResolutionTasks() override;
  bool OnSystemIdle() override;

  // TaskQueueSelector::Observer:
  void OnTaskQueueEnabled(TaskQueueImpl* queue) override;

  // RunLoop::NestingObserver:
  void OnBeginNestedRunLoop() override;
  void OnExitNestedRunLoop() override;

  // Used by task queues.
  void UnregisterTaskQueueImpl(std::unique_ptr<TaskQueueImpl> task_queue);
  void ShutdownTaskQueueGracefully(std::unique_ptr<TaskQueueImpl> task_queue);
  AtomicFlagSet::AtomicFlag GetFlagToRequestReloadForEmptyQueue(
      TaskQueueImpl* task_queue);
  // Any thread.
  EnqueueOrder GetNextSequenceNumber() {
    return enqueue_order_generator_.GenerateNext();
  }
  bool GetAddQueueTimeToTasks() const { return add_queue_time_to_tasks_; }
  void ScheduleWork();
  void WillQueueTask(Task* pending_task, const char* task_queue_name);
  // Manager's thread: the time domains' wake-up requests.
  void SetNextDelayedDoWork(LazyNow* lazy_now, MonotonicTime run_time);

  void AddDestructionObserver(
      CurrentThread::DestructionObserver* destruction_observer);
  void RemoveDestructionObserver(
      CurrentThread::DestructionObserver* destruction_observer);
  bool IsType(MessagePumpType type) const;
  scoped_refptr<SingleThreadTaskRunner> GetDefaultTaskRunner();

  // Writes the task's origin into the async-stack crash key, when enabled.
  void RecordCrashKeys(const PendingTask& pending_task);

  // The diagnostic dump; `selected_work_queue` may be null.
  Value AsValueWithSelectorResult(WorkQueue* selected_work_queue,
                                  bool force_verbose) const;

  WeakPtr<SequenceManagerImpl> GetWeakPtr();
  ThreadController* controller() const { return controller_.get(); }
  const scoped_refptr<AssociatedThreadId>& associated_thread() const {
    return associated_thread_;
  }
  int nesting_depth() const { return main_thread_only_.nesting_depth; }

  // Makes `next` the next enqueue order, so that tests can reach the wrap
  // of the 32-bit sequence numbers. Before any queue is used.
  void SetNextSequenceNumberForTesting(EnqueueOrder next) {
    enqueue_order_generator_.SetNextForTesting(next);
  }
  TaskQueueSelector* selector_for_testing() {
    return &main_thread_only_.selector;
  }

 private:
  class NativeWorkHandleImpl;

  // The task being run at one nesting level.
  struct ExecutingTask {
    ExecutingTask(Task pending_task, TaskQueueImpl* task_queue,
                  TaskQueue::TaskTiming task_timing);

    Task pending_task;
    TaskQueueImpl* task_queue;
    const char* task_queue_name;
    TaskQueue::TaskTiming task_timing;
    TaskQueue::QueuePriority priority;
    TaskType task_type;
  };

  struct MainThreadOnly {
    MainThreadOnly(const scoped_refptr<AssociatedThreadId>& associated_thread,
                   const Settings& settings);
    ~MainThreadOnly();

    int nesting_depth = 0;
    CircularDeque<TaskQueueImpl::DeferredNonNestableTask>
        non_nestable_task_queue;
    debug::CrashKeyString* async_stack_crash_key = nullptr;
    char async_stack_buffer[64] = {};
    std::mt19937_64 random_generator;
    std::uniform_real_distribution<double> uniform_distribution{0.0, 1.0};
    TaskQueueSelector selector;
    ObserverList<TaskObserver> task_observers;
    ObserverList<TaskTimeObserver> task_time_observers;
    std::set<TimeDomain*> time_domains;
    std::unique_ptr<RealTimeDomain> real_time_domain;
    bool memory_reclaim_scheduled = false;
    MonotonicTime next_time_to_reclaim_memory;
    std::set<TaskQueueImpl*> active_queues;
    std::map<TaskQueueImpl*, std::unique_ptr<TaskQueueImpl>>
        queues_to_gracefully_shutdown;
    std::map<TaskQueueImpl*, std::unique_ptr<TaskQueueImpl>> queues_to_delete;
    bool task_was_run_on_quiescence_monitored_queue = false;
    bool nesting_observer_registered = false;
    // A deque keeps the records in place while nested tasks push more.
    std::deque<ExecutingTask> task_execution_stack;
    SequenceManager::Observer* observer = nullptr;
    ObserverList<CurrentThread::DestructionObserver> destruction_observers;
    std::multiset<TaskQueue::QueuePriority> pending_native_work{
        TaskQueue::kBestEffortPriority};
  };

  SequenceManagerImpl(std::unique_ptr<ThreadController> controller,
                      const Settings& settings);

  void CompleteInitializationOnBoundThread();
  bool Validate() const { return memory_corruption_sentinel_ == kSentinel; }

  // Selection, without the trace events around it.
  Task* SelectNextTaskImpl(SelectTaskOption option);
  void ReloadEmptyWorkQueues() const;
  void MoveReadyDelayedTasksToWorkQueues(LazyNow* lazy_now);
  Duration GetDelayTillNextDelayedTask(LazyNow* lazy_now,
                                       SelectTaskOption option) const;
  void CleanUpQueues();
  void MaybeReclaimMemory();
  void RemoveAllCanceledTasksFromFrontOfWorkQueues();

  // Notifications around each task.
  TaskQueue::TaskTiming InitializeTaskTiming(TaskQueueImpl* task_queue);
  bool ShouldRecordCPUTimeForTask();
  void NotifyWillProcessTask(ExecutingTask* executing_task, LazyNow* lazy_now);
  void NotifyDidProcessTask(ExecutingTask* executing_task, LazyNow* lazy_now);

  static constexpr uint64_t kSentinel = 0xdeadbeef;

  const scoped_refptr<AssociatedThreadId> associated_thread_;
  EnqueueOrderGenerator enqueue_order_generator_;
  const std::unique_ptr<ThreadController> controller_;
  const Settings settings_;
  const MetricRecordingSettings metric_recording_settings_;
  const bool add_queue_time_to_tasks_;
  AtomicFlagSet empty_queues_to_reload_;
  uint64_t memory_corruption_sentinel_;
  // Written for every task; apart from what posters read.
  alignas(kCacheLineSize) MainThreadOnly main_thread_only_;
  WeakPtrFactory<SequenceManagerImpl> weak_factory_{this};
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCE_MANAGER_IMPL_H_
