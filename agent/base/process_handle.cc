#include "agent/base/process_handle.h"

#include <unistd.h>

namespace kelmbase {

ProcessId GetCurrentProcessId() { return getpid(); }

}  // namespace kelmbase
