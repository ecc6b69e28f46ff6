#include "agent/base/message_pump/message_pump.h"

#include <atomic>

#include "agent/base/message_pump/message_pump_default.h"
#include "agent/base/message_pump/message_pump_libevent.h"

namespace kelmbase {

namespace {

// One day: the longest a pump sleeps before it asks its delegate again.
constexpr int64_t kMaxPumpSleepMicroseconds = int64_t{86'400'000'000};

std::atomic<MessagePump::UiPumpFactory> g_ui_pump_factory{nullptr};

}  // namespace

void MessagePump::ScheduleDelayedWork(MonotonicTime delayed_work_time) {}

void MessagePump::SetTimerSlack(int32_t timer_slack) {}

// static
std::unique_ptr<MessagePump> MessagePump::Create(MessagePumpType type) {
  switch (type) {
    case MessagePumpType::kDefault:
      return std::make_unique<MessagePumpDefault>();
    case MessagePumpType::kUi: {
      UiPumpFactory factory =
          g_ui_pump_factory.load(std::memory_order_acquire);
      if (factory != nullptr)
        return factory();
      return std::make_unique<MessagePumpLibevent>();
    }
    case MessagePumpType::kCustom:
      return nullptr;
    case MessagePumpType::kIo:
      return std::make_unique<MessagePumpLibevent>();
  }
  return nullptr;
}

// static
void MessagePump::RegisterUiPumpFactory(UiPumpFactory factory) {
  g_ui_pump_factory.store(factory, std::memory_order_release);
}

namespace internal {

Duration PumpSleepDuration(MonotonicTime next_work_time,
                           MonotonicTime recent_now) {
  if (recent_now.is_null())
    recent_now = MonotonicTime::Now();
  // A time already past would give a negative timeout; a saturated or very
  // far one would overflow the timeout types. Both are clamped.
  const Duration delay = next_work_time - recent_now;
  if (delay <= Duration())
    return Duration();
  const Duration max_delay = Duration::FromMicroseconds(kMaxPumpSleepMicroseconds);
  return delay < max_delay ? delay : max_delay;
}

}  // namespace internal

}  // namespace kelmbase
