#include "agent/base/threading/scoped_blocking_call_internal.h"

#include <errno.h>

#include "agent/base/synchronization/lock.h"
#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {
namespace internal {
namespace {

// Identifies blocking calls among generic activities.
constexpr uint32_t kBlockingCallActivityId = 0x11BE9915;

ThreadLocalStorage::Slot& GetBlockingObserverSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

ThreadLocalStorage::Slot& GetLastBlockingScopeSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

BlockingCallObserver* GetBlockingObserver() {
  return static_cast<BlockingCallObserver*>(GetBlockingObserverSlot().Get());
}

BlockingScopeBase* GetLastBlockingScope() {
  return static_cast<BlockingScopeBase*>(GetLastBlockingScopeSlot().Get());
}

ThreadLocalStorage::Slot& GetTaskPrioritySlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

void SetBlockingCallObserverForCurrentThread(BlockingCallObserver* observer) {
  GetBlockingObserverSlot().Set(observer);
}

const BlockingScopeBase* BlockingScopeBase::GetCurrentScope() {
  return GetLastBlockingScope();
}

ScopedSetTaskPriorityForCurrentThread::ScopedSetTaskPriorityForCurrentThread(
    int priority)
    : previous_(GetTaskPrioritySlot().Get()) {
  // Stored off by one so that "unset" stays distinguishable from 0.
  GetTaskPrioritySlot().Set(reinterpret_cast<void*>(
      static_cast<intptr_t>(priority) + 1));
}

ScopedSetTaskPriorityForCurrentThread::
    ~ScopedSetTaskPriorityForCurrentThread() {
  GetTaskPrioritySlot().Set(previous_);
}

}  // namespace internal

int CurrentTaskPriority() {
  void* stored = internal::GetTaskPrioritySlot().Get();
  if (stored == nullptr) return kHighestTaskPriority;
  return static_cast<int>(reinterpret_cast<intptr_t>(stored) - 1);
}

bool BackgroundPriorityUsable() {
  static const bool usable = [] {
    return Lock::HandlesMultipleThreadPriorities();
  }();
  return usable;
}

namespace internal {

BlockingScopeBase::BlockingScopeBase(const Location& from_here,
                                     BlockingType blocking_type,
                                     CallKind call_kind)
    : blocking_observer_(GetBlockingObserver()),
      previous_scope_(GetLastBlockingScope()),
      is_will_block_(blocking_type == BlockingType::kWillBlock ||
                     (previous_scope_ != nullptr &&
                      previous_scope_->is_will_block_)),
      activity_(from_here.program_counter(), 0, kBlockingCallActivityId, 0) {
  GetLastBlockingScopeSlot().Set(this);
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
  GetLastBlockingScopeSlot().Set(previous_scope_);
  if (previous_scope_ == nullptr && blocking_observer_ != nullptr) {
    blocking_observer_->BlockingEnded();
  }
  errno = saved_errno;
}

}  // namespace internal
}  // namespace kelmbase
