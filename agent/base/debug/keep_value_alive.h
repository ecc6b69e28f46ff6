#ifndef AGENT_BASE_DEBUG_KEEP_VALUE_ALIVE_H_
#define AGENT_BASE_DEBUG_KEEP_VALUE_ALIVE_H_

namespace kelmbase {
namespace debug {

// Does nothing, but passing the address of a local makes the compiler keep
// the value in memory, where a crash dump can see it: the empty asm takes
// the pointer as input and clobbers memory, so no store to the value can be
// optimised away. Header-only so that every library may use it without a
// link dependency.
inline void KeepValueAlive(const void* address) {
  asm volatile("" : : "r"(address) : "memory");
}

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_KEEP_VALUE_ALIVE_H_
