#include "agent/base/threading/scoped_blocking_call.h"

namespace kelmbase {

ScopedBlockingCall::ScopedBlockingCall(const Location& from_here,
                                       BlockingType blocking_type)
    : BlockingScopeBase(from_here, blocking_type, CallKind::kRegular) {}

ScopedBlockingCall::~ScopedBlockingCall() = default;

ScopedBlockingCallWithBaseSyncPrimitives::
    ScopedBlockingCallWithBaseSyncPrimitives(const Location& from_here,
                                             BlockingType blocking_type)
    : BlockingScopeBase(from_here, blocking_type,
                        CallKind::kBaseSyncPrimitives) {}

ScopedBlockingCallWithBaseSyncPrimitives::
    ~ScopedBlockingCallWithBaseSyncPrimitives() = default;

}  // namespace kelmbase
