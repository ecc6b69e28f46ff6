#include "agent/base/run_loop.h"

#include <optional>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/functional/revocable_closure.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/threading/thread_local_storage.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_macros.h"

namespace kelmbase {

namespace {

ThreadLocalStorage::Slot& DelegateSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

ThreadLocalStorage::Slot& TimeoutScopeSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

RunLoop::Delegate* CurrentDelegate() {
  return static_cast<RunLoop::Delegate*>(DelegateSlot().Get());
}

trace_event::TraceCategory* FlowCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kToplevelFlow);
}

// A loop's trace events form one flow, bound by the loop's address.
uint64_t LoopFlowId(const RunLoop* loop) {
  return reinterpret_cast<uintptr_t>(loop);
}

constexpr uint32_t kFlowIn =
    trace_event::kFlagFlowIn | trace_event::kFlagProcessLocalBindId;
constexpr uint32_t kFlowInOut = trace_event::kFlagFlowIn |
                                trace_event::kFlagFlowOut |
                                trace_event::kFlagProcessLocalBindId;

}  // namespace

RunLoop::Delegate::Delegate() = default;

RunLoop::Delegate::~Delegate() {
  if (bound_)
    DelegateSlot().Set(nullptr);
}

void RunLoop::Delegate::Bind() {
  DelegateSlot().Set(this);
  bound_ = true;
}

bool RunLoop::Delegate::ShouldQuitWhenIdle() {
  const bool quit = !active_run_loops_.empty() &&
                    active_run_loops_.back()->quit_when_idle_;
  if (quit) {
    KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(
        FlowCategory(), "RunLoop_ExitedOnIdle", kFlowIn,
        LoopFlowId(active_run_loops_.back()), (void)0);
  }
  return quit;
}

RunLoop::TimeoutScope::TimeoutScope(
    Duration timeout, RepeatableCallback<void(const Location&)> on_timeout)
    : timeout_(timeout),
      on_timeout_(std::move(on_timeout)),
      previous_(static_cast<TimeoutScope*>(TimeoutScopeSlot().Get())) {
  TimeoutScopeSlot().Set(this);
}

RunLoop::TimeoutScope::~TimeoutScope() {
  TimeoutScopeSlot().Set(previous_);
}

RunLoop::RunLoop(Kind kind)
    : delegate_(CurrentDelegate()),
      kind_(kind),
      origin_task_runner_(ThreadTaskRunnerHandle::Get()) {}

RunLoop::~RunLoop() = default;

void RunLoop::Run() {
  Run(FROM_HERE);
}

void RunLoop::Run(const Location& location) {
  if (!BeforeRun())
    return;

  // A time-out quits the loop unless Run returns first.
  std::optional<RevocableOneShotClosure> quit_after_timeout;
  const auto* timeout_scope =
      static_cast<const TimeoutScope*>(TimeoutScopeSlot().Get());
  if (timeout_scope != nullptr) {
    quit_after_timeout.emplace(BindOneShot(&RunLoop::QuitAfterTimeout, this,
                                           timeout_scope->on_timeout_,
                                           location));
    origin_task_runner_->PostDelayedTask(
        FROM_HERE, quit_after_timeout->MakeForwarder(),
        timeout_scope->timeout_);
  }

  const bool application_tasks_allowed =
      delegate_->active_run_loops_.size() == 1 ||
      kind_ == Kind::kNestingAllowed;
  delegate_->Run(application_tasks_allowed, Duration::Max());

  AfterRun();
}

void RunLoop::Quit() {
  if (!origin_task_runner_->RunsTasksInCurrentSequence()) {
    // Through a weak pointer: a loop destroyed before the task arrives must
    // not be touched.
    origin_task_runner_->PostTask(
        FROM_HERE, BindOneShot(&RunLoop::Quit, weak_factory_.GetWeakPtr()));
    return;
  }

  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(FlowCategory(), "RunLoop::Quit",
                                       kFlowInOut, LoopFlowId(this), (void)0);
  quit_called_ = true;
  if (running_ && IsInnermost())
    delegate_->Quit();
}

void RunLoop::QuitWhenIdle() {
  if (!origin_task_runner_->RunsTasksInCurrentSequence()) {
    origin_task_runner_->PostTask(
        FROM_HERE,
        BindOneShot(&RunLoop::QuitWhenIdle, weak_factory_.GetWeakPtr()));
    return;
  }

  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(FlowCategory(),
                                       "RunLoop::QuitWhenIdle", kFlowInOut,
                                       LoopFlowId(this), (void)0);
  quit_when_idle_ = true;
}

// static
void RunLoop::AddNestingObserverOnCurrentThread(NestingObserver* observer) {
  Delegate* const delegate = CurrentDelegate();
  if (!delegate) return;
  delegate->nesting_observers_.AddObserver(observer);
}

// static
void RunLoop::RemoveNestingObserverOnCurrentThread(NestingObserver* observer) {
  Delegate* const delegate = CurrentDelegate();
  if (!delegate) return;
  delegate->nesting_observers_.RemoveObserver(observer);
}

bool RunLoop::BeforeRun() {
  if (quit_called_) {
    KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(FlowCategory(), "RunLoop_ExitedEarly",
                                         kFlowIn, LoopFlowId(this), (void)0);
    return false;
  }

  delegate_->active_run_loops_.push_back(this);
  if (delegate_->active_run_loops_.size() >= 2) {
    for (NestingObserver& observer : delegate_->nesting_observers_)
      observer.OnBeginNestedRunLoop();
    if (kind_ == Kind::kNestingAllowed)
      delegate_->EnsureWorkScheduled();
  }
  running_ = true;
  return true;
}

void RunLoop::AfterRun() {
  running_ = false;
  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(FlowCategory(), "RunLoop_Exited",
                                       kFlowIn, LoopFlowId(this), (void)0);

  delegate_->active_run_loops_.pop_back();
  if (delegate_->active_run_loops_.empty())
    return;

  for (NestingObserver& observer : delegate_->nesting_observers_)
    observer.OnExitNestedRunLoop();
  // A Quit that reached the outer loop while this one ran takes effect now.
  if (delegate_->active_run_loops_.back()->quit_called_)
    delegate_->Quit();
}

bool RunLoop::IsInnermost() const {
  return !delegate_->active_run_loops_.empty() &&
         delegate_->active_run_loops_.back() == this;
}

void RunLoop::QuitAfterTimeout(
    const RepeatableCallback<void(const Location&)>& on_timeout,
    const Location& location) {
  Quit();
  on_timeout.Run(location);
}

}  // namespace kelmbase
