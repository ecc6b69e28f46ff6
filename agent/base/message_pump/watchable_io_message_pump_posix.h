#ifndef AGENT_BASE_MESSAGE_PUMP_WATCHABLE_IO_MESSAGE_PUMP_POSIX_H_
#define AGENT_BASE_MESSAGE_PUMP_WATCHABLE_IO_MESSAGE_PUMP_POSIX_H_

namespace kelmbase {

// Marks a pump that can watch descriptors. Nothing here watches any, so the
// class carries no operations.
class WatchableIOMessagePumpPosix {
 protected:
  ~WatchableIOMessagePumpPosix() = default;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_WATCHABLE_IO_MESSAGE_PUMP_POSIX_H_
