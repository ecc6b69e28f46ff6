#ifndef AGENT_BASE_SYNCHRONIZATION_LOCK_H_
#define AGENT_BASE_SYNCHRONIZATION_LOCK_H_

#include <pthread.h>

namespace kelmbase {

class ConditionVariable;

// A non-recursive mutex. Acquiring a lock the calling thread already holds,
// releasing one it does not hold, or destroying a held lock are caller
// errors that are not detected.
class Lock {
 public:
  Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock();

  // Blocks until the lock is held. The uncontended case is a single
  // try-lock at the call site; only contention takes the out-of-line path.
  void Acquire() {
    if (pthread_mutex_trylock(&native_handle_) != 0) AcquireContended();
  }
  void Release() { pthread_mutex_unlock(&native_handle_); }
  // Takes the lock only if it is free; true when taken.
  bool Try() { return pthread_mutex_trylock(&native_handle_) == 0; }

  // Whether the lock hands ownership over by priority (priority
  // inheritance). Not on this platform.
  static bool HandlesMultipleThreadPriorities() { return false; }

 private:
  friend class ConditionVariable;

  // Waits for the lock inside a lock-acquire activity scope.
  void AcquireContended();

  pthread_mutex_t native_handle_;
};

// Holds a Lock for the lifetime of the scope.
class ScopedLock {
 public:
  explicit ScopedLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  ~ScopedLock() { lock_.Release(); }

 private:
  Lock& lock_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_SYNCHRONIZATION_LOCK_H_
