#include "agent/base/pending_task.h"

#include <utility>

namespace kelmbase {

PendingTask::PendingTask() = default;

PendingTask::PendingTask(const Location& posted_from, OneShotClosure task,
                         MonotonicTime queue_time,
                         MonotonicTime delayed_run_time)
    : task(std::move(task)),
      posted_from(posted_from),
      queue_time(queue_time),
      delayed_run_time(delayed_run_time) {}

PendingTask::PendingTask(PendingTask&& other) = default;
PendingTask& PendingTask::operator=(PendingTask&& other) = default;
PendingTask::~PendingTask() = default;

bool PendingTask::operator<(const PendingTask& other) const {
  if (delayed_run_time > other.delayed_run_time)
    return true;
  if (delayed_run_time < other.delayed_run_time)
    return false;
  return sequence_num > other.sequence_num;
}

}  // namespace kelmbase
