#ifndef AGENT_BASE_THREADING_THREAD_AFFINITY_CHECKER_H_
#define AGENT_BASE_THREADING_THREAD_AFFINITY_CHECKER_H_

#include <pthread.h>

#include <memory>

#include "agent/base/debug/stack_trace.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequence_token.h"

namespace kelmbase {

// Remembers the thread (and, where one is set, the task and sequence) it was
// bound to, and tells whether a caller runs there. Bound at construction.
//
// When bound-at capture is enabled (it is off unless a program enables it),
// binding also records a 10-frame stack trace of where it happened, so that a
// caller on the wrong thread can report who bound the checker.
//
// Threads: any; the answer is computed under its own lock.
class ThreadAffinityChecker {
 public:
  static constexpr size_t kBoundAtFrames = 10;

  ThreadAffinityChecker();
  ThreadAffinityChecker(const ThreadAffinityChecker&) = delete;
  ThreadAffinityChecker& operator=(const ThreadAffinityChecker&) = delete;
  ~ThreadAffinityChecker();

  // Process-wide: whether checkers bound from now on record where they were
  // bound. Off by default. Any thread; checkers already bound keep what they
  // have.
  static void SetBoundAtCaptureEnabled(bool enabled);
  static bool IsBoundAtCaptureEnabled();

  // True when the caller runs in the bound task, or else on the bound
  // thread (and, when a sequence was bound, in that sequence with a
  // thread runner handle). While the calling thread's TLS is being torn
  // down only the thread decides. When the answer is false,
  // `out_bound_at` is not null and a bound-at trace was recorded,
  // `*out_bound_at` receives a copy of it (otherwise it is left alone).
  bool IsOnBoundThread(
      std::unique_ptr<debug::StackTrace>* out_bound_at = nullptr) const;

  // Binds anew to the next caller, which records its own bound-at trace.
  void DetachFromThread();

 private:
  // Binds to the caller unless bound; call with `lock_` held. Only the
  // thread is bound when `thread_only` (the caller's TLS is gone).
  void EnsureBound(bool thread_only = false) const;

  mutable Lock lock_;
  mutable std::unique_ptr<debug::StackTrace> bound_at_;
  mutable pthread_t thread_ = 0;
  mutable TaskToken task_token_;
  mutable SequenceToken sequence_token_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_THREAD_AFFINITY_CHECKER_H_
