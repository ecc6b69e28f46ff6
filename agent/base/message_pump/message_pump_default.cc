#include "agent/base/message_pump/message_pump_default.h"

namespace kelmbase {

MessagePumpDefault::MessagePumpDefault()
    : event_(WaitableEvent::ResetPolicy::kAutomatic,
             WaitableEvent::InitialState::kNotSignaled) {
  event_.declare_only_used_while_idle();
}

MessagePumpDefault::~MessagePumpDefault() = default;

void MessagePumpDefault::Run(Delegate* delegate) {
  const bool saved_keep_running = keep_running_;
  keep_running_ = true;

  Delegate::NextWorkInfo next = delegate->DoWork();
  while (keep_running_) {
    if (!next.is_immediate()) {
      const bool did_idle_work = delegate->DoIdleWork();
      if (!keep_running_)
        break;
      if (!did_idle_work) {
        if (next.next_work_time.is_max()) {
          event_.Wait();
        } else {
          event_.TimedWait(internal::PumpSleepDuration(next.next_work_time,
                                                       next.recent_now));
        }
      }
    }
    next = delegate->DoWork();
  }

  keep_running_ = saved_keep_running;
}

void MessagePumpDefault::Quit() {
  keep_running_ = false;
}

void MessagePumpDefault::ScheduleWork() {
  event_.Signal();
}

}  // namespace kelmbase
