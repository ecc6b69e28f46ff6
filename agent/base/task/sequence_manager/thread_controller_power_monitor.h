#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_POWER_MONITOR_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_POWER_MONITOR_H_

#include <cstdint>

#include "agent/base/power_monitor/power_observer.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// Tells a thread controller whether the system is suspended, so that it can
// skip delayed tasks meanwhile. Acts only while the process-wide switch is
// on (nothing turns it on in this program). While suspended, and when typed
// trace events are written, the suspension shows as the typed slice
// "ThreadController::Suspended" (category "base") on the monitor's own
// track.
//
// Threads: the controller's bound thread. BindToCurrentThread needs the
// thread's runner handle (the power monitor delivers on that sequence).
class ThreadControllerPowerMonitor : public PowerSuspendObserver {
 public:
  ThreadControllerPowerMonitor() = default;
  ThreadControllerPowerMonitor(const ThreadControllerPowerMonitor&) = delete;
  ThreadControllerPowerMonitor& operator=(const ThreadControllerPowerMonitor&) =
      delete;
  // Unregisters.
  ~ThreadControllerPowerMonitor() override;

  // Registers with the power monitor (dropping a previous registration).
  void BindToCurrentThread();
  void Unregister();

  bool IsProcessInPowerSuspendState() const { return is_power_suspended_; }

  // The track of the suspended slice: stable while the monitor lives.
  uint64_t track_id() const;

  // The process-wide switch.
  static void SetEnabled(bool enabled);

  // PowerSuspendObserver:
  void OnSuspend() override;
  void OnResume() override;

 private:
  bool is_power_suspended_ = false;
  bool is_observer_registered_ = false;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_THREAD_CONTROLLER_POWER_MONITOR_H_
