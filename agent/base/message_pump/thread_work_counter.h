#ifndef AGENT_BASE_MESSAGE_PUMP_THREAD_WORK_COUNTER_H_
#define AGENT_BASE_MESSAGE_PUMP_THREAD_WORK_COUNTER_H_

#include <atomic>
#include <cstdint>

namespace kelmbase {

// A per-thread count of units of work, advanced by the thread's controller
// around each one. Written only by its own thread; 0 means "never advanced"
// and never recurs.
class ThreadWorkCounter {
 public:
  // The calling thread's counter, made (at 0) on first use and freed when
  // the thread exits.
  static ThreadWorkCounter* ForCurrentThread();

  ThreadWorkCounter(const ThreadWorkCounter&) = delete;
  ThreadWorkCounter& operator=(const ThreadWorkCounter&) = delete;

  // Counts one more unit; wraps from the largest value to 1.
  void Advance();

  uint32_t value() const { return value_.load(std::memory_order_acquire); }

 private:
  friend class ThreadWorkCounterPeer;  // Tests set the value directly.

  ThreadWorkCounter() = default;

  std::atomic<uint32_t> value_{0};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_THREAD_WORK_COUNTER_H_
