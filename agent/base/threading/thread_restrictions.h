#ifndef AGENT_BASE_THREADING_THREAD_RESTRICTIONS_H_
#define AGENT_BASE_THREADING_THREAD_RESTRICTIONS_H_

#include "agent/base/location.h"
#include "agent/base/threading/hang_watcher.h"

namespace kelmbase {

// Marks a permitted wait on a synchronisation primitive outside any
// blocking-call scope (e.g. a shutdown that waits for posts in progress).
// Hangs are not reported while it is open.
class ScopedAllowBaseSyncPrimitivesOutsideBlockingScope {
 public:
  explicit ScopedAllowBaseSyncPrimitivesOutsideBlockingScope(
      const Location& from_here);
  ScopedAllowBaseSyncPrimitivesOutsideBlockingScope(
      const ScopedAllowBaseSyncPrimitivesOutsideBlockingScope&) = delete;
  ScopedAllowBaseSyncPrimitivesOutsideBlockingScope& operator=(
      const ScopedAllowBaseSyncPrimitivesOutsideBlockingScope&) = delete;
  ~ScopedAllowBaseSyncPrimitivesOutsideBlockingScope();

 private:
  IgnoreHangsScope ignore_hangs_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_THREAD_RESTRICTIONS_H_
