#ifndef AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_H_
#define AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_H_

#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call_internal.h"

namespace kelmbase {

// Marks a span of code that may block: file access, or a wait. Open one
// around every blocking call, tagged with the call's Location:
//
//   ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
//   ssize_t n = HANDLE_EINTR(read(fd, buffer, size));
//
// Scopes nest strictly per thread. A scope never changes errno as seen by
// the code after it, so the result of the blocking call can be examined
// once the scope has ended.
class ScopedBlockingCall : public internal::BlockingScopeBase {
 public:
  ScopedBlockingCall(const Location& from_here, BlockingType blocking_type);
  ~ScopedBlockingCall();
};

// The same for waits on the base library's own synchronisation primitives
// (locks, condition variables, events, thread joins).
class ScopedBlockingCallWithBaseSyncPrimitives
    : public internal::BlockingScopeBase {
 public:
  ScopedBlockingCallWithBaseSyncPrimitives(const Location& from_here,
                                           BlockingType blocking_type);
  ~ScopedBlockingCallWithBaseSyncPrimitives();
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_H_
