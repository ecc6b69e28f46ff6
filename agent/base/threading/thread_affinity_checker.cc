#include "agent/base/threading/thread_affinity_checker.h"

#include <atomic>

#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {
namespace {

std::atomic<bool> g_capture_bound_at{false};

}  // namespace

ThreadAffinityChecker::ThreadAffinityChecker() {
  ScopedLock hold(lock_);
  EnsureBound();
}

ThreadAffinityChecker::~ThreadAffinityChecker() = default;

void ThreadAffinityChecker::SetBoundAtCaptureEnabled(bool enabled) {
  g_capture_bound_at.store(enabled, std::memory_order_relaxed);
}

bool ThreadAffinityChecker::IsBoundAtCaptureEnabled() {
  return g_capture_bound_at.load(std::memory_order_relaxed);
}

bool ThreadAffinityChecker::IsOnBoundThread(
    std::unique_ptr<debug::StackTrace>* out_bound_at) const {
  const bool tls_destroyed = ThreadLocalStorage::HasBeenDestroyed();
  ScopedLock hold(lock_);
  bool on_bound_thread;
  if (tls_destroyed) {
    // No tokens or handles can be read any more; only the thread counts.
    if (thread_ == 0) {
      EnsureBound(/*thread_only=*/true);
      return true;
    }
    on_bound_thread = pthread_equal(thread_, pthread_self()) != 0;
  } else {
    EnsureBound();
    if (task_token_ == TaskToken::GetForCurrentThread()) {
      on_bound_thread = true;
    } else if (sequence_token_.IsValid() &&
               (sequence_token_ != SequenceToken::GetForCurrentThread() ||
                !ThreadTaskRunnerHandle::IsSet())) {
      on_bound_thread = false;
    } else {
      on_bound_thread = pthread_equal(thread_, pthread_self()) != 0;
    }
  }
  if (!on_bound_thread && out_bound_at != nullptr && bound_at_ != nullptr) {
    *out_bound_at = std::make_unique<debug::StackTrace>(*bound_at_);
  }
  return on_bound_thread;
}

void ThreadAffinityChecker::DetachFromThread() {
  ScopedLock hold(lock_);
  bound_at_.reset();
  thread_ = 0;
  task_token_ = TaskToken();
  sequence_token_ = SequenceToken();
}

void ThreadAffinityChecker::EnsureBound(bool thread_only) const {
  if (thread_ != 0) return;
  if (IsBoundAtCaptureEnabled()) {
    bound_at_ = std::make_unique<debug::StackTrace>(kBoundAtFrames);
  }
  thread_ = pthread_self();
  if (thread_only) return;
  task_token_ = TaskToken::GetForCurrentThread();
  sequence_token_ = SequenceToken::GetForCurrentThread();
}

}  // namespace kelmbase
