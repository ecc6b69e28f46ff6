#include "agent/base/task/task_posting_deferral_scope.h"

#include <utility>

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

namespace {

ThreadLocalStorage::Slot& ActiveScopeSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

TaskPostingDeferralScope::TaskPostingDeferralScope() {
  if (ActiveScopeSlot().Get() == nullptr) {
    ActiveScopeSlot().Set(this);
    top_level_ = true;
  }
}

TaskPostingDeferralScope::~TaskPostingDeferralScope() {
  if (!top_level_)
    return;
  ActiveScopeSlot().Set(nullptr);
  // Posting may open scopes of its own; this one is no longer active, so
  // they post directly.
  for (DeferredPost& post : deferred_) {
    post.runner->PostDelayedTask(post.from_here, std::move(post.task),
                                 post.delay);
  }
  deferred_.clear();
}

// static
bool TaskPostingDeferralScope::DeferIfActive(
    scoped_refptr<SequencedTaskRunner> runner, const Location& from_here,
    OneShotClosure& task, Duration delay) {
  auto* active =
      static_cast<TaskPostingDeferralScope*>(ActiveScopeSlot().Get());
  if (active == nullptr)
    return false;
  active->deferred_.push_back(
      DeferredPost{std::move(runner), from_here, std::move(task), delay});
  return true;
}

}  // namespace kelmbase
