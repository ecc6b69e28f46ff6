#ifndef AGENT_BASE_TASK_TASK_TRAITS_H_
#define AGENT_BASE_TASK_TASK_TRAITS_H_

#include <cstdint>

namespace kelmbase {

// What a poster says about a task when it posts through an executor. The
// only executor in this program runs every task on its thread's one queue
// and ignores them, so the default is the only value in use.
struct TaskTraits {};

// Whether a single-thread runner made by an executor may share its thread
// with other runners. Ignored by the executors here.
enum class SingleThreadTaskRunnerThreadMode : int32_t {
  kShared = 0,
  kDedicated = 1,
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_TASK_TRAITS_H_
