#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_CACHE_LINE_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_CACHE_LINE_H_

#include <cstddef>

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// The span that processors move between cores as one unit. State that
// posting threads write for every task is kept on lines apart from what
// the manager's thread writes, so that neither side keeps stealing the
// other's lines (alignas(kCacheLineSize) on the first member of each).
inline constexpr size_t kCacheLineSize = 64;

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_CACHE_LINE_H_
