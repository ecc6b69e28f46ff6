#include "base/scheduling/downcalls.h"

#include <atomic>
#include <map>

#include "absl/base/const_init.h"
#include "absl/base/internal/raw_logging.h"
#include "base/scheduling/per_thread.h"

namespace base {
namespace scheduling {
namespace {

using absl::base_internal::SpinLock;
using absl::base_internal::SpinLockHolder;
using absl::base_internal::ThreadIdentity;

// Threads whose managing slot is set, by their mutex-library identity.
ABSL_CONST_INIT SpinLock g_managed_lock(
    absl::kConstInit, absl::base_internal::SCHEDULE_KERNEL_ONLY);
std::map<ThreadIdentity*, ThreadSchedulingState*>* g_managed = nullptr;
std::atomic<int> g_managed_count{0};

thread_local ThreadSchedulingState* tls_state = nullptr;
thread_local PerThread::ExitNode tls_state_exit;
thread_local PerThread::ExitNode tls_deferred_exit;

void FreeState(void* state) {
  auto* s = static_cast<ThreadSchedulingState*>(state);
  if (s->managing_slot != nullptr) SetManagingSlot(nullptr);
  delete s;
  tls_state = nullptr;
}

void FreeDeferred(void* callbacks) {
  delete static_cast<std::vector<DeferredCallback>*>(callbacks);
  if (tls_state != nullptr) tls_state->deferred = nullptr;
}

// Holds the in-downcall bit for a scope and, when the outermost downcall
// ends, runs the deferred callbacks (newest first) and reports whether a
// reschedule was asked for meanwhile.
class DowncallScope {
 public:
  explicit DowncallScope(ThreadSchedulingState* state)
      : state_(state),
        outermost_((state->flags & ThreadSchedulingState::kInDowncall) == 0) {
    state_->flags |= ThreadSchedulingState::kInDowncall;
  }

  // Returns the managing slot when a reschedule was requested.
  Schedulable* Finish() {
    if (!outermost_) return nullptr;
    Schedulable* result = nullptr;
    if (state_->deferred != nullptr && !state_->deferred->empty() &&
        (state_->flags & ThreadSchedulingState::kRunningDeferred) == 0) {
      state_->flags |= ThreadSchedulingState::kRunningDeferred;
      std::vector<DeferredCallback>* list = state_->deferred;
      while (list != nullptr && !list->empty()) {
        const DeferredCallback callback = list->back();
        list->pop_back();
        callback.function(callback.argument);
      }
    }
    if ((state_->flags & ThreadSchedulingState::kRescheduleRequested) != 0) {
      result = state_->managing_slot;
    }
    state_->flags = 0;
    finished_ = true;
    return result;
  }

  ~DowncallScope() {
    if (outermost_ && !finished_) Finish();
  }

 private:
  ThreadSchedulingState* const state_;
  const bool outermost_;
  bool finished_ = false;
};

// Hands `node`'s waiting chain to its scheduler while budget lasts, then
// walks the tree for a thread to run.
Schedulable* ScheduleStep(ThreadSchedulingState* state, Schedulable* node,
                          bool yield) {
  Schedulable* start = node->kind == Schedulable::kGroup ? node : node->link;
  if (start == nullptr) return nullptr;
  Scheduler* scheduler = start->scheduler;
  while (scheduler->TakeBudget()) {
    bool refused = false;
    for (Schedulable* waiting = scheduler->Waiting(start, nullptr);
         waiting != nullptr; waiting = scheduler->Waiting(start, waiting)) {
      if (!yield) waiting->wakeups.fetch_sub(1, std::memory_order_acq_rel);
      if (!scheduler->HandOff(waiting)) {
        refused = true;
        break;
      }
    }
    if (refused) break;
  }
  Schedulable* current = start;
  Schedulable* chosen = nullptr;
  while (current != nullptr) {
    Schedulable* child = current->scheduler->Pick(current);
    if (child != nullptr) {
      if (child->kind == Schedulable::kThread) {
        chosen = child;
        break;
      }
      current = child;
      continue;
    }
    Schedulable* parent = current->scheduler->Parent(current);
    if (parent != nullptr) {
      current = parent;
      continue;
    }
    // At the top: try again while a pending wake-up can be consumed.
    int pending = current->wakeups.load(std::memory_order_acquire);
    if (pending > 0 && current->wakeups.compare_exchange_strong(
                           pending, pending - 1, std::memory_order_acq_rel)) {
      continue;
    }
    break;
  }
  (void)state;
  return chosen;
}

}  // namespace

ThreadSchedulingState* CurrentThreadState() {
  if (tls_state == nullptr) {
    tls_state = new ThreadSchedulingState();
    tls_state_exit.argument = tls_state;
    PerThread::AtThreadExit(&tls_state_exit, &FreeState);
  }
  return tls_state;
}

ThreadSchedulingState* CurrentThreadStateIfPresent() { return tls_state; }

ThreadSchedulingState* ManagedStateFor(ThreadIdentity* identity) {
  if (g_managed_count.load(std::memory_order_acquire) == 0) return nullptr;
  SpinLockHolder hold(&g_managed_lock);
  if (g_managed == nullptr) return nullptr;
  auto it = g_managed->find(identity);
  return it == g_managed->end() ? nullptr : it->second;
}

void SetManagingSlot(Schedulable* slot) {
  ThreadSchedulingState* state = CurrentThreadState();
  ThreadIdentity* identity =
      absl::base_internal::CurrentThreadIdentityIfPresent();
  {
    SpinLockHolder hold(&state->lock);
    state->managing_slot = slot;
  }
  if (identity == nullptr) return;
  SpinLockHolder hold(&g_managed_lock);
  if (g_managed == nullptr) {
    g_managed = new std::map<ThreadIdentity*, ThreadSchedulingState*>();
  }
  if (slot != nullptr) {
    if (g_managed->emplace(identity, state).second) {
      g_managed_count.fetch_add(1, std::memory_order_release);
    }
  } else if (g_managed->erase(identity) != 0) {
    g_managed_count.fetch_sub(1, std::memory_order_release);
  }
}

Schedulable* Unblock(Schedulable* schedulable, int wakeups) {
  ThreadSchedulingState* state = CurrentThreadState();
  DowncallScope downcall(state);
  Schedulable* result = nullptr;
  Schedulable* node = schedulable;
  int count = wakeups;
  while (node != nullptr) {
    const int before = node->wakeups.fetch_add(count, std::memory_order_acq_rel);
    if (!(before < 0 && before + count >= 0)) break;
    // It stopped waiting: one wake-up goes on up.
    Schedulable* parent = node->scheduler->PropagateToParent(node);
    if (parent == nullptr) {
      result = ScheduleStep(state, node, false);
      break;
    }
    node = parent;
    count = 1;
  }
  if (Schedulable* slot = downcall.Finish()) return slot;
  return result;
}

bool Wake(Schedulable* schedulable) {
  ThreadSchedulingState* state = CurrentThreadState();
  ++state->rescheduling_disabled;
  Schedulable* runnable = Unblock(schedulable, 1);
  --state->rescheduling_disabled;
  if (runnable == nullptr) return false;
  return runnable->scheduler->MakeRunnable(runnable);
}

bool Reschedule(bool yield, absl::Time deadline) {
  ThreadSchedulingState* prev = CurrentThreadState();
  if (prev->pending_wake >= 2) {
    auto* pending = reinterpret_cast<Schedulable*>(prev->pending_wake);
    prev->pending_wake = 1;
    ++prev->rescheduling_disabled;
    Schedulable* runnable = Unblock(pending, 1);
    --prev->rescheduling_disabled;
    if (runnable != nullptr) runnable->scheduler->MakeRunnable(runnable);
  }
  ABSL_RAW_CHECK(prev->managing_slot != Slot::NullSlot(),
                 "Attempt to reschedule without a slot (inside PBR?).");
  Schedulable* slot = prev->managing_slot;
  Scheduler* scheduler = slot->scheduler;
  scheduler->PrepareToReschedule();
  Schedulable* next;
  {
    DowncallScope downcall(prev);
    next = ScheduleStep(prev, slot, yield);
    if (Schedulable* requested = downcall.Finish()) {
      if (next != nullptr && next != requested) {
        next->scheduler->MakeRunnable(next);
      }
      next = requested;
    }
  }
  if (next == slot) return true;
  if (next != nullptr) return scheduler->SwitchTo(next, deadline);
  return scheduler->YieldOrIdle(deadline);
}

std::vector<DeferredCallback>* GetDeferredCallbacks() {
  ThreadSchedulingState* state = CurrentThreadState();
  if (state->deferred == nullptr) {
    state->deferred = new std::vector<DeferredCallback>();
    tls_deferred_exit.argument = state->deferred;
    PerThread::AtThreadExit(&tls_deferred_exit, &FreeDeferred);
  }
  return state->deferred;
}

}  // namespace scheduling
}  // namespace base
