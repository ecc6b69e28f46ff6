#ifndef AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_DEFAULT_H_
#define AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_DEFAULT_H_

#include "agent/base/message_pump/message_pump.h"
#include "agent/base/synchronization/waitable_event.h"

namespace kelmbase {

// The pump of threads that only run tasks: it sleeps on an automatic-reset
// waitable event. A ScheduleWork that arrives while the pump is busy is
// remembered by the event, so the next sleep returns at once.
class MessagePumpDefault : public MessagePump {
 public:
  MessagePumpDefault();
  ~MessagePumpDefault() override;

  void Run(Delegate* delegate) override;
  // Called from inside DoWork on the pump's thread, so it needs no wake-up.
  void Quit() override;
  void ScheduleWork() override;

 private:
  // Whether the innermost Run goes on; each Run saves and restores it.
  bool keep_running_ = true;
  // Signalled by ScheduleWork. Its waits are idle time, not blocking calls.
  WaitableEvent event_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_DEFAULT_H_
