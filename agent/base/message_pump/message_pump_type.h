#ifndef AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_TYPE_H_
#define AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_TYPE_H_

#include <cstdint>

namespace kelmbase {

// The kind of message pump a thread runs, as given to MessagePump::Create.
enum class MessagePumpType : int32_t {
  // Sleeps on a waitable event; for threads that only run tasks.
  kDefault = 0,
  // A UI pump when a factory for one is registered, else an I/O pump.
  kUi = 1,
  // The caller supplies its own pump.
  kCustom = 2,
  // Sleeps in a libevent loop, so the thread can also serve descriptors.
  kIo = 3,
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_TYPE_H_
