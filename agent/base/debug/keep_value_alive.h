#ifndef AGENT_BASE_DEBUG_KEEP_VALUE_ALIVE_H_
#define AGENT_BASE_DEBUG_KEEP_VALUE_ALIVE_H_

namespace kelmbase {
namespace debug {

// Does nothing, out of line. Passing the address of a local makes the
// compiler keep the value in memory, where a crash dump can see it.
void KeepValueAlive(const void* address);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_KEEP_VALUE_ALIVE_H_
