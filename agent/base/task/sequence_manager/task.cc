#include "agent/base/task/sequence_manager/task.h"

#include <utility>

namespace kelmbase {
namespace sequence_manager {

PostedTask::PostedTask(scoped_refptr<SingleThreadTaskRunner> task_runner,
                       OneShotClosure callback, const Location& location,
                       Duration delay, Nestable nestable, TaskType task_type)
    : callback(std::move(callback)),
      location(location),
      delay(delay),
      nestable(nestable),
      task_type(task_type),
      task_runner(std::move(task_runner)) {}

PostedTask::PostedTask(PostedTask&& other) = default;
PostedTask& PostedTask::operator=(PostedTask&& other) = default;
PostedTask::~PostedTask() = default;

Task::Task(PostedTask&& posted_task, MonotonicTime delayed_run_time,
           internal::EnqueueOrder sequence_order,
           internal::EnqueueOrder enqueue_order, WakeUpResolution resolution)
    : PendingTask(posted_task.location, std::move(posted_task.callback),
                  posted_task.queue_time, delayed_run_time),
      nestable(posted_task.nestable),
      is_high_res(resolution == WakeUpResolution::kHigh),
      task_type(posted_task.task_type),
      task_runner(std::move(posted_task.task_runner)),
      enqueue_order_(enqueue_order) {
  sequence_num = static_cast<int>(static_cast<uint32_t>(sequence_order));
}

Task::Task(Task&& other) = default;
Task& Task::operator=(Task&& other) = default;
Task::~Task() = default;

namespace internal {

Value TaskAsValue(const Task& task, MonotonicTime now) {
  Value state(Value::Type::DICTIONARY);
  state.SetStringKey("posted_from", task.posted_from.ToString());
  if (task.enqueue_order_set())
    state.SetIntKey("enqueue_order", static_cast<int>(task.enqueue_order()));
  state.SetIntKey("sequence_num", task.sequence_num);
  state.SetBoolKey("nestable", task.nestable == Nestable::kNestable);
  state.SetBoolKey("is_high_res", task.is_high_res);
  state.SetBoolKey("is_cancelled", task.task.IsCancelled());
  state.SetDoubleKey("delayed_run_time",
                     task.delayed_run_time.since_origin().InMillisecondsF());
  const Duration from_now = task.delayed_run_time.is_null()
                                ? Duration()
                                : task.delayed_run_time - now;
  state.SetDoubleKey("delayed_run_time_milliseconds_from_now",
                     from_now.InMillisecondsF());
  return state;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
