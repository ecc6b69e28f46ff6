#ifndef AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_INTERNAL_H_
#define AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_INTERNAL_H_

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/location.h"

namespace kelmbase {

// How sure a scope is that its code blocks.
enum class BlockingType {
  // The code may block (e.g. a file read that may hit the page cache).
  kMayBlock = 0,
  // The code will block (e.g. a wait with no time-out).
  kWillBlock = 1,
};

// Task priorities run from 0 (lowest, best effort) to 2 (highest, user
// blocking).
inline constexpr int kLowestTaskPriority = 0;
inline constexpr int kHighestTaskPriority = 2;

// The priority of the task running on the calling thread; the highest when
// none was set.
int CurrentTaskPriority();

// Whether threads of background priority are usable: the command line
// switch "enable-background-thread-pool" says so, or else the platform's
// locks must handle several thread priorities (they don't here). Computed
// once per process.
bool BackgroundPriorityUsable();

namespace internal {

// Sets the calling thread's current task priority for a scope.
class ScopedSetTaskPriorityForCurrentThread {
 public:
  explicit ScopedSetTaskPriorityForCurrentThread(int priority);
  ScopedSetTaskPriorityForCurrentThread(
      const ScopedSetTaskPriorityForCurrentThread&) = delete;
  ScopedSetTaskPriorityForCurrentThread& operator=(
      const ScopedSetTaskPriorityForCurrentThread&) = delete;
  ~ScopedSetTaskPriorityForCurrentThread();

 private:
  void* const previous_;
};

// Told when the calling thread enters and leaves its outermost blocking
// scope. Installed per thread; none is installed in this program.
class BlockingCallObserver {
 public:
  virtual ~BlockingCallObserver() = default;

  // The outermost scope began.
  virtual void BlockingStarted(BlockingType blocking_type) = 0;
  // A nested kWillBlock scope began inside kMayBlock scopes only.
  virtual void BlockingTypeUpgraded() = 0;
  // The outermost scope ended.
  virtual void BlockingEnded() = 0;
};

// Installs `observer` for the calling thread (null removes it). The
// observer must outlive its installation.
void SetBlockingCallObserverForCurrentThread(BlockingCallObserver* observer);

// The part common to both kinds of blocking scope: the per-thread chain of
// active scopes, the observer calls, errno preservation and the activity.
class BlockingScopeBase {
 public:
  BlockingScopeBase(const BlockingScopeBase&) = delete;
  BlockingScopeBase& operator=(const BlockingScopeBase&) = delete;

  // The calling thread's innermost active scope, or null.
  static const BlockingScopeBase* GetCurrentScope();

  bool is_will_block() const { return is_will_block_; }
  const BlockingScopeBase* previous_scope() const { return previous_scope_; }

 protected:
  enum class CallKind { kRegular = 0, kBaseSyncPrimitives = 1 };

  BlockingScopeBase(const Location& from_here, BlockingType blocking_type,
                    CallKind call_kind);
  ~BlockingScopeBase();

 private:
  BlockingCallObserver* const blocking_observer_;
  BlockingScopeBase* const previous_scope_;
  const bool is_will_block_;
  debug::GenericActivityScope activity_;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_INTERNAL_H_
