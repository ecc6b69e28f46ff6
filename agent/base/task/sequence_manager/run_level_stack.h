#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_RUN_LEVEL_STACK_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_RUN_LEVEL_STACK_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// What a thread controller is doing at each nesting level of its loops:
// idle, selecting the next task, or running one. Leaving and entering idle
// brackets the "ThreadController active" trace event. Bound thread only.
class RunLevelStack {
 public:
  enum State : int32_t { kIdle = 0, kSelectingNextTask = 1, kRunningTask = 2 };

  RunLevelStack() = default;
  RunLevelStack(const RunLevelStack&) = delete;
  RunLevelStack& operator=(const RunLevelStack&) = delete;
  // Every level becomes idle, innermost first.
  ~RunLevelStack();

  void OnRunLoopStarted(State state);
  void OnRunLoopEnded();
  void OnTaskStarted();
  void OnTaskEnded();
  void OnIdle();

  size_t num_run_levels() const { return levels_.size(); }
  // The innermost level; idle when there is none.
  State top() const { return levels_.empty() ? kIdle : levels_.back(); }

 private:
  void Push(State state);
  void Pop();
  void UpdateTop(State state);
  static void Transition(State from, State to);

  std::vector<State> levels_;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_RUN_LEVEL_STACK_H_
