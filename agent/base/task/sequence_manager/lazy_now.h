#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_LAZY_NOW_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_LAZY_NOW_H_

#include <optional>

#include "agent/base/time/tick_clock.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {

// A clock and the time it gave, read at most once: one scheduling step
// passes one LazyNow around so that every part of it sees the same now.
// Single-threaded; the clock must outlive it.
class LazyNow {
 public:
  // Reads `clock` on the first Now().
  explicit LazyNow(const TickClock* clock) : clock_(clock) {}
  // Already holds `now`; Now() reads no clock.
  explicit LazyNow(MonotonicTime now) : now_(now) {}

  LazyNow(LazyNow&& other) = default;
  LazyNow(const LazyNow&) = delete;
  LazyNow& operator=(const LazyNow&) = delete;

  // The cached time, reading the clock the first time.
  MonotonicTime Now() {
    if (!now_) now_ = clock_->Now();
    return *now_;
  }

  // Whether the time is known (read or given).
  bool has_value() const { return now_.has_value(); }

 private:
  const TickClock* clock_ = nullptr;
  std::optional<MonotonicTime> now_;
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_LAZY_NOW_H_
