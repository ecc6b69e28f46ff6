#include "agent/base/threading/scoped_blocking_call_internal.h"

#include <errno.h>

#include <algorithm>
#include <cstdint>

#include "agent/base/command_line.h"
#include "agent/base/debug/activity_user_data.h"
#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/task_executor.h"
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
    if (CommandLine::IsInitialized() &&
        CommandLine::Current()->HasSwitch("enable-background-thread-pool")) {
      return true;
    }
    return Lock::HandlesMultipleThreadPriorities();
  }();
  return usable;
}

namespace internal {

namespace {

Lock& GetJankLock() {
  static Lock* const lock = new Lock();
  return *lock;
}

// Guarded by the jank lock.
JankReportCallback g_jank_report_callback = nullptr;
JankWindow* g_current_jank_window = nullptr;  // Holds a reference.

}  // namespace

void SetJankReportCallback(JankReportCallback callback) {
  scoped_refptr<JankWindow> dropped;
  ScopedLock locked(GetJankLock());
  g_jank_report_callback = callback;
  if (callback == nullptr && g_current_jank_window != nullptr) {
    // Turned off mid-window: that window is not reported.
    {
      ScopedLock window_locked(g_current_jank_window->lock_);
      g_current_jank_window->canceled_ = true;
    }
    dropped = scoped_refptr<JankWindow>(g_current_jank_window);
    g_current_jank_window->Release();
    g_current_jank_window = nullptr;
  }
  // `dropped` lets go after the jank lock (declared first, destroyed last).
}

JankWindow::MonitoredCall::MonitoredCall()
    : call_start_(MonotonicTime::Now()),
      assigned_window_(MonitorNextJankWindowIfNecessary(call_start_)) {}

JankWindow::MonitoredCall::~MonitoredCall() {
  if (assigned_window_ != nullptr) {
    assigned_window_->OnBlockingCallCompleted(call_start_,
                                              MonotonicTime::Now());
  }
}

void JankWindow::MonitoredCall::Cancel() { assigned_window_ = nullptr; }

// static
scoped_refptr<JankWindow> JankWindow::MonitorNextJankWindowIfNecessary(
    MonotonicTime recent_now) {
  // The window that stops being current is released outside the lock: its
  // report runs then.
  scoped_refptr<JankWindow> previous_current;
  scoped_refptr<JankWindow> result;
  {
    ScopedLock locked(GetJankLock());
    if (g_jank_report_callback == nullptr) return nullptr;
    JankWindow* current = g_current_jank_window;
    if (current != nullptr &&
        current->start_time_ + kMonitoringWindow > recent_now) {
      return scoped_refptr<JankWindow>(current);
    }
    MonotonicTime next_start =
        current != nullptr ? current->start_time_ + kMonitoringWindow
                           : recent_now;
    if (recent_now - next_start > kMaxLateness) {
      // The process did not run for a while (e.g. it was suspended): the
      // late window would describe a minute nobody saw.
      if (current != nullptr) {
        ScopedLock window_locked(current->lock_);
        current->canceled_ = true;
      }
      next_start = recent_now;
    }
    result = MakeRefCounted<JankWindow>(next_start);
    if (current != nullptr) {
      bool canceled;
      {
        ScopedLock window_locked(current->lock_);
        canceled = current->canceled_;
        if (!canceled) current->next_jank_window_ = result;
      }
      previous_current = scoped_refptr<JankWindow>(current);
      current->Release();
    }
    result->AddRef();
    g_current_jank_window = result.get();
  }
  // Rolls the window over on time even without blocking calls, when a
  // process-wide executor is installed (calls that end past a window's end
  // roll it over too).
  const Duration delay =
      kMonitoringWindow - (recent_now - result->start_time_);
  ProcessWideExecutor::PostDelayedTask(
      FROM_HERE, TaskTraits(), BindOneShot([] {
        JankWindow::MonitorNextJankWindowIfNecessary(MonotonicTime::Now());
      }),
      delay);
  return result;
}

JankWindow::JankWindow(MonotonicTime start_time) : start_time_(start_time) {}

JankWindow::~JankWindow() {
  JankReportCallback callback;
  {
    ScopedLock locked(GetJankLock());
    callback = g_jank_report_callback;
  }
  if (canceled_ || callback == nullptr) return;
  int janky_intervals = 0;
  int64_t total_janks = 0;
  for (int64_t count : intervals_jank_count_) {
    if (count > 0) ++janky_intervals;
    total_janks += count;
  }
  callback(janky_intervals, static_cast<int>(std::min<int64_t>(
                                total_janks, INT32_MAX)));
}

void JankWindow::OnBlockingCallCompleted(MonotonicTime call_start,
                                         MonotonicTime call_end) {
  const Duration call_duration = call_end - call_start;
  if (call_duration < kIntervalSize) return;

  // A call that outlived this window makes sure the next window exists
  // and is linked, so its jank can spill over.
  if (call_end >= start_time_ + kMonitoringWindow) {
    MonitorNextJankWindowIfNecessary(call_end);
  }

  // Floor of the offset in whole intervals; the number of janky intervals
  // is the call's length rounded half away from zero.
  const int64_t offset_us = (call_start - start_time_).InMicroseconds();
  const int64_t interval_us = kIntervalSize.InMicroseconds();
  int64_t first = offset_us / interval_us;
  if (offset_us % interval_us < 0) --first;
  const int64_t count =
      (call_duration.InMicroseconds() + interval_us / 2) / interval_us;
  auto clamp32 = [](int64_t value) {
    return static_cast<int>(
        std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
  };
  AddJank(std::max(0, clamp32(first)), clamp32(count));
}

void JankWindow::AddJank(int first_interval, int num_intervals) {
  JankWindow* window = this;
  while (window != nullptr && num_intervals > 0) {
    JankWindow* next = nullptr;
    {
      ScopedLock locked(window->lock_);
      const int end = static_cast<int>(std::min<int64_t>(
          int64_t{first_interval} + num_intervals, kNumIntervals));
      for (int i = first_interval; i < end; ++i) {
        ++window->intervals_jank_count_[i];
      }
      const int64_t remaining =
          int64_t{first_interval} + num_intervals - kNumIntervals;
      if (remaining <= 0) return;
      num_intervals = static_cast<int>(remaining);
      first_interval = 0;
      next = window->next_jank_window_.get();
    }
    window = next;
  }
}

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

  // Background work is allowed to be slow; everything else counts.
  if (CurrentTaskPriority() != kLowestTaskPriority ||
      !BackgroundPriorityUsable()) {
    if (previous_scope_ == nullptr) {
      if (call_kind == CallKind::kRegular &&
          blocking_type == BlockingType::kMayBlock) {
        monitored_call_.emplace();
      }
    } else if ((blocking_type == BlockingType::kWillBlock ||
                call_kind == CallKind::kBaseSyncPrimitives) &&
               previous_scope_->monitored_call_.has_value()) {
      // A sure block inside a possible one: the outer call is not an
      // unexpected slowdown.
      previous_scope_->monitored_call_->Cancel();
    }
  }

  if (blocking_observer_ != nullptr) {
    if (previous_scope_ == nullptr) {
      blocking_observer_->BlockingStarted(blocking_type);
    } else if (blocking_type == BlockingType::kWillBlock &&
               !previous_scope_->is_will_block_) {
      blocking_observer_->BlockingTypeUpgraded();
    }
  }

  // An activity without a record would only get a store that drops every
  // value, at the cost of a heap allocation.
  if (activity_.IsRecorded()) {
    debug::ActivityUserData& user_data = activity_.user_data();
    const int64_t timestamp_us = MonotonicTime::Now().ToInternalValue();
    user_data.Set("timestamp_us", debug::kSignedValueType, &timestamp_us,
                  sizeof(timestamp_us));
    const uint64_t type = static_cast<uint64_t>(blocking_type);
    user_data.Set("blocking_type", debug::kUnsignedValueType, &type,
                  sizeof(type));
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
  // Reporting jank may touch errno too.
  monitored_call_.reset();
  errno = saved_errno;
}

}  // namespace internal
}  // namespace kelmbase
