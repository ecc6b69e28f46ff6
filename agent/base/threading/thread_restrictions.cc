#include "agent/base/threading/thread_restrictions.h"

namespace kelmbase {

ScopedAllowBaseSyncPrimitivesOutsideBlockingScope::
    ScopedAllowBaseSyncPrimitivesOutsideBlockingScope(
        const Location& from_here) {}

ScopedAllowBaseSyncPrimitivesOutsideBlockingScope::
    ~ScopedAllowBaseSyncPrimitivesOutsideBlockingScope() = default;

}  // namespace kelmbase
