#include "agent/base/threading/thread_affinity_checker.h"

#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

ThreadAffinityChecker::ThreadAffinityChecker() {
  ScopedLock hold(lock_);
  EnsureBound();
}

bool ThreadAffinityChecker::IsOnBoundThread() const {
  const bool tls_destroyed = ThreadLocalStorage::HasBeenDestroyed();
  ScopedLock hold(lock_);
  if (tls_destroyed) {
    // No tokens or handles can be read any more; only the thread counts.
    if (thread_ == 0) {
      thread_ = pthread_self();
      return true;
    }
    return pthread_equal(thread_, pthread_self()) != 0;
  }
  EnsureBound();
  if (task_token_ == TaskToken::GetForCurrentThread()) return true;
  if (sequence_token_.IsValid() &&
      (sequence_token_ != SequenceToken::GetForCurrentThread() ||
       !ThreadTaskRunnerHandle::IsSet())) {
    return false;
  }
  return pthread_equal(thread_, pthread_self()) != 0;
}

void ThreadAffinityChecker::DetachFromThread() {
  ScopedLock hold(lock_);
  thread_ = 0;
  task_token_ = TaskToken();
  sequence_token_ = SequenceToken();
}

void ThreadAffinityChecker::EnsureBound() const {
  if (thread_ != 0) return;
  thread_ = pthread_self();
  task_token_ = TaskToken::GetForCurrentThread();
  sequence_token_ = SequenceToken::GetForCurrentThread();
}

}  // namespace kelmbase
