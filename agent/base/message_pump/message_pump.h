#ifndef AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_H_
#define AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_H_

#include <cstdint>
#include <memory>

#include "agent/base/message_pump/message_pump_type.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// The loop at the bottom of a thread that runs tasks: it asks its delegate to
// do work, lets it do idle work, and sleeps until more work is scheduled or
// delayed work falls due. Everything but ScheduleWork runs on the pump's own
// thread.
class MessagePump {
 public:
  // What a pump drives (the thread's controller).
  class Delegate {
   public:
    // When the delegate wants DoWork called next.
    struct NextWorkInfo {
      // Null: more work now. Max: no delayed work. Otherwise the time at
      // which delayed work falls due.
      MonotonicTime next_work_time;
      // When the delegate last read the clock; the sleep is measured from
      // here. Null when the delegate did not read it.
      MonotonicTime recent_now;

      bool is_immediate() const { return next_work_time.is_null(); }
    };

    virtual ~Delegate() = default;

    // Runs a batch of work and says when it wants to be called again.
    virtual NextWorkInfo DoWork() = 0;
    // Called before sleeping; returns true when it did work, so the pump must
    // not sleep yet.
    virtual bool DoIdleWork() = 0;
    // Called right before the pump sleeps.
    virtual void BeforeWait() = 0;
    // Bracket native work that the pump runs between DoWork calls.
    virtual void BeginWorkItem() = 0;
    virtual void EndWorkItem() = 0;
  };

  // Makes a UI pump; see RegisterUiPumpFactory.
  using UiPumpFactory = std::unique_ptr<MessagePump> (*)();

  MessagePump() = default;
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;
  virtual ~MessagePump() = default;

  // Runs `delegate` until Quit. Runs may nest; Quit ends the innermost.
  virtual void Run(Delegate* delegate) = 0;
  // Makes the innermost Run return once the current DoWork is done. Called on
  // the pump's thread.
  virtual void Quit() = 0;
  // Any thread: wakes the pump so that it calls DoWork soon.
  virtual void ScheduleWork() = 0;
  // On the pump's thread, with the next delayed run time. The pumps here
  // take that time from DoWork's result instead, so they ignore it.
  virtual void ScheduleDelayedWork(MonotonicTime delayed_work_time);
  // Timer coalescing hint; ignored.
  virtual void SetTimerSlack(int32_t timer_slack);

  // A new pump of the given type; null for kCustom (the caller supplies one).
  static std::unique_ptr<MessagePump> Create(MessagePumpType type);

  // Registers the process-wide factory that Create uses for kUi; null
  // removes it. Without one, kUi gives an I/O pump.
  static void RegisterUiPumpFactory(UiPumpFactory factory);
};

namespace internal {

// How long a pump may sleep for delayed work due at `next_work_time`,
// measured from `recent_now` (or from the clock's now when that is null):
// never negative, and at most one day so that a far or saturated time cannot
// overflow the platform's timeout types.
Duration PumpSleepDuration(MonotonicTime next_work_time,
                           MonotonicTime recent_now);

}  // namespace internal

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_MESSAGE_PUMP_H_
