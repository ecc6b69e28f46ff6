#ifndef AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_LIBEVENT_H_
#define AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_LIBEVENT_H_

#include <atomic>
#include <memory>

#include "agent/base/message_pump/message_pump.h"
#include "agent/base/message_pump/watchable_io_message_pump_posix.h"

struct event;
struct event_base;

namespace kelmbase {

// The I/O pump: sleeps in a libevent loop. Other threads wake it by writing
// one zero byte to a non-blocking pipe that the loop watches; delayed work is
// a one-shot libevent timer. Wake-ups are coalesced: while one byte is
// pending nothing more is written, and a wake-up drains the pipe.
class MessagePumpLibevent : public MessagePump,
                            public WatchableIOMessagePumpPosix {
 public:
  // Fatal when the event base or the wake-up pipe cannot be made: a pump that
  // cannot be woken would sleep through posted work.
  MessagePumpLibevent();
  ~MessagePumpLibevent() override;

  void Run(Delegate* delegate) override;
  // Ends the innermost Run; wakes the loop in case it is blocked.
  void Quit() override;
  // Any thread: one byte down the wake-up pipe unless a wake-up is already
  // pending. A full pipe already guarantees a wake-up, so that failure is
  // ignored.
  void ScheduleWork() override;

 private:
  struct RunState {
    Delegate* delegate;
    bool should_quit;
  };

  // libevent callbacks.
  static void OnWakeup(int fd, short flags, void* context);
  static void OnTimerFired(int fd, short flags, void* context);

  // The innermost Run's state; null when not running.
  RunState* run_state_ = nullptr;
  // Set by OnWakeup: the last loop pass handled a wake-up.
  bool processed_io_events_ = false;
  // Any thread: a wake-up byte was written and not yet drained.
  std::atomic<bool> wakeup_pending_{false};
  struct event_base* event_base_ = nullptr;
  // Write and read ends of the wake-up pipe.
  int wakeup_pipe_in_ = -1;
  int wakeup_pipe_out_ = -1;
  // Watches the read end.
  std::unique_ptr<struct event> wakeup_event_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_LIBEVENT_H_
