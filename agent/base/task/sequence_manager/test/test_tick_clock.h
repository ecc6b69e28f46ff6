#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_TEST_TICK_CLOCK_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_TEST_TICK_CLOCK_H_

#include <atomic>
#include <cstdint>

#include "agent/base/time/tick_clock.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {

// A clock that moves only when told. Any thread may read it.
class TestTickClock : public TickClock {
 public:
  // Starts at an arbitrary non-null time.
  TestTickClock()
      : now_us_(
            (MonotonicTime() + Duration::FromSeconds(1000)).ToInternalValue()) {
  }

  MonotonicTime Now() const override {
    return MonotonicTime::FromInternalValue(
        now_us_.load(std::memory_order_acquire));
  }

  void Advance(Duration delta) {
    now_us_.store((Now() + delta).ToInternalValue(), std::memory_order_release);
  }

  void SetNow(MonotonicTime now) {
    now_us_.store(now.ToInternalValue(), std::memory_order_release);
  }

 private:
  std::atomic<int64_t> now_us_;
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_TEST_TICK_CLOCK_H_
