#include "agent/base/task/sequence_manager/sequence_manager_impl.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/json/json_writer.h"
#include "agent/base/rand_util.h"
#include "agent/base/task/sequence_manager/work_queue.h"
#include "agent/base/threading/thread_local_storage.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_arguments.h"
#include "agent/base/trace_event/trace_macros.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

constexpr Duration kReclaimMemoryInterval = Duration::FromSeconds(30);
constexpr Duration kLongTaskTraceEventThreshold =
    Duration::FromMilliseconds(50);
constexpr size_t kDescribeMaxDepth = 200;

// The calling thread's manager; made once per process, never freed.
ThreadLocalStorage::Slot& CurrentManagerSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

trace_event::TraceCategory* SequenceManagerCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kSequenceManager);
}

trace_event::TraceCategory* SequenceManagerDetailCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kDisabledByDefaultSequenceManager);
}

trace_event::TraceCategory* SequenceManagerDebugCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kDisabledByDefaultSequenceManagerDebug);
}

trace_event::TraceCategory* LongTaskCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kSkellat);
}

uint64_t TraceId(const void* object) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(object));
}

// A diagnostic dump carried as a trace argument; formatted only when the
// trace is read.
class TracedBaseValue : public trace_event::ConvertableToTraceFormat {
 public:
  explicit TracedBaseValue(Value value) : value_(std::move(value)) {}

  void AppendAsTraceFormat(std::string* out) const override {
    if (value_.is_none()) {
      out->append("{}");
      return;
    }
    std::string json;
    JsonWriter::Write(value_, &json, kDescribeMaxDepth);
    out->append(json);
  }

 private:
  const Value value_;
};

const char* RunTaskTraceNameForPriority(TaskQueue::QueuePriority priority) {
  switch (priority) {
    case TaskQueue::kControlPriority:
      return "RunControlPriorityTask";
    case TaskQueue::kHighestPriority:
      return "RunHighestPriorityTask";
    case TaskQueue::kVeryHighPriority:
      return "RunVeryHighPriorityTask";
    case TaskQueue::kHighPriority:
      return "RunHighPriorityTask";
    case TaskQueue::kNormalPriority:
      return "RunNormalPriorityTask";
    case TaskQueue::kLowPriority:
      return "RunLowPriorityTask";
    case TaskQueue::kBestEffortPriority:
      return "RunBestEffortPriorityTask";
    default:
      return "RunUnknownPriorityTask";
  }
}

SequenceManager::MetricRecordingSettings InitializeMetricRecordingSettings(
    bool randomised_sampling_enabled) {
  if (!randomised_sampling_enabled) return {0};
  // One thread in ten thousand samples every task; the rest one in 100.
  return {RandomDouble() < 0.0001 ? 1.0 : 0.01};
}

char* PrependHex(char* position, uintptr_t value) {
  do {
    *--position = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  *--position = 'x';
  *--position = '0';
  return position;
}

}  // namespace

StringPiece FormatAsyncStackCrashKey(const void* program_counter,
                                     const void* backtrace_word,
                                     char (&buffer)[64]) {
  char* const end = buffer + sizeof(buffer) - 1;
  *end = '\0';
  char* position = PrependHex(end, reinterpret_cast<uintptr_t>(backtrace_word));
  *--position = ' ';
  position = PrependHex(position, reinterpret_cast<uintptr_t>(program_counter));
  return StringPiece(position, static_cast<size_t>(end - position));
}

// Declares pending native work of one priority while it lives.
class SequenceManagerImpl::NativeWorkHandleImpl final
    : public NativeWorkHandle {
 public:
  NativeWorkHandleImpl(SequenceManagerImpl* sequence_manager,
                       TaskQueue::QueuePriority priority)
      : sequence_manager_(sequence_manager->GetWeakPtr()), priority_(priority) {
    KELM_TRACE_EVENT_ASYNC_BEGIN1(SequenceManagerCategory(), "NativeWork",
                                  TraceId(this), "priority",
                                  TaskQueue::PriorityToString(priority_));
    sequence_manager->main_thread_only_.pending_native_work.insert(priority_);
  }

  ~NativeWorkHandleImpl() override {
    KELM_TRACE_EVENT_ASYNC_END0(SequenceManagerCategory(), "NativeWork",
                                TraceId(this));
    if (!sequence_manager_) return;
    std::multiset<TaskQueue::QueuePriority>& pending =
        sequence_manager_->main_thread_only_.pending_native_work;
    const TaskQueue::QueuePriority previous = *pending.begin();
    pending.erase(pending.find(priority_));
    // Less urgent native work may let queued tasks run now.
    if (*pending.begin() != previous) sequence_manager_->ScheduleWork();
  }

 private:
  WeakPtr<SequenceManagerImpl> sequence_manager_;
  const TaskQueue::QueuePriority priority_;
};

SequenceManagerImpl::ExecutingTask::ExecutingTask(
    Task task, TaskQueueImpl* task_queue, TaskQueue::TaskTiming task_timing)
    : pending_task(std::move(task)),
      task_queue(task_queue),
      task_queue_name(task_queue->GetName()),
      task_timing(task_timing),
      priority(task_queue->GetQueuePriority()),
      task_type(pending_task.task_type) {}

SequenceManagerImpl::MainThreadOnly::MainThreadOnly(
    const scoped_refptr<AssociatedThreadId>& associated_thread,
    const Settings& settings)
    : random_generator(5489u),
      selector(associated_thread),
      real_time_domain(std::make_unique<RealTimeDomain>()) {
  if (settings.randomised_sampling_enabled)
    random_generator.seed(RandomUint64());
}

SequenceManagerImpl::MainThreadOnly::~MainThreadOnly() = default;

// static
std::unique_ptr<SequenceManagerImpl> SequenceManagerImpl::CreateUnbound(
    std::unique_ptr<ThreadController> controller, const Settings& settings) {
  return std::unique_ptr<SequenceManagerImpl>(
      new SequenceManagerImpl(std::move(controller), settings));
}

SequenceManagerImpl* GetCurrentSequenceManagerImpl() {
  return static_cast<SequenceManagerImpl*>(CurrentManagerSlot().Get());
}

SequenceManagerImpl::SequenceManagerImpl(
    std::unique_ptr<ThreadController> controller, const Settings& settings)
    : associated_thread_(controller->GetAssociatedThread()),
      controller_(std::move(controller)),
      settings_(settings),
      metric_recording_settings_(InitializeMetricRecordingSettings(
          settings.randomised_sampling_enabled)),
      add_queue_time_to_tasks_(settings.add_queue_time_to_tasks),
      empty_queues_to_reload_(associated_thread_),
      memory_corruption_sentinel_(kSentinel),
      main_thread_only_(associated_thread_, settings_) {
  KELM_TRACE_EVENT_OBJECT_CREATED_WITH_ID(SequenceManagerDetailCategory(),
                                          "SequenceManager", TraceId(this));
  main_thread_only_.selector.SetTaskQueueSelectorObserver(this);
  main_thread_only_.next_time_to_reclaim_memory =
      settings_.clock->Now() + kReclaimMemoryInterval;
  RegisterTimeDomain(main_thread_only_.real_time_domain.get());
  controller_->SetSequencedTaskSource(this);
}

SequenceManagerImpl::~SequenceManagerImpl() {
  KELM_TRACE_EVENT_OBJECT_DELETED_WITH_ID(SequenceManagerDetailCategory(),
                                          "SequenceManager", TraceId(this));
  // One queue at a time, each out of the set before it is unregistered:
  // the tasks that unregistering destroys may shut other queues down.
  std::set<TaskQueueImpl*>& active_queues = main_thread_only_.active_queues;
  while (!active_queues.empty()) {
    TaskQueueImpl* queue = *active_queues.begin();
    active_queues.erase(active_queues.begin());
    main_thread_only_.selector.RemoveQueue(queue);
    queue->UnregisterTaskQueue();
  }
  controller_->RestoreDefaultTaskRunner();
  {
    std::map<TaskQueueImpl*, std::unique_ptr<TaskQueueImpl>> doomed;
    doomed.swap(main_thread_only_.queues_to_gracefully_shutdown);
  }
  main_thread_only_.selector.SetTaskQueueSelectorObserver(nullptr);
  if (main_thread_only_.nesting_observer_registered)
    controller_->RemoveNestingObserver(this);
  for (CurrentThread::DestructionObserver& observer :
       main_thread_only_.destruction_observers) {
    observer.WillDestroyCurrentThread();
  }
  if (controller_->GetBoundMessagePump() &&
      GetCurrentSequenceManagerImpl() == this)
    CurrentManagerSlot().Set(nullptr);
  weak_factory_.InvalidateWeakPtrs();
}

void SequenceManagerImpl::BindToCurrentThread() {
  associated_thread_->BindToCurrentThread();
  CompleteInitializationOnBoundThread();
}

void SequenceManagerImpl::BindToMessagePump(
    std::unique_ptr<MessagePump> message_pump) {
  controller_->BindToCurrentThread(std::move(message_pump));
  CompleteInitializationOnBoundThread();
}

void SequenceManagerImpl::CompleteInitializationOnBoundThread() {
  controller_->AddNestingObserver(this);
  main_thread_only_.nesting_observer_registered = true;
  if (controller_->GetBoundMessagePump()) CurrentManagerSlot().Set(this);
}

scoped_refptr<SingleThreadTaskRunner>
SequenceManagerImpl::GetTaskRunnerForCurrentTask() {
  if (main_thread_only_.task_execution_stack.empty()) return nullptr;
  return main_thread_only_.task_execution_stack.back().pending_task.task_runner;
}

void SequenceManagerImpl::SetObserver(SequenceManager::Observer* observer) {
  main_thread_only_.observer = observer;
}

void SequenceManagerImpl::AddTaskTimeObserver(TaskTimeObserver* observer) {
  main_thread_only_.task_time_observers.AddObserver(observer);
}

void SequenceManagerImpl::RemoveTaskTimeObserver(TaskTimeObserver* observer) {
  main_thread_only_.task_time_observers.RemoveObserver(observer);
}

void SequenceManagerImpl::RegisterTimeDomain(TimeDomain* time_domain) {
  main_thread_only_.time_domains.insert(time_domain);
  time_domain->OnRegisterWithSequenceManager(this);
}

void SequenceManagerImpl::UnregisterTimeDomain(TimeDomain* time_domain) {
  main_thread_only_.time_domains.erase(time_domain);
}

TimeDomain* SequenceManagerImpl::GetRealTimeDomain() const {
  return main_thread_only_.real_time_domain.get();
}

const TickClock* SequenceManagerImpl::GetTickClock() const {
  return controller_->GetClock();
}

MonotonicTime SequenceManagerImpl::NowTicks() const {
  return controller_->GetClock()->Now();
}

void SequenceManagerImpl::SetDefaultTaskRunner(
    scoped_refptr<SingleThreadTaskRunner> task_runner) {
  controller_->SetDefaultTaskRunner(std::move(task_runner));
}

bool SequenceManagerImpl::GetAndClearSystemIsQuiescentBit() {
  const bool task_was_run =
      main_thread_only_.task_was_run_on_quiescence_monitored_queue;
  main_thread_only_.task_was_run_on_quiescence_monitored_queue = false;
  return !task_was_run;
}

void SequenceManagerImpl::SetWorkBatchSize(int32_t work_batch_size) {
  controller_->SetWorkBatchSize(work_batch_size);
}

void SequenceManagerImpl::SetTimerSlack(int32_t timer_slack) {
  controller_->SetTimerSlack(timer_slack);
}

void SequenceManagerImpl::EnableCrashKeys(const char* async_stack_crash_key) {
  main_thread_only_.async_stack_crash_key = debug::AllocateCrashKey(
      async_stack_crash_key, sizeof(main_thread_only_.async_stack_buffer));
}

const SequenceManager::MetricRecordingSettings&
SequenceManagerImpl::GetMetricRecordingSettings() const {
  return metric_recording_settings_;
}

std::unique_ptr<TaskQueueImpl> SequenceManagerImpl::CreateTaskQueueImpl(
    const TaskQueue::Spec& spec) {
  TimeDomain* time_domain = spec.time_domain
                                ? spec.time_domain
                                : main_thread_only_.real_time_domain.get();
  auto task_queue = std::make_unique<TaskQueueImpl>(this, time_domain, spec);
  main_thread_only_.active_queues.insert(task_queue.get());
  main_thread_only_.selector.AddQueue(task_queue.get());
  return task_queue;
}

scoped_refptr<TaskQueue> SequenceManagerImpl::CreateTaskQueue(
    const TaskQueue::Spec& spec) {
  return MakeRefCounted<TaskQueue>(CreateTaskQueueImpl(spec), spec);
}

void SequenceManagerImpl::UnregisterTaskQueueImpl(
    std::unique_ptr<TaskQueueImpl> task_queue) {
  KELM_TRACE_EVENT1(SequenceManagerCategory(),
                    "SequenceManagerImpl::UnregisterTaskQueue", "queue_name",
                    task_queue->GetName());
  TaskQueueImpl* const queue = task_queue.get();
  // During tear-down a queue may be shut down through its handle after the
  // manager already unregistered it: then it only waits to be destroyed.
  const bool registered = !queue->IsUnregistered();
  if (registered) main_thread_only_.selector.RemoveQueue(queue);
  // Parked first, so that nothing the unregistration runs can find it
  // active.
  main_thread_only_.active_queues.erase(queue);
  main_thread_only_.queues_to_delete[queue] = std::move(task_queue);
  if (registered) queue->UnregisterTaskQueue();
}

void SequenceManagerImpl::ShutdownTaskQueueGracefully(
    std::unique_ptr<TaskQueueImpl> task_queue) {
  TaskQueueImpl* const queue = task_queue.get();
  main_thread_only_.queues_to_gracefully_shutdown[queue] =
      std::move(task_queue);
}

AtomicFlagSet::AtomicFlag
SequenceManagerImpl::GetFlagToRequestReloadForEmptyQueue(
    TaskQueueImpl* task_queue) {
  return empty_queues_to_reload_.AddFlag(BindRepeatable(
      &TaskQueueImpl::ReloadEmptyImmediateWorkQueue, task_queue));
}

void SequenceManagerImpl::ScheduleWork() { controller_->ScheduleWork(); }

void SequenceManagerImpl::WillQueueTask(Task* pending_task,
                                        const char* task_queue_name) {
  controller_->WillQueueTask(*pending_task, task_queue_name);
}

void SequenceManagerImpl::SetNextDelayedDoWork(LazyNow* lazy_now,
                                               MonotonicTime run_time) {
  controller_->SetNextDelayedDoWork(lazy_now, run_time);
}

void SequenceManagerImpl::AddDestructionObserver(
    CurrentThread::DestructionObserver* destruction_observer) {
  main_thread_only_.destruction_observers.AddObserver(destruction_observer);
}

void SequenceManagerImpl::RemoveDestructionObserver(
    CurrentThread::DestructionObserver* destruction_observer) {
  main_thread_only_.destruction_observers.RemoveObserver(destruction_observer);
}

bool SequenceManagerImpl::IsType(MessagePumpType type) const {
  return settings_.message_loop_type == type;
}

scoped_refptr<SingleThreadTaskRunner>
SequenceManagerImpl::GetDefaultTaskRunner() {
  return controller_->GetDefaultTaskRunner();
}

WeakPtr<SequenceManagerImpl> SequenceManagerImpl::GetWeakPtr() {
  return weak_factory_.GetWeakPtr();
}

Task* SequenceManagerImpl::SelectNextTask(SelectTaskOption option) {
  Task* task = SelectNextTaskImpl(option);
  if (!task) return nullptr;
  const ExecutingTask& executing =
      main_thread_only_.task_execution_stack.back();
  KELM_TRACE_EVENT_BEGIN1(SequenceManagerCategory(),
                          RunTaskTraceNameForPriority(executing.priority),
                          "task_type", executing.task_type);
  KELM_TRACE_EVENT_BEGIN0(SequenceManagerCategory(),
                          executing.task_queue_name);
  return task;
}

Task* SequenceManagerImpl::SelectNextTaskImpl(SelectTaskOption option) {
  CHECK(Validate());
  KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                    "SequenceManagerImpl::SelectNextTask");
  ReloadEmptyWorkQueues();
  LazyNow lazy_now(controller_->GetClock());
  MoveReadyDelayedTasksToWorkQueues(&lazy_now);
  if (lazy_now.has_value() &&
      lazy_now.Now() >= main_thread_only_.next_time_to_reclaim_memory) {
    main_thread_only_.memory_reclaim_scheduled = true;
  }

  while (true) {
    WorkQueue* work_queue =
        main_thread_only_.selector.SelectWorkQueueToService(option);
    KELM_TRACE_EVENT_OBJECT_SNAPSHOT_WITH_ID(
        SequenceManagerDebugCategory(), "SequenceManager", TraceId(this),
        std::make_unique<TracedBaseValue>(
            AsValueWithSelectorResult(work_queue, false)));
    if (!work_queue) return nullptr;
    if (work_queue->RemoveAllCanceledTasksFromFront()) continue;

    TaskQueueImpl* const task_queue = work_queue->task_queue();
    if (work_queue->GetFrontTask()->nestable == Nestable::kNonNestable &&
        main_thread_only_.nesting_depth > 0) {
      const TaskQueueImpl::WorkQueueType type =
          work_queue->queue_type() == WorkQueue::QueueType::kImmediate
              ? TaskQueueImpl::WorkQueueType::kImmediate
              : TaskQueueImpl::WorkQueueType::kDelayed;
      main_thread_only_.non_nestable_task_queue.push_back(
          {work_queue->TakeTaskFromWorkQueue(), task_queue, type});
      continue;
    }
    if (task_queue->GetQueuePriority() >
        *main_thread_only_.pending_native_work.begin()) {
      KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                        "SequenceManager.YieldToNative");
      return nullptr;
    }
    main_thread_only_.task_execution_stack.emplace_back(
        work_queue->TakeTaskFromWorkQueue(), task_queue,
        InitializeTaskTiming(task_queue));
    ExecutingTask& executing = main_thread_only_.task_execution_stack.back();
    NotifyWillProcessTask(&executing, &lazy_now);
    return &executing.pending_task;
  }
}

void SequenceManagerImpl::ReloadEmptyWorkQueues() const {
  empty_queues_to_reload_.RunActiveCallbacks();
}

void SequenceManagerImpl::MoveReadyDelayedTasksToWorkQueues(LazyNow* lazy_now) {
  KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                    "SequenceManagerImpl::MoveReadyDelayedTasksToWorkQueues");
  for (TimeDomain* time_domain : main_thread_only_.time_domains) {
    if (time_domain == main_thread_only_.real_time_domain.get()) {
      time_domain->MoveReadyDelayedTasksToWorkQueues(lazy_now);
    } else {
      LazyNow time_domain_lazy_now = time_domain->CreateLazyNow();
      time_domain->MoveReadyDelayedTasksToWorkQueues(&time_domain_lazy_now);
    }
  }
}

void SequenceManagerImpl::DidRunTask() {
  LazyNow lazy_now(controller_->GetClock());
  ExecutingTask& executing = main_thread_only_.task_execution_stack.back();
  KELM_TRACE_EVENT_END0(SequenceManagerCategory(), executing.task_queue_name);
  KELM_TRACE_EVENT_END0(SequenceManagerCategory(),
                        RunTaskTraceNameForPriority(executing.priority));
  NotifyDidProcessTask(&executing, &lazy_now);
  // What is left of the task dies after the stack and the queues are
  // settled.
  Task finished = std::move(executing.pending_task);
  main_thread_only_.task_execution_stack.pop_back();
  if (main_thread_only_.nesting_depth == 0) CleanUpQueues();
}

void SequenceManagerImpl::CleanUpQueues() {
  auto& graceful = main_thread_only_.queues_to_gracefully_shutdown;
  for (auto it = graceful.begin(); it != graceful.end();) {
    if (it->first->IsEmpty()) {
      std::unique_ptr<TaskQueueImpl> queue = std::move(it->second);
      it = graceful.erase(it);
      UnregisterTaskQueueImpl(std::move(queue));
    } else {
      ++it;
    }
  }
  std::map<TaskQueueImpl*, std::unique_ptr<TaskQueueImpl>> doomed;
  doomed.swap(main_thread_only_.queues_to_delete);
}

Duration SequenceManagerImpl::DelayTillNextTask(LazyNow* lazy_now,
                                                SelectTaskOption option) {
  std::optional<TaskQueue::QueuePriority> priority =
      main_thread_only_.selector.GetHighestPendingPriority(option);
  if (!priority) {
    ReloadEmptyWorkQueues();
    priority = main_thread_only_.selector.GetHighestPendingPriority(option);
    if (!priority) return GetDelayTillNextDelayedTask(lazy_now, option);
  }
  if (*priority > *main_thread_only_.pending_native_work.begin())
    return GetDelayTillNextDelayedTask(lazy_now, option);
  return Duration();
}

Duration SequenceManagerImpl::GetDelayTillNextDelayedTask(
    LazyNow* lazy_now, SelectTaskOption option) const {
  if (option == SelectTaskOption::kSkipDelayedTask) return Duration::Max();
  Duration delay = Duration::Max();
  for (TimeDomain* time_domain : main_thread_only_.time_domains) {
    std::optional<Duration> domain_delay;
    if (time_domain == main_thread_only_.real_time_domain.get()) {
      domain_delay = time_domain->DelayTillNextTask(lazy_now);
    } else {
      LazyNow time_domain_lazy_now = time_domain->CreateLazyNow();
      domain_delay = time_domain->DelayTillNextTask(&time_domain_lazy_now);
    }
    if (domain_delay && *domain_delay < delay) delay = *domain_delay;
  }
  return delay;
}

bool SequenceManagerImpl::HasPendingHighResolutionTasks() {
  for (TimeDomain* time_domain : main_thread_only_.time_domains) {
    if (time_domain->HasPendingHighResolutionTasks()) return true;
  }
  return false;
}

bool SequenceManagerImpl::OnSystemIdle() {
  bool have_work_to_do = false;
  for (TimeDomain* time_domain : main_thread_only_.time_domains) {
    if (time_domain->MaybeFastForwardToNextTask(
            controller_->ShouldQuitRunLoopWhenIdle())) {
      have_work_to_do = true;
    }
  }
  if (!have_work_to_do) MaybeReclaimMemory();
  return have_work_to_do;
}

void SequenceManagerImpl::MaybeReclaimMemory() {
  if (!main_thread_only_.memory_reclaim_scheduled) return;
  KELM_TRACE_EVENT0(SequenceManagerCategory(),
                    "SequenceManagerImpl::MaybeReclaimMemory");
  ReclaimMemory();
  main_thread_only_.next_time_to_reclaim_memory =
      NowTicks() + kReclaimMemoryInterval;
  main_thread_only_.memory_reclaim_scheduled = false;
}

void SequenceManagerImpl::ReclaimMemory() {
  std::map<TimeDomain*, MonotonicTime> time_domain_now;
  // Copies: destroying swept tasks may shut queues down.
  std::vector<TaskQueueImpl*> queues(main_thread_only_.active_queues.begin(),
                                     main_thread_only_.active_queues.end());
  for (const auto& entry : main_thread_only_.queues_to_gracefully_shutdown)
    queues.push_back(entry.first);
  for (TaskQueueImpl* queue : queues) {
    TimeDomain* time_domain = queue->GetTimeDomain();
    if (!time_domain) continue;  // Unregistered meanwhile.
    auto [it, inserted] = time_domain_now.try_emplace(time_domain);
    if (inserted) it->second = time_domain->Now();
    queue->ReclaimMemory(it->second);
    queue->delayed_work_queue()->RemoveAllCanceledTasksFromFront();
    queue->immediate_work_queue()->RemoveAllCanceledTasksFromFront();
  }
}

void SequenceManagerImpl::RemoveAllCanceledTasksFromFrontOfWorkQueues() {
  std::vector<TaskQueueImpl*> queues(main_thread_only_.active_queues.begin(),
                                     main_thread_only_.active_queues.end());
  for (TaskQueueImpl* queue : queues) {
    if (queue->IsUnregistered()) continue;
    queue->delayed_work_queue()->RemoveAllCanceledTasksFromFront();
    queue->immediate_work_queue()->RemoveAllCanceledTasksFromFront();
  }
}

bool SequenceManagerImpl::IsIdle() {
  ReloadEmptyWorkQueues();
  RemoveAllCanceledTasksFromFrontOfWorkQueues();
  return !main_thread_only_.selector.GetHighestPendingPriority();
}

size_t SequenceManagerImpl::GetPendingTaskCount() const {
  size_t count = 0;
  for (const TaskQueueImpl* queue : main_thread_only_.active_queues)
    count += queue->GetNumberOfPendingTasks();
  return count;
}

std::string SequenceManagerImpl::DescribeAllPendingTasks() const {
  std::string json;
  JsonWriter::Write(AsValueWithSelectorResult(nullptr, true), &json,
                    kDescribeMaxDepth);
  return json;
}

std::unique_ptr<NativeWorkHandle> SequenceManagerImpl::CreateNativeWorkHandle(
    TaskQueue::QueuePriority priority) {
  return std::make_unique<NativeWorkHandleImpl>(this, priority);
}

void SequenceManagerImpl::AddTaskObserver(TaskObserver* task_observer) {
  main_thread_only_.task_observers.AddObserver(task_observer);
}

void SequenceManagerImpl::RemoveTaskObserver(TaskObserver* task_observer) {
  main_thread_only_.task_observers.RemoveObserver(task_observer);
}

void SequenceManagerImpl::OnTaskQueueEnabled(TaskQueueImpl* queue) {
  if (queue->HasTaskToRunImmediately() && !queue->BlockedByFence())
    ScheduleWork();
}

void SequenceManagerImpl::OnBeginNestedRunLoop() {
  ++main_thread_only_.nesting_depth;
  if (main_thread_only_.observer)
    main_thread_only_.observer->OnBeginNestedRunLoop();
}

void SequenceManagerImpl::OnExitNestedRunLoop() {
  --main_thread_only_.nesting_depth;
  if (main_thread_only_.nesting_depth == 0) {
    LazyNow lazy_now(controller_->GetClock());
    auto& deferred_tasks = main_thread_only_.non_nestable_task_queue;
    // From the back onto the fronts: the tasks return in the order in
    // which they were deferred.
    while (!deferred_tasks.empty()) {
      TaskQueueImpl::DeferredNonNestableTask deferred =
          std::move(deferred_tasks.back());
      deferred_tasks.pop_back();
      if (!deferred.task.queue_time.is_null())
        deferred.task.queue_time = lazy_now.Now();
      // A queue unregistered while the loop was nested has nowhere to run
      // the task: it is dropped (at the end of this iteration).
      if (deferred.task_queue->IsUnregistered()) continue;
      deferred.task_queue->RequeueDeferredNonNestableTask(std::move(deferred));
    }
  }
  if (main_thread_only_.observer)
    main_thread_only_.observer->OnExitNestedRunLoop();
}

void SequenceManagerImpl::RecordCrashKeys(const PendingTask& pending_task) {
  if (!main_thread_only_.async_stack_crash_key) return;
  const StringPiece text = FormatAsyncStackCrashKey(
      pending_task.posted_from.program_counter(),
      pending_task.task_backtrace[0], main_thread_only_.async_stack_buffer);
  debug::SetCrashKeyValue(main_thread_only_.async_stack_crash_key, text);
}

TaskQueue::TaskTiming SequenceManagerImpl::InitializeTaskTiming(
    TaskQueueImpl* task_queue) {
  const bool records_wall_time =
      task_queue->RequiresTaskTiming() ||
      (main_thread_only_.nesting_depth == 0 &&
       !main_thread_only_.task_time_observers.empty());
  const bool records_thread_time =
      records_wall_time && ShouldRecordCPUTimeForTask();
  return TaskQueue::TaskTiming(records_wall_time, records_thread_time);
}

bool SequenceManagerImpl::ShouldRecordCPUTimeForTask() {
  const double rate =
      metric_recording_settings_.task_sampling_rate_for_recording_cpu_time;
  if (!(rate > 0)) return false;
  return main_thread_only_.uniform_distribution(
             main_thread_only_.random_generator) < rate;
}

void SequenceManagerImpl::NotifyWillProcessTask(ExecutingTask* executing_task,
                                                LazyNow* lazy_now) {
  KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                    "SequenceManagerImpl::NotifyWillProcessTaskObservers");
  TaskQueueImpl* const queue = executing_task->task_queue;
  const Task& task = executing_task->pending_task;
  RecordCrashKeys(task);
  if (queue->should_monitor_quiescence())
    main_thread_only_.task_was_run_on_quiescence_monitored_queue = true;

  const bool timed = queue->RequiresTaskTiming() ||
                     (main_thread_only_.nesting_depth == 0 &&
                      !main_thread_only_.task_time_observers.empty());
  if (timed) executing_task->task_timing.Start(lazy_now);

  if (!queue->should_notify_observers()) return;
  const bool was_blocked_or_low_priority =
      queue->WasBlockedOrLowPriority(task.enqueue_order());
  {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.WillProcessTaskObservers");
    // An empty list is not iterated: an iterator registers itself with
    // the list, which costs more than the check on every task.
    if (!main_thread_only_.task_observers.empty()) {
      for (TaskObserver& observer : main_thread_only_.task_observers)
        observer.WillProcessTask(task, was_blocked_or_low_priority);
    }
  }
  {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.QueueNotifyWillProcessTask");
    queue->NotifyWillProcessTask(task, was_blocked_or_low_priority);
  }
  if (!timed) return;
  if (main_thread_only_.nesting_depth == 0) {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.WillProcessTaskTimeObservers");
    for (TaskTimeObserver& observer : main_thread_only_.task_time_observers)
      observer.WillProcessTask(executing_task->task_timing.start_time());
  }
  {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.QueueOnTaskStarted");
    queue->OnTaskStarted(task, executing_task->task_timing);
  }
}

void SequenceManagerImpl::NotifyDidProcessTask(ExecutingTask* executing_task,
                                               LazyNow* lazy_now) {
  KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                    "SequenceManagerImpl::NotifyDidProcessTaskObservers");
  TaskQueueImpl* const queue = executing_task->task_queue;
  if (!queue->should_notify_observers()) return;
  const Task& task = executing_task->pending_task;
  TaskQueue::TaskTiming& timing = executing_task->task_timing;
  {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.QueueOnTaskCompleted");
    if (timing.has_wall_time()) queue->OnTaskCompleted(task, &timing, lazy_now);
  }
  const bool started =
      timing.state() != TaskQueue::TaskTiming::State::kNotStarted;
  const bool record_end = queue->RequiresTaskTiming() ||
                          (main_thread_only_.nesting_depth == 0 &&
                           !main_thread_only_.task_time_observers.empty());
  if (record_end && started) timing.RecordTaskEnd(lazy_now);
  if (started && timing.has_wall_time() &&
      main_thread_only_.nesting_depth == 0) {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.DidProcessTaskTimeObservers");
    for (TaskTimeObserver& observer : main_thread_only_.task_time_observers)
      observer.DidProcessTask(timing.start_time(), timing.end_time());
  }
  {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.DidProcessTaskObservers");
    if (!main_thread_only_.task_observers.empty()) {
      for (TaskObserver& observer : main_thread_only_.task_observers)
        observer.DidProcessTask(task);
    }
  }
  {
    KELM_TRACE_EVENT0(SequenceManagerDetailCategory(),
                      "SequenceManager.QueueNotifyDidProcessTask");
    queue->NotifyDidProcessTask(task);
  }
  if (record_end && timing.has_wall_time() &&
      main_thread_only_.nesting_depth == 0 &&
      timing.wall_duration() > kLongTaskTraceEventThreshold) {
    KELM_TRACE_EVENT_INSTANT1(LongTaskCategory(), "LongTask", "duration",
                              timing.wall_duration().InSecondsF());
  }
}

Value SequenceManagerImpl::AsValueWithSelectorResult(
    WorkQueue* selected_work_queue, bool force_verbose) const {
  const MonotonicTime now = NowTicks();
  Value state(Value::Type::DICTIONARY);
  Value active_queues(Value::Type::LIST);
  for (const TaskQueueImpl* queue : main_thread_only_.active_queues)
    active_queues.Append(queue->AsValue(now, force_verbose));
  state.SetKey("active_queues", std::move(active_queues));
  Value shutdown_queues(Value::Type::LIST);
  for (const auto& entry : main_thread_only_.queues_to_gracefully_shutdown)
    shutdown_queues.Append(entry.first->AsValue(now, force_verbose));
  state.SetKey("queues_to_gracefully_shutdown", std::move(shutdown_queues));
  Value queues_to_delete(Value::Type::LIST);
  for (const auto& entry : main_thread_only_.queues_to_delete)
    queues_to_delete.Append(entry.first->AsValue(now, force_verbose));
  state.SetKey("queues_to_delete", std::move(queues_to_delete));
  state.SetKey("selector", main_thread_only_.selector.AsValue());
  if (selected_work_queue) {
    state.SetStringKey("selected_queue",
                       selected_work_queue->task_queue()->GetName());
    state.SetStringKey("work_queue_name", selected_work_queue->name());
  }
  state.SetStringKey("native_work_priority",
                     TaskQueue::PriorityToString(
                         *main_thread_only_.pending_native_work.begin()));
  Value time_domains(Value::Type::LIST);
  for (const TimeDomain* time_domain : main_thread_only_.time_domains)
    time_domains.Append(time_domain->AsValue());
  state.SetKey("time_domains", std::move(time_domains));
  return state;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
