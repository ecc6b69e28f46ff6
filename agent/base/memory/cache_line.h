#ifndef AGENT_BASE_MEMORY_CACHE_LINE_H_
#define AGENT_BASE_MEMORY_CACHE_LINE_H_

#include <cstddef>

namespace kelmbase {

// The span that processors move between cores as one unit. State that one
// thread writes often is kept on lines apart from what other threads read or
// write, so that neither side keeps stealing the other's lines
// (alignas(kCacheLineSize) on the first member of each).
inline constexpr size_t kCacheLineSize = 64;

}  // namespace kelmbase

#endif  // AGENT_BASE_MEMORY_CACHE_LINE_H_
