#ifndef AGENT_BASE_TEST_RECORDING_MESSAGE_PUMP_H_
#define AGENT_BASE_TEST_RECORDING_MESSAGE_PUMP_H_

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "agent/base/message_pump/message_pump.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace test {

// A real pump with counters: how often it was woken (ScheduleWork) and told
// about delayed work, how often its delegate's DoWork ran, and the sleeps
// that DoWork asked for. Made on any thread; counters read from any thread.
class RecordingMessagePump : public MessagePump {
 public:
  explicit RecordingMessagePump(std::unique_ptr<MessagePump> pump)
      : pump_(std::move(pump)) {}

  void Run(Delegate* delegate) override {
    RecordingDelegate recording(delegate, this);
    pump_->Run(&recording);
  }
  void Quit() override { pump_->Quit(); }
  void ScheduleWork() override {
    schedule_work_count_.fetch_add(1, std::memory_order_relaxed);
    pump_->ScheduleWork();
  }
  void ScheduleDelayedWork(MonotonicTime delayed_work_time) override {
    schedule_delayed_work_count_.fetch_add(1, std::memory_order_relaxed);
    pump_->ScheduleDelayedWork(delayed_work_time);
  }

  int schedule_work_count() const {
    return schedule_work_count_.load(std::memory_order_relaxed);
  }
  int schedule_delayed_work_count() const {
    return schedule_delayed_work_count_.load(std::memory_order_relaxed);
  }
  int do_work_count() const {
    return do_work_count_.load(std::memory_order_relaxed);
  }
  // The longest sleep a DoWork asked for with delayed work pending (the
  // next work time minus its recent now); zero when there was none.
  Duration longest_requested_sleep() const {
    ScopedLock hold(lock_);
    return longest_requested_sleep_;
  }

 private:
  class RecordingDelegate : public Delegate {
   public:
    RecordingDelegate(Delegate* delegate, RecordingMessagePump* pump)
        : delegate_(delegate), pump_(pump) {}
    NextWorkInfo DoWork() override {
      pump_->do_work_count_.fetch_add(1, std::memory_order_relaxed);
      NextWorkInfo next = delegate_->DoWork();
      if (!next.is_immediate() && !next.next_work_time.is_max()) {
        ScopedLock hold(pump_->lock_);
        const Duration sleep = next.next_work_time - next.recent_now;
        if (sleep > pump_->longest_requested_sleep_)
          pump_->longest_requested_sleep_ = sleep;
      }
      return next;
    }
    bool DoIdleWork() override { return delegate_->DoIdleWork(); }
    void BeforeWait() override { delegate_->BeforeWait(); }
    void BeginWorkItem() override { delegate_->BeginWorkItem(); }
    void EndWorkItem() override { delegate_->EndWorkItem(); }

   private:
    Delegate* const delegate_;
    RecordingMessagePump* const pump_;
  };

  const std::unique_ptr<MessagePump> pump_;
  std::atomic<int> schedule_work_count_{0};
  std::atomic<int> schedule_delayed_work_count_{0};
  std::atomic<int> do_work_count_{0};
  mutable Lock lock_;
  Duration longest_requested_sleep_;
};

}  // namespace test
}  // namespace kelmbase

#endif  // AGENT_BASE_TEST_RECORDING_MESSAGE_PUMP_H_
