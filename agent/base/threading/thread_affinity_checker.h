#ifndef AGENT_BASE_THREADING_THREAD_AFFINITY_CHECKER_H_
#define AGENT_BASE_THREADING_THREAD_AFFINITY_CHECKER_H_

#include <pthread.h>

#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequence_token.h"

namespace kelmbase {

// Remembers the thread (and, where one is set, the task and sequence) it was
// bound to, and tells whether a caller runs there. Bound at construction.
//
// Threads: any; the answer is computed under its own lock.
class ThreadAffinityChecker {
 public:
  ThreadAffinityChecker();
  ThreadAffinityChecker(const ThreadAffinityChecker&) = delete;
  ThreadAffinityChecker& operator=(const ThreadAffinityChecker&) = delete;
  ~ThreadAffinityChecker() = default;

  // True when the caller runs in the bound task, or else on the bound
  // thread (and, when a sequence was bound, in that sequence with a
  // thread runner handle). While the calling thread's TLS is being torn
  // down only the thread decides.
  bool IsOnBoundThread() const;

  // Binds anew to the next caller.
  void DetachFromThread();

 private:
  void EnsureBound() const;

  mutable Lock lock_;
  mutable pthread_t thread_ = 0;
  mutable TaskToken task_token_;
  mutable SequenceToken sequence_token_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_THREAD_AFFINITY_CHECKER_H_
