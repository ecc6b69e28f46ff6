#include "agent/base/synchronization/lock.h"

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/location.h"

namespace kelmbase {

Lock::Lock() {
  // Default attributes: a plain mutex, neither recursive nor error-checking.
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutex_init(&native_handle_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

Lock::~Lock() { pthread_mutex_destroy(&native_handle_); }

__attribute__((noinline)) void Lock::AcquireContended() {
  debug::LockAcquireActivityScope activity(GetCallerAddress(), this);
  pthread_mutex_lock(&native_handle_);
}

}  // namespace kelmbase
