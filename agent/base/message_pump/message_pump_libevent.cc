#include "agent/base/message_pump/message_pump_libevent.h"

#include <errno.h>
#include <event.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "logging/check.h"

namespace kelmbase {

MessagePumpLibevent::MessagePumpLibevent() : event_base_(event_base_new()) {
  CHECK(event_base_);

  int fds[2];
  PCHECK(pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0);
  wakeup_pipe_out_ = fds[0];
  wakeup_pipe_in_ = fds[1];

  wakeup_event_ = std::make_unique<struct event>();
  event_set(wakeup_event_.get(), wakeup_pipe_out_, EV_READ | EV_PERSIST,
            &MessagePumpLibevent::OnWakeup, this);
  event_base_set(event_base_, wakeup_event_.get());
  event_add(wakeup_event_.get(), nullptr);
}

MessagePumpLibevent::~MessagePumpLibevent() {
  if (wakeup_event_) {
    event_del(wakeup_event_.get());
    wakeup_event_.reset();
  }
  if (wakeup_pipe_in_ >= 0)
    close(wakeup_pipe_in_);
  if (wakeup_pipe_out_ >= 0)
    close(wakeup_pipe_out_);
  event_base_free(event_base_);
}

void MessagePumpLibevent::Run(Delegate* delegate) {
  RunState run_state{delegate, false};
  RunState* const previous_state = run_state_;
  run_state_ = &run_state;

  // One timer for the whole Run, re-armed for each delayed sleep.
  auto timer_event = std::make_unique<struct event>();

  for (;;) {
    const Delegate::NextWorkInfo next = delegate->DoWork();
    if (run_state.should_quit)
      break;

    // Let libevent dispatch whatever is ready without blocking.
    delegate->BeginWorkItem();
    event_base_loop(event_base_, EVLOOP_NONBLOCK);
    delegate->EndWorkItem();

    if (next.is_immediate()) {
      processed_io_events_ = false;
      if (run_state.should_quit)
        break;
      continue;
    }

    const bool processed_io_events = processed_io_events_;
    processed_io_events_ = false;
    if (processed_io_events || run_state.should_quit) {
      if (run_state.should_quit)
        break;
      continue;
    }

    const bool did_idle_work = delegate->DoIdleWork();
    if (run_state.should_quit)
      break;
    if (did_idle_work)
      continue;

    if (next.next_work_time.is_max()) {
      delegate->BeforeWait();
      event_base_loop(event_base_, EVLOOP_ONCE);
    } else {
      const int64_t delay_us =
          internal::PumpSleepDuration(next.next_work_time, next.recent_now)
              .InMicroseconds();
      struct timeval delay;
      delay.tv_sec = static_cast<time_t>(delay_us / 1'000'000);
      delay.tv_usec = static_cast<suseconds_t>(delay_us % 1'000'000);
      event_set(timer_event.get(), -1, 0, &MessagePumpLibevent::OnTimerFired,
                event_base_);
      event_base_set(event_base_, timer_event.get());
      event_add(timer_event.get(), &delay);
      delegate->BeforeWait();
      event_base_loop(event_base_, EVLOOP_ONCE);
      event_del(timer_event.get());
    }

    if (run_state.should_quit)
      break;
  }

  run_state_ = previous_state;
}

void MessagePumpLibevent::Quit() {
  if (run_state_ != nullptr)
    run_state_->should_quit = true;
  ScheduleWork();
}

void MessagePumpLibevent::ScheduleWork() {
  const char byte = 0;
  while (write(wakeup_pipe_in_, &byte, 1) < 0 && errno == EINTR) {
  }
}

// static
void MessagePumpLibevent::OnWakeup(int fd, short flags, void* context) {
  auto* pump = static_cast<MessagePumpLibevent*>(context);
  char byte;
  while (read(pump->wakeup_pipe_out_, &byte, 1) < 0 && errno == EINTR) {
  }
  pump->processed_io_events_ = true;
  event_base_loopbreak(pump->event_base_);
}

// static
void MessagePumpLibevent::OnTimerFired(int fd, short flags, void* context) {
  event_base_loopbreak(static_cast<struct event_base*>(context));
}

}  // namespace kelmbase
