#include "agent/base/threading/scoped_blocking_call_internal.h"

#include <errno.h>

namespace kelmbase {
namespace internal {
namespace {

// Identifies blocking calls among generic activities.
constexpr uint32_t kBlockingCallActivityId = 0x11BE9915;

thread_local BlockingCallObserver* g_blocking_observer = nullptr;
thread_local BlockingScopeBase* g_last_blocking_scope = nullptr;

}  // namespace

void SetBlockingCallObserverForCurrentThread(BlockingCallObserver* observer) {
  g_blocking_observer = observer;
}

const BlockingScopeBase* BlockingScopeBase::GetCurrentScope() {
  return g_last_blocking_scope;
}

BlockingScopeBase::BlockingScopeBase(const Location& from_here,
                                     BlockingType blocking_type,
                                     CallKind call_kind)
    : blocking_observer_(g_blocking_observer),
      previous_scope_(g_last_blocking_scope),
      is_will_block_(blocking_type == BlockingType::kWillBlock ||
                     (previous_scope_ != nullptr &&
                      previous_scope_->is_will_block_)),
      activity_(from_here.program_counter(), 0, kBlockingCallActivityId, 0) {
  g_last_blocking_scope = this;
  if (blocking_observer_ == nullptr) return;
  if (previous_scope_ == nullptr) {
    blocking_observer_->BlockingStarted(blocking_type);
  } else if (blocking_type == BlockingType::kWillBlock &&
             !previous_scope_->is_will_block_) {
    blocking_observer_->BlockingTypeUpgraded();
  }
}

BlockingScopeBase::~BlockingScopeBase() {
  // The caller examines errno of the blocking call after the scope ends;
  // nothing done here may change it.
  const int saved_errno = errno;
  errno = 0;
  g_last_blocking_scope = previous_scope_;
  if (previous_scope_ == nullptr && blocking_observer_ != nullptr) {
    blocking_observer_->BlockingEnded();
  }
  errno = saved_errno;
}

}  // namespace internal
}  // namespace kelmbase
