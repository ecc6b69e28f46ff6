#ifndef BASE_SCHEDULING_SCHEDULABLE_H_
#define BASE_SCHEDULING_SCHEDULABLE_H_

// The interface a user-level scheduler offers to the scheduling downcalls.
// No scheduler exists in this program; the downcalls are written against
// this interface so that one can be supplied.
//
// Schedulables form a tree: threads (kind kThread) are leaves, groups (kind
// kGroup) hold other schedulables. Each knows its scheduler; the scheduler
// knows the tree.

#include <atomic>

#include "absl/time/time.h"

namespace base {
namespace scheduling {

class Scheduler;

struct Schedulable {
  enum Kind : int { kOther = 0, kGroup = 1, kThread = 2 };

  int kind = kOther;
  // Pending wake-ups; negative while the schedulable waits for some.
  std::atomic<int> wakeups{0};
  Scheduler* scheduler = nullptr;
  // For a thread: the group it runs in, where the schedule step starts.
  Schedulable* link = nullptr;
};

class Scheduler {
 public:
  virtual ~Scheduler() = default;

  // Passes one wake-up of `child` on to its parent; returns the parent, or
  // null when `child` is at the top.
  virtual Schedulable* PropagateToParent(Schedulable* child) = 0;
  // Puts `schedulable` on a processor's run queue. Returns its verdict.
  virtual bool MakeRunnable(Schedulable* schedulable) = 0;
  // Gives up the processor until `deadline` (or a wake-up). False on
  // time-out.
  virtual bool YieldOrIdle(absl::Time deadline) = 0;
  // Hands the processor to `next` until `deadline`. False on time-out.
  virtual bool SwitchTo(Schedulable* next, absl::Time deadline) = 0;
  // The calling thread is about to block in the kernel, and is back.
  virtual void EnterBlockingRegion() = 0;
  virtual void LeaveBlockingRegion() = 0;
  // Called before the schedule step of a reschedule.
  virtual void PrepareToReschedule() = 0;
  // Whether `schedulable` takes a wake-up now.
  virtual bool AcceptsWakeup(Schedulable* schedulable) = 0;

  // The schedule step's operations. Budget: how many hand-offs may still be
  // made in this step (decrement and test). Waiting: the next node of the
  // waiting chain behind `start` after `previous` (null: the first). HandOff:
  // give `node` the processor's turn; false refuses. Pick: the child of
  // `node` to run next, or null. Parent: `node`'s parent, or null at the top.
  virtual bool TakeBudget() = 0;
  virtual Schedulable* Waiting(Schedulable* start, Schedulable* previous) = 0;
  virtual bool HandOff(Schedulable* node) = 0;
  virtual Schedulable* Pick(Schedulable* node) = 0;
  virtual Schedulable* Parent(Schedulable* node) = 0;
};

}  // namespace scheduling
}  // namespace base

#endif  // BASE_SCHEDULING_SCHEDULABLE_H_
