#ifndef AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_INTERNAL_H_
#define AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_INTERNAL_H_

#include <cstdint>
#include <optional>

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/location.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/time/time.h"

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

// Told once a minute how janky the process was: the number of seconds of
// that minute in which some thread sat in a blocking call of a second or
// more, and the total of such seconds over all threads.
using JankReportCallback = void (*)(int janky_intervals_per_minute,
                                    int total_janks_per_minute);

// Switches I/O jank monitoring on (or off, with null). No report callback
// is installed in this program, so no window ever exists.
void SetJankReportCallback(JankReportCallback callback);

// One minute of jank monitoring, split into 60 one-second intervals. A
// window reports to the callback when the last holder lets go of it: the
// process-wide "current window" pointer and the blocking calls that were
// assigned to it while they ran.
class JankWindow : public RefCountedThreadSafe<JankWindow> {
 public:
  static constexpr Duration kMonitoringWindow = Duration::FromSeconds(60);
  static constexpr Duration kIntervalSize = Duration::FromSeconds(1);
  static constexpr int kNumIntervals = 60;
  // A window that falls due later than this after its predecessor's end
  // (the process slept) is abandoned unreported.
  static constexpr Duration kMaxLateness = Duration::FromMicroseconds(9999999);

  // A blocking call in progress.
  class MonitoredCall {
   public:
    MonitoredCall();
    MonitoredCall(const MonitoredCall&) = delete;
    MonitoredCall& operator=(const MonitoredCall&) = delete;
    ~MonitoredCall();

    // Forgets the window: the call will not count.
    void Cancel();

   private:
    const MonotonicTime call_start_;
    scoped_refptr<JankWindow> assigned_window_;
  };

  // The window that covers `recent_now`, made (and made current) when
  // needed; null while monitoring is off.
  static scoped_refptr<JankWindow> MonitorNextJankWindowIfNecessary(
      MonotonicTime recent_now);

  explicit JankWindow(MonotonicTime start_time);

  // Counts a finished call that began in this window. Calls shorter than a
  // second count nothing; longer ones count their rounded number of
  // seconds, spilling over into the following windows.
  void OnBlockingCallCompleted(MonotonicTime call_start,
                               MonotonicTime call_end);

  MonotonicTime start_time() const { return start_time_; }

 private:
  friend class RefCountedThreadSafe<JankWindow>;
  friend void SetJankReportCallback(JankReportCallback callback);
  ~JankWindow();

  void AddJank(int first_interval, int num_intervals);

  Lock lock_;
  int64_t intervals_jank_count_[kNumIntervals] = {};
  const MonotonicTime start_time_;
  // The window that followed this one; set under the process-wide jank
  // lock before anyone can add jank that spills into it.
  scoped_refptr<JankWindow> next_jank_window_;
  bool canceled_ = false;
};

// The part common to both kinds of blocking scope: the per-thread chain of
// active scopes, the observer calls, errno preservation and the activity.
// When a global activity tracker records the activity, its user data holds
// "timestamp_us" (the scope's start, MonotonicTime in microseconds, as a
// debug::kSignedValueType int64) and "blocking_type" (the BlockingType the
// scope was opened with, as a debug::kUnsignedValueType uint64).
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
  std::optional<JankWindow::MonitoredCall> monitored_call_;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_SCOPED_BLOCKING_CALL_INTERNAL_H_
