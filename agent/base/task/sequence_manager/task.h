#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_H_

#include <cstdint>

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/pending_task.h"
#include "agent/base/task/sequence_manager/enqueue_order.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/time/time.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {

// Whether a task may run inside a nested run loop.
enum class Nestable : uint8_t {
  kNonNestable = 0,
  kNestable = 1,
};

// How precisely a delayed wake-up should be honoured.
enum class WakeUpResolution : int32_t {
  kLow = 0,
  kHigh = 1,
};

// A caller-chosen number carried with each task; this program uses 0.
using TaskType = uint8_t;

// A post as it reaches a task queue, before the queue has numbered it.
struct PostedTask {
  PostedTask(scoped_refptr<SingleThreadTaskRunner> task_runner,
             OneShotClosure callback, const Location& location,
             Duration delay = Duration(),
             Nestable nestable = Nestable::kNestable, TaskType task_type = 0);
  PostedTask(PostedTask&& other);
  PostedTask& operator=(PostedTask&& other);
  PostedTask(const PostedTask&) = delete;
  PostedTask& operator=(const PostedTask&) = delete;
  ~PostedTask();

  OneShotClosure callback;
  Location location;
  Duration delay;
  Nestable nestable;
  TaskType task_type;
  // The runner it was posted through; the task keeps it alive while queued.
  scoped_refptr<SingleThreadTaskRunner> task_runner;
  // When it was posted; null unless the queue stamps posting times.
  MonotonicTime queue_time;
};

// A task as a sequence manager queues it: the pending task plus what the
// manager needs to schedule it. Move-only. Destroying it releases the
// runner reference, then the closure (whose bound arguments' destructors
// may run arbitrary code, so containers detach a task before destroying
// it).
struct Task : public PendingTask {
  // Takes the closure, location, queue time, nestability, type and runner
  // from `posted_task`. `sequence_order` becomes the sequence number
  // (truncated to its 32 bits); `enqueue_order` is 0 for a delayed task
  // that is not yet due.
  Task(PostedTask&& posted_task, MonotonicTime delayed_run_time,
       internal::EnqueueOrder sequence_order,
       internal::EnqueueOrder enqueue_order = internal::kNoEnqueueOrder,
       WakeUpResolution resolution = WakeUpResolution::kLow);
  Task(Task&& other);
  Task& operator=(Task&& other);
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task();

  internal::EnqueueOrder enqueue_order() const { return enqueue_order_; }
  void set_enqueue_order(internal::EnqueueOrder enqueue_order) {
    enqueue_order_ = enqueue_order;
  }
  bool enqueue_order_set() const {
    return enqueue_order_ != internal::kNoEnqueueOrder;
  }

  // True when running it would do nothing: no closure (already consumed) or
  // a cancelled one.
  bool IsCancelledOrEmpty() const { return task.IsCancelled(); }

  Nestable nestable = Nestable::kNestable;
  bool is_high_res = false;
  TaskType task_type = 0;
  scoped_refptr<SingleThreadTaskRunner> task_runner;

 private:
  internal::EnqueueOrder enqueue_order_ = internal::kNoEnqueueOrder;
};

namespace internal {

// The diagnostic dump of one task: "posted_from", "enqueue_order" (only
// when set), "sequence_num", "nestable", "is_high_res", "is_cancelled",
// "delayed_run_time" (milliseconds since the clock's origin) and
// "delayed_run_time_milliseconds_from_now" (0 for an immediate task).
Value TaskAsValue(const Task& task, MonotonicTime now);

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_H_
