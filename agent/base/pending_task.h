#ifndef AGENT_BASE_PENDING_TASK_H_
#define AGENT_BASE_PENDING_TASK_H_

#include <array>
#include <cstdint>

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// One posted task as the task system carries it from posting to running.
// Movable, not copyable: moving transfers the closure and copies the rest.
struct PendingTask {
  PendingTask();
  // Takes the closure; the posting chain, IPC context and sequence number
  // start zeroed.
  PendingTask(const Location& posted_from, OneShotClosure task,
              MonotonicTime queue_time = MonotonicTime(),
              MonotonicTime delayed_run_time = MonotonicTime());
  PendingTask(PendingTask&& other);
  PendingTask& operator=(PendingTask&& other);
  PendingTask(const PendingTask&) = delete;
  PendingTask& operator=(const PendingTask&) = delete;
  ~PendingTask();

  // Orders a max-heap so that its top is the task that runs first: the
  // earliest delayed run time, ties broken by the lower sequence number.
  // `a < b` when a runs later than b.
  bool operator<(const PendingTask& other) const;

  // The work to run.
  OneShotClosure task;
  // Where it was posted.
  Location posted_from;
  // When it was queued; null when not recorded.
  MonotonicTime queue_time;
  // Earliest time it may run; null for an immediate task.
  MonotonicTime delayed_run_time;
  // The posting chain: the program counter the posting task was posted from,
  // followed by that task's own chain.
  std::array<const void*, 4> task_backtrace = {};
  // Hash and interface name of the IPC message being handled when posted.
  uint32_t ipc_hash = 0;
  const char* ipc_interface_name = nullptr;
  // Order of posting within its queue, assigned by the queue.
  int sequence_num = 0;
  // The posting chain was longer than `task_backtrace` holds.
  bool task_backtrace_overflow = false;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_PENDING_TASK_H_
