#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCE_MANAGER_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCE_MANAGER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/message_pump/message_pump_type.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/sequence_manager/task_time_observer.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/task/task_observer.h"
#include "agent/base/time/default_tick_clock.h"
#include "agent/base/time/tick_clock.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {

class TimeDomain;

// Declares, while alive, that work of some priority is pending outside the
// sequence manager; the manager does not run queues of less urgent
// priority meanwhile. Destroying it ends the declaration.
class NativeWorkHandle {
 public:
  virtual ~NativeWorkHandle() = default;
};

// The per-thread scheduler under every task runner: it owns task queues
// and hands their tasks, one at a time, to its thread controller.
//
// Threads: created on any thread, then used on the thread it is bound to;
// the queues' runners post from any thread.
class SequenceManager {
 public:
  // Told when nested run loops begin and end.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnBeginNestedRunLoop() = 0;
    virtual void OnExitNestedRunLoop() = 0;
  };

  struct Settings {
    class Builder;

    Settings() = default;

    // The kind of pump the controller is built for.
    MessagePumpType message_loop_type = MessagePumpType::kDefault;
    // Samples thread CPU time of tasks and reseeds the random generator.
    bool randomised_sampling_enabled = false;
    const TickClock* clock = DefaultTickClock::GetInstance();
    // Stamp every posted task with its posting time.
    bool add_queue_time_to_tasks = false;
  };

  struct MetricRecordingSettings {
    // 0: never sample; 1: every task.
    double task_sampling_rate_for_recording_cpu_time = 0;
  };

  virtual ~SequenceManager() = default;

  // Binds to the calling thread without a pump; the controller then runs
  // the tasks. The thread needs no run-loop delegate: without one it has no
  // nested loops to report.
  virtual void BindToCurrentThread() = 0;
  // The runner of the task running now (new reference), or null.
  virtual scoped_refptr<SingleThreadTaskRunner>
  GetTaskRunnerForCurrentTask() = 0;
  // Hands `message_pump` to the controller and binds to the calling thread.
  virtual void BindToMessagePump(std::unique_ptr<MessagePump> message_pump) = 0;
  virtual void SetObserver(Observer* observer) = 0;
  virtual void AddTaskTimeObserver(TaskTimeObserver* observer) = 0;
  virtual void RemoveTaskTimeObserver(TaskTimeObserver* observer) = 0;
  virtual void RegisterTimeDomain(TimeDomain* time_domain) = 0;
  virtual void UnregisterTimeDomain(TimeDomain* time_domain) = 0;
  virtual TimeDomain* GetRealTimeDomain() const = 0;
  virtual const TickClock* GetTickClock() const = 0;
  virtual MonotonicTime NowTicks() const = 0;
  virtual void SetDefaultTaskRunner(
      scoped_refptr<SingleThreadTaskRunner> task_runner) = 0;
  // Sweeps cancelled tasks and lets queue storage shrink.
  virtual void ReclaimMemory() = 0;
  // True when no task of a quiescence-monitored queue ran since the last
  // call.
  virtual bool GetAndClearSystemIsQuiescentBit() = 0;
  virtual void SetWorkBatchSize(int32_t work_batch_size) = 0;
  virtual void SetTimerSlack(int32_t timer_slack) = 0;
  virtual void EnableCrashKeys(const char* async_stack_crash_key) = 0;
  virtual const MetricRecordingSettings& GetMetricRecordingSettings() const = 0;
  virtual scoped_refptr<TaskQueue> CreateTaskQueue(
      const TaskQueue::Spec& spec) = 0;
  // No task is ready to run now.
  virtual bool IsIdle() = 0;
  virtual size_t GetPendingTaskCount() const = 0;
  // The diagnostic dump with every task, as JSON text.
  virtual std::string DescribeAllPendingTasks() const = 0;
  virtual std::unique_ptr<NativeWorkHandle> CreateNativeWorkHandle(
      TaskQueue::QueuePriority priority) = 0;
  virtual void AddTaskObserver(TaskObserver* task_observer) = 0;
  virtual void RemoveTaskObserver(TaskObserver* task_observer) = 0;
};

// Sets the one field a caller chooses.
class SequenceManager::Settings::Builder {
 public:
  Builder& SetMessagePumpType(MessagePumpType type) {
    settings_.message_loop_type = type;
    return *this;
  }
  Settings Build() const { return settings_; }

 private:
  Settings settings_;
};

// A manager over a thread controller with a message pump, not yet bound to
// a thread: queues can be made at once; tasks run once it is bound
// (BindToMessagePump on its thread).
std::unique_ptr<SequenceManager> CreateUnboundSequenceManager(
    const SequenceManager::Settings& settings = SequenceManager::Settings());

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCE_MANAGER_H_
