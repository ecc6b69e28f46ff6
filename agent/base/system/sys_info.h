#ifndef AGENT_BASE_SYSTEM_SYS_INFO_H_
#define AGENT_BASE_SYSTEM_SYS_INFO_H_

namespace kelmbase {

// The number of processors this process may run on: the processors in its
// affinity mask, out of those the system has configured. Computed once per
// process, on the first call (thread-safe), and at least 1.
int GetProcessorCount();

}  // namespace kelmbase

#endif  // AGENT_BASE_SYSTEM_SYS_INFO_H_
