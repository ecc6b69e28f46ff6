#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_SELECT_TASK_OPTION_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_SELECT_TASK_OPTION_H_

namespace kelmbase {
namespace sequence_manager {

// Which work may be selected.
enum class SelectTaskOption {
  kDefault = 0,
  // Only immediate work (while the system is suspended).
  kSkipDelayedTask = 1,
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_SELECT_TASK_OPTION_H_
