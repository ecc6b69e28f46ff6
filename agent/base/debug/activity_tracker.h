#ifndef AGENT_BASE_DEBUG_ACTIVITY_TRACKER_H_
#define AGENT_BASE_DEBUG_ACTIVITY_TRACKER_H_

// Scopes that mark what a thread is doing (waiting for a lock or an event,
// joining a thread, a generic action) for the activity tracker. This program
// never creates a global activity tracker, so a scope records nothing and
// IsRecorded() is always false; the scopes stay on the hot paths so that a
// tracker, once present, sees every such activity.

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

class Lock;
class WaitableEvent;

namespace debug {

class ActivityScope {
 public:
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;

  // True when a tracker holds a record for this scope.
  bool IsRecorded() const { return false; }

 protected:
  explicit ActivityScope(const void* calling_address) {}
};

class LockAcquireActivityScope : public ActivityScope {
 public:
  LockAcquireActivityScope(const void* calling_address, const Lock* lock)
      : ActivityScope(calling_address) {}
};

class EventWaitActivityScope : public ActivityScope {
 public:
  EventWaitActivityScope(const void* calling_address,
                         const WaitableEvent* event)
      : ActivityScope(calling_address) {}
};

class ThreadJoinActivityScope : public ActivityScope {
 public:
  ThreadJoinActivityScope(const void* calling_address, pthread_t thread)
      : ActivityScope(calling_address) {}
};

class GenericActivityScope : public ActivityScope {
 public:
  GenericActivityScope(const void* calling_address, uint8_t action,
                       uint32_t id, int32_t info)
      : ActivityScope(calling_address) {}
};

// Forces the value at `address` into memory, so that a crash dump of the
// caller's stack shows it although nothing reads it.
inline void KeepValueAlive(const void* address) {
  asm volatile("" : : "r"(address) : "memory");
}

// A named crash-report value. No crash-key back end is ever installed in
// this program, so no key is ever allocated.
class CrashKeyString;

// The back end's key of `name` holding up to `value_size` bytes, or null
// without a back end.
inline CrashKeyString* AllocateCrashKey(const char* name, size_t value_size) {
  return nullptr;
}

// Hands `value` to the back end for `key`; nothing without one or for a
// null key.
inline void SetCrashKeyValue(CrashKeyString* key, StringPiece value) {}

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_ACTIVITY_TRACKER_H_
