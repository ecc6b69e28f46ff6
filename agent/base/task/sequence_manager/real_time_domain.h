#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_REAL_TIME_DOMAIN_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_REAL_TIME_DOMAIN_H_

#include <optional>

#include "agent/base/task/sequence_manager/time_domain.h"
#include "agent/base/time/tick_clock.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// The time domain on the manager's own tick clock; every manager owns one,
// and queues made without a domain use it. Its clock is set when the
// manager registers it.
class RealTimeDomain : public TimeDomain {
 public:
  RealTimeDomain();
  ~RealTimeDomain() override;

  LazyNow CreateLazyNow() const override;
  MonotonicTime Now() const override;
  std::optional<Duration> DelayTillNextTask(LazyNow* lazy_now) override;
  // Real time never jumps: false.
  bool MaybeFastForwardToNextTask(bool quit_when_idle_requested) override;
  const char* GetName() const override;

 protected:
  void OnRegisterWithSequenceManager(
      SequenceManagerImpl* sequence_manager) override;

 private:
  const TickClock* tick_clock_ = nullptr;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_REAL_TIME_DOMAIN_H_
