#include "agent/base/message_pump/message_pump_libevent.h"

#include <errno.h>
#include <event.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "logging/check.h"

namespace kelmbase {

namespace {

// libevent's default clock on Linux is the coarse monotonic one, whose
// ticks are milliseconds apart, and epoll's time-out counts whole
// milliseconds: a short timer would fire up to a tick late. The precise
// timer reads the ordinary monotonic clock and arms a timer descriptor,
// one more system call per sleep.
struct event_base* NewPreciseEventBase() {
  struct event_config* config = event_config_new();
  CHECK(config);
  event_config_set_flag(config, EVENT_BASE_FLAG_PRECISE_TIMER);
  struct event_base* base = event_base_new_with_config(config);
  event_config_free(config);
  return base;
}

}  // namespace

MessagePumpLibevent::MessagePumpLibevent()
    : event_base_(NewPreciseEventBase()) {
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

    // Let libevent dispatch whatever is ready without blocking. The event
    // base is private to this pump and holds nothing but the wake-up event
    // between sleeps, so a pass can only find a pending wake-up: without
    // one, the pass (a system call) is skipped.
    if (wakeup_pending_.load(std::memory_order_acquire)) {
      delegate->BeginWorkItem();
      event_base_loop(event_base_, EVLOOP_NONBLOCK);
      delegate->EndWorkItem();
    }

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
  // One byte in the pipe wakes the pump as well as many would: while one
  // is pending, later calls write nothing. The plain load keeps the common
  // already-signalled case free of a read-modify-write.
  if (wakeup_pending_.load(std::memory_order_acquire) ||
      wakeup_pending_.exchange(true, std::memory_order_acq_rel)) {
    return;
  }
  const char byte = 0;
  ssize_t written;
  do {
    written = write(wakeup_pipe_in_, &byte, 1);
  } while (written < 0 && errno == EINTR);
  // A full pipe already holds a wake-up. Any other failure wrote nothing:
  // leave the next call free to try again rather than never waking.
  if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
    wakeup_pending_.store(false, std::memory_order_release);
}

// static
void MessagePumpLibevent::OnWakeup(int fd, short flags, void* context) {
  auto* pump = static_cast<MessagePumpLibevent*>(context);
  // Drain first, then clear the flag: a ScheduleWork after the clear
  // writes a fresh byte, so no wake-up is lost. The clear is a
  // read-modify-write so that it reads the latest setter's value, and the
  // DoWork that follows sees the work that setter posted.
  char bytes[64];
  for (;;) {
    const ssize_t got = read(pump->wakeup_pipe_out_, bytes, sizeof(bytes));
    if (got < 0 && errno == EINTR) continue;
    if (got < static_cast<ssize_t>(sizeof(bytes))) break;
  }
  pump->wakeup_pending_.exchange(false, std::memory_order_acq_rel);
  pump->processed_io_events_ = true;
  event_base_loopbreak(pump->event_base_);
}

// static
void MessagePumpLibevent::OnTimerFired(int fd, short flags, void* context) {
  event_base_loopbreak(static_cast<struct event_base*>(context));
}

}  // namespace kelmbase
