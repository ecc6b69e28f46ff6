#ifndef AGENT_BASE_PROCESS_HANDLE_H_
#define AGENT_BASE_PROCESS_HANDLE_H_

#include <sys/types.h>

namespace kelmbase {

using ProcessId = pid_t;

// The id of the calling process (`getpid`).
ProcessId GetCurrentProcessId();

}  // namespace kelmbase

#endif  // AGENT_BASE_PROCESS_HANDLE_H_
