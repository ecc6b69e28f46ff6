#include "agent/base/task/sequence_manager/thread_controller_with_message_pump_impl.h"

#include <utility>

#include "agent/base/task/sequence_manager/sequenced_task_source.h"
#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/interned_source_location.h"
#include "agent/base/trace_event/trace_macros.h"
#include "agent/base/trace_event/typed_event.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

trace_event::TraceCategory* Category(
    trace_event::CategoryRegistry::BuiltinIndex index) {
  return trace_event::CategoryRegistry::Builtin(index);
}

constexpr char kRunTaskSlice[] = "ThreadControllerImpl::RunTask";
// The slice's nested message: the interned posting location.
constexpr uint32_t kTaskExecutionField = 5;
constexpr uint32_t kPostedFromIidField = 1;

// Opens the typed slice around a task; true when its category was on, so
// that the caller closes it.
bool BeginRunTaskSlice(const Task& task) {
  trace_event::TraceCategory* const category =
      Category(trace_event::CategoryRegistry::kToplevel);
  if (!KELM_TRACE_CATEGORY_ENABLED(category)) return false;
  trace_event::TypedEventHandle slice = trace_event::BeginTypedEvent(
      trace_event::kPhaseBegin, category, kRunTaskSlice, MonotonicTime(),
      /*explicit_track=*/false);
  if (slice) {
    perfetto::EventContext context = slice.context();
    const Location& posted_from = task.posted_from;
    const uint64_t iid = trace_event::InternedSourceLocation::Get(
        &context, {posted_from.function_name(), posted_from.file_name(),
                   posted_from.line_number()});
    slice.event()
        ->BeginNestedMessage(kTaskExecutionField)
        ->AppendVarInt(kPostedFromIidField, iid);
  }
  return true;
}

void EndRunTaskSlice() {
  trace_event::TraceCategory* const category =
      Category(trace_event::CategoryRegistry::kToplevel);
  if (!KELM_TRACE_CATEGORY_ENABLED(category)) return;
  trace_event::BeginTypedEvent(trace_event::kPhaseEnd, category,
                               kRunTaskSlice, MonotonicTime(),
                               /*explicit_track=*/false);
}

// While it lives, the task's origin is the thread's heap-profiling
// context, when that context is captured at all.
class ScopedHeapTaskContext {
 public:
  explicit ScopedHeapTaskContext(const Task& task) {
    const trace_event::HeapContextCaptureMode mode =
        trace_event::GetHeapContextCaptureMode();
    if (mode == trace_event::HeapContextCaptureMode::kDisabled) [[likely]]
      return;
    tracker_ = trace_event::HeapContextTracker::ForCurrentThread();
    if (!tracker_) return;
    tracker_->PushTaskContext(task.posted_from.file_name());
    with_program_counter_ =
        mode == trace_event::HeapContextCaptureMode::kNativeStack;
    if (with_program_counter_)
      tracker_->PushProgramCounterFrame(task.posted_from.program_counter());
  }
  ScopedHeapTaskContext(const ScopedHeapTaskContext&) = delete;
  ScopedHeapTaskContext& operator=(const ScopedHeapTaskContext&) = delete;
  ~ScopedHeapTaskContext() {
    if (!tracker_) return;
    if (with_program_counter_) tracker_->PopProgramCounterFrame();
    tracker_->PopTaskContext();
  }

 private:
  trace_event::HeapContextTracker* tracker_ = nullptr;
  bool with_program_counter_ = false;
};

}  // namespace

// static
std::unique_ptr<ThreadControllerWithMessagePumpImpl>
ThreadControllerWithMessagePumpImpl::CreateUnbound(
    const SequenceManager::Settings& settings) {
  return std::make_unique<ThreadControllerWithMessagePumpImpl>(settings);
}

ThreadControllerWithMessagePumpImpl::ThreadControllerWithMessagePumpImpl(
    const SequenceManager::Settings& settings)
    : associated_thread_(AssociatedThreadId::CreateUnbound()),
      work_request_coalescer_(associated_thread_),
      clock_(settings.clock) {}

ThreadControllerWithMessagePumpImpl::~ThreadControllerWithMessagePumpImpl() {
  hang_watch_scope_.reset();
  if (per_sequence_storage_is_current_) PerSequenceStorageMap::ClearCurrent();
  per_sequence_storage_.reset();
  pump_.reset();
  power_monitor_.Unregister();
  {
    ScopedLock hold(task_runner_lock_);
    default_task_runner_ = nullptr;
  }
  run_levels_.reset();
  thread_task_runner_handle_.reset();
  // The base destructor unbinds the run-loop delegate from the thread.
}

void ThreadControllerWithMessagePumpImpl::SetWorkBatchSize(
    int32_t work_batch_size) {
  work_batch_size_ = work_batch_size;
}

void ThreadControllerWithMessagePumpImpl::WillQueueTask(
    PendingTask& pending_task, const char* task_queue_name) {
  task_annotator_.MarkQueued("SequenceManager PostTask", pending_task,
                             task_queue_name);
}

void ThreadControllerWithMessagePumpImpl::ScheduleWork() {
  // Only the request that finds the pump bound and idle wakes it; the
  // others are seen by the DoWork that is pending or running.
  if (!work_request_coalescer_.RequestWork()) pump_->ScheduleWork();
}

void ThreadControllerWithMessagePumpImpl::EnsureWorkScheduled() {
  ScheduleWork();
}

void ThreadControllerWithMessagePumpImpl::SetNextDelayedDoWork(
    LazyNow* lazy_now, MonotonicTime run_time) {
  if (run_time == next_delayed_do_work_) return;
  next_delayed_do_work_ = run_time;
  // A far wake-up is split into sleeps of at most a day.
  MonotonicTime capped = lazy_now->Now() + kMaxSleep;
  if (run_time < capped) capped = run_time;
  // While a DoWork is pending or running the pump takes the time from its
  // result instead.
  if (work_request_coalescer_.IsBoundAndIdle())
    pump_->ScheduleDelayedWork(capped);
}

void ThreadControllerWithMessagePumpImpl::SetSequencedTaskSource(
    SequencedTaskSource* source) {
  task_source_ = source;
}

void ThreadControllerWithMessagePumpImpl::SetTimerSlack(int32_t timer_slack) {
  if (pump_) pump_->SetTimerSlack(timer_slack);
}

void ThreadControllerWithMessagePumpImpl::BindToCurrentThread(
    std::unique_ptr<MessagePump> message_pump) {
  CHECK(message_pump);
  associated_thread_->BindToCurrentThread();
  pump_ = std::move(message_pump);
  work_counter_ = ThreadWorkCounter::ForCurrentThread();
  RunLoop::Delegate::Bind();
  PerSequenceStorageMap::SetCurrent(&*per_sequence_storage_);
  per_sequence_storage_is_current_ = true;
  {
    ScopedLock hold(task_runner_lock_);
    if (default_task_runner_) InitializeThreadTaskRunnerHandle();
  }
  // Work requested before the pump existed is replayed once.
  if (!work_request_coalescer_.BindToThread()) pump_->ScheduleWork();
}

void ThreadControllerWithMessagePumpImpl::InitializeThreadTaskRunnerHandle() {
  thread_task_runner_handle_.reset();
  thread_task_runner_handle_ =
      std::make_unique<ThreadTaskRunnerHandle>(default_task_runner_);
  power_monitor_.BindToCurrentThread();
}

void ThreadControllerWithMessagePumpImpl::SetTaskExecutionAllowed(
    bool allowed) {
  if (allowed) {
    // Tasks may have piled up while execution was not allowed.
    work_request_coalescer_.RequestWork();
    pump_->ScheduleWork();
  } else {
    // Requests no longer poke the pump.
    work_request_coalescer_.OnDoWorkStarted();
  }
  task_execution_allowed_ = allowed;
}

bool ThreadControllerWithMessagePumpImpl::IsTaskExecutionAllowed() const {
  return task_execution_allowed_;
}

MessagePump* ThreadControllerWithMessagePumpImpl::GetBoundMessagePump() const {
  return pump_.get();
}

bool ThreadControllerWithMessagePumpImpl::ShouldQuitRunLoopWhenIdle() {
  if (run_levels_->num_run_levels() == 0) return false;
  return ShouldQuitWhenIdle();
}

void ThreadControllerWithMessagePumpImpl::SetDefaultTaskRunner(
    scoped_refptr<SingleThreadTaskRunner> task_runner) {
  ScopedLock hold(task_runner_lock_);
  default_task_runner_ = std::move(task_runner);
  if (associated_thread_->IsBound()) {
    // The handle lives in the bound thread's slots.
    CHECK(associated_thread_->IsBoundToCurrentThread());
    InitializeThreadTaskRunnerHandle();
  }
}

bool ThreadControllerWithMessagePumpImpl::RunsTasksInCurrentSequence() {
  return associated_thread_->IsBoundToCurrentThread();
}

const TickClock* ThreadControllerWithMessagePumpImpl::GetClock() {
  return clock_;
}

scoped_refptr<SingleThreadTaskRunner>
ThreadControllerWithMessagePumpImpl::GetDefaultTaskRunner() {
  ScopedLock hold(task_runner_lock_);
  return default_task_runner_;
}

void ThreadControllerWithMessagePumpImpl::RestoreDefaultTaskRunner() {
  thread_task_runner_handle_.reset();
}

void ThreadControllerWithMessagePumpImpl::AddNestingObserver(
    RunLoop::NestingObserver* observer) {
  nesting_observer_ = observer;
  RunLoop::AddNestingObserverOnCurrentThread(this);
}

void ThreadControllerWithMessagePumpImpl::RemoveNestingObserver(
    RunLoop::NestingObserver* observer) {
  nesting_observer_ = nullptr;
  RunLoop::RemoveNestingObserverOnCurrentThread(this);
}

const scoped_refptr<AssociatedThreadId>&
ThreadControllerWithMessagePumpImpl::GetAssociatedThread() const {
  return associated_thread_;
}

void ThreadControllerWithMessagePumpImpl::OnBeginNestedRunLoop() {
  if (nesting_observer_) nesting_observer_->OnBeginNestedRunLoop();
}

void ThreadControllerWithMessagePumpImpl::OnExitNestedRunLoop() {
  if (nesting_observer_) nesting_observer_->OnExitNestedRunLoop();
}

void ThreadControllerWithMessagePumpImpl::BeginWorkItem() {
  if (HangWatching::IsEnabled() && !hang_watch_scope_)
    hang_watch_scope_.emplace(HangWatchScope::kDefaultHangWatchTime);
  work_counter_->Advance();
  run_levels_->OnTaskStarted();
}

void ThreadControllerWithMessagePumpImpl::EndWorkItem() {
  hang_watch_scope_.reset();
  work_counter_->Advance();
  run_levels_->OnTaskEnded();
}

void ThreadControllerWithMessagePumpImpl::BeforeWait() {
  work_counter_->Advance();
  hang_watch_scope_.reset();
  run_levels_->OnIdle();
}

MessagePump::Delegate::NextWorkInfo
ThreadControllerWithMessagePumpImpl::DoWork() {
  work_request_coalescer_.OnDoWorkStarted();
  LazyNow continuation_lazy_now(clock_);
  const Duration delay_till_next_task = DoWorkImpl(&continuation_lazy_now);

  if (!work_request_coalescer_.OnDoWorkFinished(
          !delay_till_next_task.is_zero())) {
    return NextWorkInfo{MonotonicTime(), MonotonicTime()};
  }

  // The run's time limit applies before anything else: an idle thread
  // must still wake up to end a run that has timed out.
  MonotonicTime next = delay_till_next_task.is_max()
                           ? MonotonicTime::Max()
                           : continuation_lazy_now.Now() + delay_till_next_task;
  if (quit_runloop_after_ < next) {
    next = quit_runloop_after_;
    if (continuation_lazy_now.Now() >= quit_runloop_after_) {
      // Time is up: the idle step ends the run.
      next_delayed_do_work_ = MonotonicTime::Max();
      return NextWorkInfo{MonotonicTime::Max(), MonotonicTime()};
    }
  }
  next_delayed_do_work_ = next;
  if (next.is_max()) return NextWorkInfo{MonotonicTime::Max(), MonotonicTime()};

  const MonotonicTime now = continuation_lazy_now.Now();
  MonotonicTime capped = now + kMaxSleep;
  if (next < capped) capped = next;
  return NextWorkInfo{capped, now};
}

SelectTaskOption ThreadControllerWithMessagePumpImpl::GetSelectTaskOption()
    const {
  return power_monitor_.IsProcessInPowerSuspendState()
             ? SelectTaskOption::kSkipDelayedTask
             : SelectTaskOption::kDefault;
}

Duration ThreadControllerWithMessagePumpImpl::DoWorkImpl(
    LazyNow* continuation_lazy_now) {
  KELM_TRACE_EVENT0(
      Category(trace_event::CategoryRegistry::kDisabledByDefaultSequenceManager),
      "ThreadControllerImpl::DoWork");
  if (!task_execution_allowed_) {
    KELM_TRACE_EVENT0(Category(trace_event::CategoryRegistry::kBase),
                      "ThreadController: application tasks disallowed");
    if (quit_runloop_after_.is_max()) return Duration::Max();
    return quit_runloop_after_ - continuation_lazy_now->Now();
  }

  const SelectTaskOption option = GetSelectTaskOption();
  for (int32_t i = 0; i < work_batch_size_; ++i) {
    Task* task = task_source_->SelectNextTask(option);
    if (!task) break;

    BeginWorkItem();
    // A nested loop inside the task runs application tasks only when its
    // own Run allows them.
    const bool saved_task_execution_allowed = task_execution_allowed_;
    task_execution_allowed_ = false;
    {
      // Spans the run and the manager's bookkeeping after it.
      KELM_TRACE_EVENT0(
          Category(trace_event::CategoryRegistry::
                       kDisabledByDefaultDevtoolsTimeline),
          "RunTask");
      const bool slice_begun = BeginRunTaskSlice(*task);
      {
        ScopedHeapTaskContext heap_context(*task);
        task_annotator_.RunTask("SequenceManager RunTask", *task);
      }
      if (slice_begun) EndRunTaskSlice();
      task_source_->DidRunTask();
    }
    task_execution_allowed_ = saved_task_execution_allowed;
    EndWorkItem();

    if (quit_pending_) return Duration::Max();
  }

  if (quit_pending_) return Duration::Max();
  work_request_coalescer_.OnCheckingForMoreWork();
  return task_source_->DelayTillNextTask(continuation_lazy_now, option);
}

bool ThreadControllerWithMessagePumpImpl::DoIdleWork() {
  KELM_TRACE_EVENT0(Category(trace_event::CategoryRegistry::kSequenceManager),
                    "SequenceManager::DoIdleWork");
  BeginWorkItem();
  if (task_source_->OnSystemIdle()) {
    pump_->ScheduleWork();
    EndWorkItem();
    return false;
  }
  EndWorkItem();
  run_levels_->OnIdle();
  if (!quit_runloop_after_.is_max() && clock_->Now() >= quit_runloop_after_) {
    Quit();
  } else if (ShouldQuitWhenIdle()) {
    Quit();
  }
  return false;
}

void ThreadControllerWithMessagePumpImpl::Run(bool application_tasks_allowed,
                                              Duration timeout) {
  const MonotonicTime saved_quit_runloop_after = quit_runloop_after_;
  quit_runloop_after_ = timeout.is_max() ? MonotonicTime::Max()
                                         : clock_->Now() + timeout;
  run_levels_->OnRunLoopStarted(RunLevelStack::kSelectingNextTask);
  quit_pending_ = false;

  if (application_tasks_allowed && !task_execution_allowed_) {
    // A nested loop that runs application tasks.
    SetTaskExecutionAllowed(true);
    pump_->Run(this);
    SetTaskExecutionAllowed(false);
  } else {
    pump_->Run(this);
  }

  run_levels_->OnRunLoopEnded();
  quit_pending_ = false;
  quit_runloop_after_ = saved_quit_runloop_after;
}

void ThreadControllerWithMessagePumpImpl::Quit() {
  quit_pending_ = true;
  pump_->Quit();
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
