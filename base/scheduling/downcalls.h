#ifndef BASE_SCHEDULING_DOWNCALLS_H_
#define BASE_SCHEDULING_DOWNCALLS_H_

// Scheduling downcalls: what the mutex library's hooks call on a thread that
// a user-level scheduler manages. A thread is managed once its managing slot
// is set; no thread ever is in this program, so the hooks never get here.
//
// Everything works on the calling thread's own state, except Wake, which a
// posting thread calls for another thread's slot.

#include <cstdint>
#include <vector>

#include "absl/base/internal/spinlock.h"
#include "absl/base/internal/thread_identity.h"
#include "absl/time/time.h"
#include "base/scheduling/schedulable.h"

namespace base {
namespace scheduling {

struct DeferredCallback {
  void (*function)(void*);
  void* argument;
};

// What the downcalls keep per thread. The mutex library's thread identity
// has no room for it, so it lives beside the identity.
struct ThreadSchedulingState {
  static constexpr uint32_t kInDowncall = 1u << 0;
  static constexpr uint32_t kRunningDeferred = 1u << 1;
  static constexpr uint32_t kDeferredPending = 1u << 2;
  static constexpr uint32_t kRescheduleRequested = 1u << 3;

  // The schedulable standing for this thread; null when unmanaged. Read by
  // posting threads under `lock`.
  Schedulable* managing_slot = nullptr;
  absl::base_internal::SpinLock lock{
      absl::base_internal::SCHEDULE_KERNEL_ONLY};
  // > 0: the scheduler must not be entered.
  int rescheduling_disabled = 0;
  int blocking_region_nesting = 0;
  uint32_t flags = 0;
  // 0 none, 1 marked, otherwise a Schedulable* to wake.
  uintptr_t pending_wake = 0;
  std::vector<DeferredCallback>* deferred = nullptr;
};

// Stands for "no slot" in checks.
struct Slot {
  static Schedulable* NullSlot() { return nullptr; }
};

// The calling thread's state (made on first use, freed at thread exit).
ThreadSchedulingState* CurrentThreadState();
// The calling thread's state, or null when it never made one; the hooks'
// plain paths use this, so unmanaged threads allocate nothing.
ThreadSchedulingState* CurrentThreadStateIfPresent();
// The state of the thread with `identity` if that thread is managed, else
// null. Cheap when no thread is managed.
ThreadSchedulingState* ManagedStateFor(
    absl::base_internal::ThreadIdentity* identity);
// Makes `slot` the calling thread's managing slot (null: unmanaged).
void SetManagingSlot(Schedulable* slot);

// Gives up the processor to the scheduler (yield) or blocks in it until
// `deadline`. The answer is the scheduler's; true when the thread simply
// continues. Fatal without a managing slot.
bool Reschedule(bool yield, absl::Time deadline);

// Adds `wakeups` to `schedulable`; when it stops waiting, the wake-up goes
// up the tree. Returns a schedulable to make runnable, or null.
Schedulable* Unblock(Schedulable* schedulable, int wakeups);

// One wake-up for `schedulable`, made runnable when that is the outcome.
bool Wake(Schedulable* schedulable);

// The calling thread's deferred callbacks, run when its outermost downcall
// ends. Made on first use; freed at thread exit.
std::vector<DeferredCallback>* GetDeferredCallbacks();

}  // namespace scheduling
}  // namespace base

#endif  // BASE_SCHEDULING_DOWNCALLS_H_
