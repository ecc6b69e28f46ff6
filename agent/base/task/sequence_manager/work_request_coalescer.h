#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_REQUEST_COALESCER_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_REQUEST_COALESCER_H_

#include <atomic>
#include <cstdint>
#include <utility>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// Makes sure that however many threads ask for work, at most one wake-up
// reaches the pump while a DoWork is pending or running. One state word:
// whether a pump is bound, whether DoWork runs, whether work was requested.
//
// Threads: RequestWork from any thread; the rest on the bound thread. Every
// change is an acquire-release read-modify-write, so a request made on one
// processor is seen by the DoWork that decides whether to sleep on another,
// also on weakly ordered processors.
class WorkRequestCoalescer {
 public:
  static constexpr uint32_t kInDoWork = 1;
  static constexpr uint32_t kWorkRequested = 2;
  static constexpr uint32_t kBound = 4;

  explicit WorkRequestCoalescer(
      scoped_refptr<AssociatedThreadId> associated_thread)
      : associated_thread_(std::move(associated_thread)) {}
  WorkRequestCoalescer(const WorkRequestCoalescer&) = delete;
  WorkRequestCoalescer& operator=(const WorkRequestCoalescer&) = delete;

  // A pump now exists. True when nothing was requested before; false when
  // work was, so the caller must poke the pump once.
  bool BindToThread() {
    return (state_.fetch_or(kBound, std::memory_order_acq_rel) &
            kWorkRequested) == 0;
  }

  // Any thread. True when nobody needs to poke the pump (no pump yet, or a
  // DoWork is pending or running and will see the work); false when the
  // caller must wake the pump.
  bool RequestWork() {
    return state_.fetch_or(kWorkRequested, std::memory_order_acq_rel) !=
           kBound;
  }

  // Bound, no DoWork running and none requested: the pump sleeps or is
  // about to.
  bool IsBoundAndIdle() const {
    return state_.load(std::memory_order_acquire) == kBound;
  }

  void OnDoWorkStarted() { Set(kBound | kInDoWork); }

  // Requests that arrived during the batch are dropped: the delay query
  // that follows sees their tasks.
  void OnCheckingForMoreWork() { Set(kBound | kInDoWork); }

  // Returns false when DoWork must run again at once (immediate work
  // next, or a request came after the delay query); true when the pump
  // may sleep until the delayed time.
  bool OnDoWorkFinished(bool has_delayed_or_no_work) {
    if (!has_delayed_or_no_work) {
      Set(kBound | kWorkRequested);
      return false;
    }
    const uint32_t previous =
        state_.fetch_and(~kInDoWork, std::memory_order_acq_rel);
    return (previous & kWorkRequested) == 0;
  }

  uint32_t state_for_testing() const {
    return state_.load(std::memory_order_acquire);
  }
  const scoped_refptr<AssociatedThreadId>& associated_thread() const {
    return associated_thread_;
  }

 private:
  // A plain store would do on the bound thread, but an exchange keeps the
  // word's modification order one chain of read-modify-writes with the
  // posters' fetch_or.
  void Set(uint32_t value) {
    state_.exchange(value, std::memory_order_acq_rel);
  }

  std::atomic<uint32_t> state_{0};
  const scoped_refptr<AssociatedThreadId> associated_thread_;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_REQUEST_COALESCER_H_
