#include "agent/base/task/sequence_manager/real_time_domain.h"

#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_macros.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

RealTimeDomain::RealTimeDomain() = default;
RealTimeDomain::~RealTimeDomain() = default;

void RealTimeDomain::OnRegisterWithSequenceManager(
    SequenceManagerImpl* sequence_manager) {
  TimeDomain::OnRegisterWithSequenceManager(sequence_manager);
  tick_clock_ = sequence_manager->GetTickClock();
}

LazyNow RealTimeDomain::CreateLazyNow() const { return LazyNow(tick_clock_); }

MonotonicTime RealTimeDomain::Now() const { return tick_clock_->Now(); }

std::optional<Duration> RealTimeDomain::DelayTillNextTask(LazyNow* lazy_now) {
  const std::optional<MonotonicTime> next_run_time = NextScheduledRunTime();
  if (!next_run_time) return std::nullopt;
  const MonotonicTime now = lazy_now->Now();
  if (now >= *next_run_time) return Duration();
  const Duration delay = *next_run_time - now;
  KELM_TRACE_EVENT1(trace_event::CategoryRegistry::Builtin(
                        trace_event::CategoryRegistry::kSequenceManager),
                    "RealTimeDomain::DelayTillNextTask", "delay_ms",
                    delay.InMillisecondsF());
  return delay;
}

bool RealTimeDomain::MaybeFastForwardToNextTask(bool quit_when_idle_requested) {
  return false;
}

const char* RealTimeDomain::GetName() const { return "RealTimeDomain"; }

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
