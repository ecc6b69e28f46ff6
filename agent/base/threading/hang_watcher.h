#ifndef AGENT_BASE_THREADING_HANG_WATCHER_H_
#define AGENT_BASE_THREADING_HANG_WATCHER_H_

// Hang watching: a watched thread declares a deadline for its current unit
// of work (HangWatchScope) and may declare stretches in which a hang is
// expected and must not be reported (IgnoreHangsScope). A watcher reads the
// thread's HangWatchState word. This program never enables hang watching
// and no thread has a state, so the scopes take no effect; their behaviour
// is fixed all the same so that switching watching on changes nothing else.

#include <atomic>
#include <cstdint>
#include <memory>

#include "agent/base/time/time.h"

namespace kelmbase {

class Lock;

class HangWatching {
 public:
  HangWatching() = delete;

  // Whether hang watching is on for the process. Never in this program.
  static bool IsEnabled();
};

// The hang-watch record of one thread, reached through a thread-local slot.
class HangWatchState {
 public:
  // Bits 0-55 of the word hold the deadline (MonotonicTime microseconds).
  static constexpr uint64_t kDeadlineMask = (uint64_t{1} << 56) - 1;
  // An IgnoreHangsScope is active.
  static constexpr uint64_t kIgnoreHangsScopeActiveBit = uint64_t{1} << 61;
  // Hangs of the current work are ignored.
  static constexpr uint64_t kHangsIgnoredBit = uint64_t{1} << 62;
  // The watcher is capturing this thread's hang.
  static constexpr uint64_t kCaptureInProgressBit = uint64_t{1} << 63;

  // Consulted before each change of the word; returns the word the change
  // is applied to (normally `current` itself).
  class Hook {
   public:
    virtual ~Hook() = default;
    virtual uint64_t BeforeChange(uint64_t current) = 0;
  };

  // Gives the calling thread a state; it is the thread's until the
  // returned object is destroyed (on the same thread).
  static std::unique_ptr<HangWatchState> CreateForCurrentThread();
  // The calling thread's state, or null.
  static HangWatchState* GetForCurrentThread();

  HangWatchState(const HangWatchState&) = delete;
  HangWatchState& operator=(const HangWatchState&) = delete;
  ~HangWatchState();

  uint64_t word() const { return word_.load(std::memory_order_acquire); }
  MonotonicTime deadline() const {
    return MonotonicTime::FromInternalValue(
        static_cast<int64_t>(word() & kDeadlineMask));
  }
  bool IsFlagSet(uint64_t flag) const { return (word() & flag) != 0; }
  int nesting_level() const { return nesting_level_; }

  void SetHook(Hook* hook) { hook_ = hook; }

  // Word changes; each asks the hook first.
  void SetFlags(uint64_t flags);
  void ClearFlags(uint64_t flags);
  // Replaces the deadline, keeping every flag.
  void SetDeadline(MonotonicTime deadline);

  // The watcher's side: marks a capture as in progress or done.
  void SetCaptureInProgress(bool in_progress);

 private:
  friend class HangWatchScope;

  HangWatchState();

  // Applies `change` to the (hooked) word.
  template <typename Change>
  void UpdateWord(Change change);

  std::atomic<uint64_t> word_{0};
  Hook* hook_ = nullptr;
  int nesting_level_ = 0;
};

// The lock a watcher holds while it captures a hang; a scope that ends
// during a capture waits for it.
Lock& GetHangWatcherCaptureLock();

// Declares that the calling thread's work should finish within `timeout`.
// Nests: the innermost deadline applies, and the previous one returns when
// the scope ends.
class HangWatchScope {
 public:
  // The timeout of the per-task scope of the thread controller.
  static constexpr Duration kDefaultHangWatchTime = Duration::FromSeconds(10);

  explicit HangWatchScope(Duration timeout);
  HangWatchScope(const HangWatchScope&) = delete;
  HangWatchScope& operator=(const HangWatchScope&) = delete;
  ~HangWatchScope();

  bool took_effect() const { return took_effect_; }

 private:
  bool took_effect_ = false;
  MonotonicTime previous_deadline_;
  bool set_hangs_ignored_on_exit_ = false;
};

// Declares that hangs of the current work are expected (e.g. a permitted
// wait) and must not be reported.
class IgnoreHangsScope {
 public:
  IgnoreHangsScope();
  IgnoreHangsScope(const IgnoreHangsScope&) = delete;
  IgnoreHangsScope& operator=(const IgnoreHangsScope&) = delete;
  ~IgnoreHangsScope();

  bool took_effect() const { return took_effect_; }

 private:
  bool took_effect_ = false;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_HANG_WATCHER_H_
